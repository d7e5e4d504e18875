#pragma once

// The module protocol as the program speaks it: command codes and their values, the radio
// channels, the pairing window, how a payload ends and how an answer is read. The numbers
// come from dataprovider_abi.h, the contract that device makers build against; the
// program, the checker, the simulator and the manual page's tables all take them from here.

#include "dataprovider_abi.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fw {

enum class CommandCode : uint8_t {
    Model = ZDP_CMD_MODEL,
    Reset = ZDP_CMD_RESET,
    Save = ZDP_CMD_SAVE,
    LowPowerMode = ZDP_CMD_LOW_POWER_MODE,
    TxInterval = ZDP_CMD_TX_INTERVAL,
    SleepDelay = ZDP_CMD_SLEEP_DELAY,
    SampleTime = ZDP_CMD_SAMPLE_TIME,
};

struct CommandInfo {
    CommandCode command;
    std::string_view meaning;      // what the value is, for tables and messages
    std::string_view value;        // the form of the value, for the manual page
    std::string_view readFailure;  // the operator's message when a read fails; empty: never read
    std::string_view writeFailure; // the same for a write; empty: never written
};

// In the order an update uses them: the model, the four parameters, save, reset.
inline constexpr std::array<CommandInfo, 7> kCommands{{
    {CommandCode::Model, "model", "the model name as the module reports it, e.g. RX-LC",
     "Cannot read Model!", ""},
    {CommandCode::TxInterval, "TX interval",
     "ms as a decimal number; the program writes 5 to 60000, e.g. 333 or 7.5",
     "Cannot read TX Interval!", "Cannot write TX Interval!"},
    {CommandCode::SampleTime, "sample time",
     "ms as a decimal number; the program writes 5 to 60000", "Cannot read Sample Time!",
     "Cannot write Sample Time!"},
    {CommandCode::SleepDelay, "sleep delay", "s as a decimal number; the program writes 0 to 3600",
     "Cannot read Sleep Delay!", "Cannot write Sleep Delay!"},
    {CommandCode::LowPowerMode, "low power mode",
     "0 off, any other number on; the program writes 0 or 1", "Cannot read Low Power Mode!",
     "Cannot write Low Power Mode!"},
    {CommandCode::Save, "save the working settings in the module", "empty", "", "Cannot Save!"},
    {CommandCode::Reset, "reset the module", "empty", "", "Cannot Reset!"},
}};

// The four parameters, in the order an update reads and writes them.
inline constexpr std::array<CommandCode, 4> kParameterCommands{
    CommandCode::TxInterval, CommandCode::SampleTime, CommandCode::SleepDelay,
    CommandCode::LowPowerMode};

constexpr const CommandInfo &commandInfo(CommandCode command) {
    for (const CommandInfo &info : kCommands)
        if (info.command == command)
            return info;
    throw std::out_of_range("unknown module command");
}

constexpr uint8_t code(CommandCode command) {
    return static_cast<uint8_t>(command);
}

constexpr bool isRead(const CommandInfo &info) {
    return !info.readFailure.empty();
}

constexpr bool isWritten(const CommandInfo &info) {
    return !info.writeFailure.empty();
}

// The model names the program supports, compared whole after upper-casing. "RX,IM" has a
// comma: the module reports it so, whatever the window's list of modules shows.
inline constexpr std::array<std::string_view, 8> kSupportedModels{
    "RX-LC", "GHMTX", "GH-K410", "GH-K520", "RX-VM", "RX,IM", "RX-RM", "RX-TM",
};

// Radio channels of base station and modules.
inline constexpr uint8_t kChannelMin = ZDP_CHANNEL_MIN;
inline constexpr uint8_t kChannelMax = ZDP_CHANNEL_MAX;
inline constexpr int kChannelCount = kChannelMax - kChannelMin + 1;

constexpr bool isChannel(int channel) {
    return channel >= kChannelMin && channel <= kChannelMax;
}

// The constant first argument of the channel, pairing, read and write calls.
inline constexpr int32_t kBaseStationArg = 1;

// How a pairing treats the module's radio settings.
inline constexpr int32_t kMoveModuleToBaseChannel = 0;
inline constexpr int32_t kKeepModuleChannel = 1;

// The window the operator has to power-cycle a module in.
inline constexpr int32_t kPairingWindowSeconds = ZDP_PAIRING_WINDOW_S;

// The module needs this long after saving before it can be reset.
inline constexpr std::chrono::milliseconds kAfterSave{1000};

// How long a call may take, two limits kept apart. The contract asks a library to answer
// every call within kLibraryCallLimit and pairing within its window plus that; the checker
// holds a library to it. The provider host allows more before it ends the library's
// process: kHostCallDeadline, and pairing its window plus that.
inline constexpr std::chrono::seconds kLibraryCallLimit{ZDP_CALL_LIMIT_S};
inline constexpr std::chrono::seconds kHostCallDeadline{ZDP_HOST_CALL_DEADLINE_S};
constexpr std::chrono::seconds libraryPairingLimit(int32_t windowSeconds) {
    return std::chrono::seconds(windowSeconds) + kLibraryCallLimit;
}
constexpr std::chrono::seconds hostPairingDeadline(int32_t windowSeconds) {
    return std::chrono::seconds(windowSeconds) + kHostCallDeadline;
}

// A written value goes out as its text followed by two NULs.
inline constexpr size_t kPayloadNuls = ZDP_PAYLOAD_NULS;

inline std::string payloadOf(std::string_view value) {
    std::string payload(value);
    payload.append(kPayloadNuls, '\0');
    return payload;
}

// The value a well-formed payload carries; nothing when it does not end with the two
// NULs or holds a NUL before them.
constexpr std::optional<std::string_view> valueOfPayload(std::string_view payload) {
    if (payload.size() < kPayloadNuls ||
        payload.substr(payload.size() - kPayloadNuls).find_first_not_of('\0') !=
            std::string_view::npos)
        return std::nullopt;
    const std::string_view value = payload.substr(0, payload.size() - kPayloadNuls);
    if (value.find('\0') != std::string_view::npos)
        return std::nullopt;
    return value;
}

// An answer is text up to its first NUL; modules pad after it.
constexpr std::string_view answerText(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

} // namespace fw
