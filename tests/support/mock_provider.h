#pragma once

#include "data_provider.h"

#include <gmock/gmock.h>

namespace fw::testing {

class MockProvider : public DataProvider {
public:
    MOCK_METHOD(int16_t, OpenConnection, (int32_t arg1, int32_t arg2), (override));
    MOCK_METHOD(void, CloseConnection, (), (override));
    MOCK_METHOD(int32_t, ProbeProvider, (), (override));
    MOCK_METHOD(uint8_t, GetBaseChannel, (int32_t arg1), (override));
    MOCK_METHOD(void, SetBaseChannel, (int32_t arg1, uint8_t channel), (override));
    MOCK_METHOD(void, PairModule,
                (int32_t arg1, int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId,
                 int32_t &extra),
                (override));
    MOCK_METHOD(int16_t, WriteModuleCommand,
                (uint8_t arg1, uint32_t moduleId, uint8_t command, const std::string &payload),
                (override));
    MOCK_METHOD(int16_t, ReadModuleCommand,
                (uint8_t arg1, uint32_t moduleId, uint8_t command, std::string &value), (override));
};

} // namespace fw::testing
