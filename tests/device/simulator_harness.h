#pragma once

#include "dataprovider_abi.h"
#include "fwsim.h"
#include "sim_environment.h"

#include <gtest/gtest.h>
#include <string>

namespace fw::testing {

// Drives the simulator straight through its ABI, the way the loader does.
class SimulatorTest : public ::testing::Test {
protected:
    void TearDown() override { zdp_destroy(dp); }

    void create() { ASSERT_EQ(zdp_create(&dp), 0) << zdp_error_text(nullptr); }

    void createAndOpen() {
        ASSERT_NO_FATAL_FAILURE(create());
        int16_t flag = -1;
        ASSERT_EQ(zdp_open_connection(dp, 0, 0, &flag), 0) << zdp_error_text(dp);
        ASSERT_EQ(flag, 0);
    }

    uint32_t pair(int32_t channelMode = 1) {
        uint32_t id = 0xDEAD;
        int32_t extra = 0;
        int32_t result = 0;
        EXPECT_EQ(zdp_pair_module(dp, 1, channelMode, 10, &id, &extra, &result), 0)
            << zdp_error_text(dp);
        return id;
    }

    uint8_t baseChannel() {
        uint8_t channel = 0;
        EXPECT_EQ(zdp_get_base_channel(dp, 1, &channel), 0) << zdp_error_text(dp);
        return channel;
    }

    struct Answer {
        int16_t flag;
        std::string bytes;
    };

    Answer read(uint32_t id, uint8_t command) {
        std::string buffer(ZDP_MIN_READ_CAPACITY, 'x');
        size_t length = 0;
        int16_t flag = -1;
        EXPECT_EQ(zdp_read_module_command(dp, 1, id, command, buffer.data(), buffer.size(), &length,
                                          &flag),
                  0)
            << zdp_error_text(dp);
        buffer.resize(length);
        return {flag, buffer};
    }

    // The text before the first NUL, as the program keeps it.
    std::string readText(uint32_t id, uint8_t command) {
        const Answer answer = read(id, command);
        EXPECT_EQ(answer.flag, 0);
        return answer.bytes.substr(0, answer.bytes.find('\0'));
    }

    int16_t writeRaw(uint32_t id, uint8_t command, const std::string &payload) {
        int16_t flag = -1;
        EXPECT_EQ(
            zdp_write_module_command(dp, 1, id, command, payload.data(), payload.size(), &flag), 0)
            << zdp_error_text(dp);
        return flag;
    }

    int16_t write(uint32_t id, uint8_t command, const std::string &value) {
        return writeRaw(id, command, value + std::string(2, '\0'));
    }

    static std::string moduleValue(uint32_t id, uint8_t command, bool saved) {
        char buffer[64] = {};
        EXPECT_GE(fwsim_module_value(id, command, saved ? 1 : 0, buffer, sizeof buffer), 0);
        return buffer;
    }

    SimEnvironment env;
    zdp_provider *dp = nullptr;
};

} // namespace fw::testing
