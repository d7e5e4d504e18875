#include "simulator_harness.h"

#include <random>
#include <vector>

namespace fw::testing {
namespace {

constexpr unsigned char kGuard = 0xCD;
constexpr size_t kGuardSize = 64;

// A buffer of the asked capacity with guard bytes on both sides.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t capacity)
        : capacity_(capacity), bytes_(kGuardSize + capacity + kGuardSize, kGuard) {}

    char *data() { return reinterpret_cast<char *>(bytes_.data() + kGuardSize); }

    bool guardsIntact() const {
        for (size_t i = 0; i < kGuardSize; ++i)
            if (bytes_[i] != kGuard || bytes_[kGuardSize + capacity_ + i] != kGuard)
                return false;
        return true;
    }

private:
    size_t capacity_;
    std::vector<unsigned char> bytes_;
};

class SimulatorFuzz : public SimulatorTest {
protected:
    std::mt19937 random{20240611};

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    uint8_t command() {
        static constexpr uint8_t kKnown[] = {51, 54, 55, 75, 76, 77, 78};
        return pick(0, 3) == 0 ? static_cast<uint8_t>(pick(0, 255))
                               : kKnown[pick(0, std::size(kKnown) - 1)];
    }

    uint32_t moduleId() {
        switch (pick(0, 3)) {
        case 0:
            return 0;
        case 1:
            return static_cast<uint32_t>(random());
        default:
            return fwsim_module_id(pick(0, fwsim_module_count() - 1));
        }
    }

    std::string payload() {
        std::string bytes(static_cast<size_t>(pick(0, 48)), '\0');
        for (char &c : bytes)
            c = pick(0, 2) == 0 ? static_cast<char>(pick(0, 255))
                                : static_cast<char>(pick('0', '9'));
        if (pick(0, 2) != 0)
            bytes.append(2, '\0');
        return bytes;
    }
};

TEST_F(SimulatorFuzz, RandomCallsNeverCrashOrOverrun) {
    env.set("FLEETWRIGHT_SIM_FLEET",
            "1A:RX-LC:1;2B:" + std::string(300, 'M') + ":16:1:2:3:4;3C:RX,IM:8");
    createAndOpen();

    for (int i = 0; i < 4000; ++i) {
        switch (pick(0, 4)) {
        case 0: {
            uint32_t id = static_cast<uint32_t>(random());
            int32_t extra = 0;
            int32_t result = 0;
            const int32_t status =
                zdp_pair_module(dp, pick(-1, 2), pick(-1, 2), pick(-1, 1), &id, &extra, &result);
            ASSERT_TRUE(status == 0 || status == FWSIM_ERR_BAD_ARGUMENT) << status;
            break;
        }
        case 1:
            ASSERT_EQ(zdp_set_base_channel(dp, pick(0, 2), static_cast<uint8_t>(pick(0, 255))), 0);
            break;
        case 2: {
            const std::string bytes = payload();
            int16_t flag = -1;
            ASSERT_EQ(zdp_write_module_command(dp, static_cast<uint8_t>(pick(0, 2)), moduleId(),
                                               command(), bytes.data(), bytes.size(), &flag),
                      0);
            ASSERT_TRUE(flag == 0 || flag == 1);
            break;
        }
        default: {
            const size_t capacity = static_cast<size_t>(pick(0, 320));
            GuardedBuffer buffer(capacity);
            size_t length = 12345;
            int16_t flag = -1;
            ASSERT_EQ(zdp_read_module_command(dp, 1, moduleId(), command(), buffer.data(), capacity,
                                              &length, &flag),
                      0);
            ASSERT_TRUE(buffer.guardsIntact()) << "capacity " << capacity;
            ASSERT_LE(length, capacity);
            ASSERT_TRUE(flag == 0 || flag == 1);
            if (flag != 0) {
                ASSERT_EQ(length, 0u);
            }
            break;
        }
        }
    }

    const int channel = fwsim_base_channel();
    EXPECT_GE(channel, 1);
    EXPECT_LE(channel, 16);
    for (int i = 0; i < fwsim_module_count(); ++i)
        for (const uint8_t code : {75, 76, 77, 78}) {
            const std::string value = moduleValue(fwsim_module_id(i), code, false);
            EXPECT_FALSE(value.empty());
            EXPECT_EQ(value.find_first_of(" \r\n"), std::string::npos);
        }
}

} // namespace
} // namespace fw::testing
