#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace fw {

// Module command codes. The module answers reads of 51 and 75-78 with text, and
// acts on writes of 55 (save the working set) and 54 (reset).
enum class CommandCode : uint8_t {
    Model = 51,
    Reset = 54,
    Save = 55,
    LowPowerMode = 75,
    TxInterval = 76,
    SleepDelay = 77,
    SampleTime = 78,
};

struct CommandInfo {
    CommandCode command;
    std::string_view readFailure;  // empty: never read
    std::string_view writeFailure; // empty: never written
};

inline constexpr std::array<CommandInfo, 7> kCommands{{
    {CommandCode::Model, "Cannot read Model!", ""},
    {CommandCode::TxInterval, "Cannot read TX Interval!", "Cannot write TX Interval!"},
    {CommandCode::SampleTime, "Cannot read Sample Time!", "Cannot write Sample Time!"},
    {CommandCode::SleepDelay, "Cannot read Sleep Delay!", "Cannot write Sleep Delay!"},
    {CommandCode::LowPowerMode, "Cannot read Low Power Mode!", "Cannot write Low Power Mode!"},
    {CommandCode::Save, "", "Cannot Save!"},
    {CommandCode::Reset, "", "Cannot Reset!"},
}};

constexpr const CommandInfo &commandInfo(CommandCode command) {
    for (const CommandInfo &info : kCommands)
        if (info.command == command)
            return info;
    throw std::out_of_range("unknown module command");
}

constexpr uint8_t code(CommandCode command) {
    return static_cast<uint8_t>(command);
}

} // namespace fw
