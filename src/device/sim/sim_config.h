#pragma once

#include "module_protocol.h"

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fwsim {

// The simulated modules speak the program's protocol from the same header rather than a
// copy of their own, so that the two cannot drift apart.
inline constexpr uint8_t kModelCode = fw::code(fw::CommandCode::Model);
inline constexpr uint8_t kResetCode = fw::code(fw::CommandCode::Reset);
inline constexpr uint8_t kSaveCode = fw::code(fw::CommandCode::Save);
inline constexpr uint8_t kMinChannel = fw::kChannelMin;
inline constexpr uint8_t kMaxChannel = fw::kChannelMax;

// The four parameters a module keeps, in the order an update uses them: TX interval,
// sample time, sleep delay, low power mode.
inline constexpr std::array<uint8_t, fw::kParameterCommands.size()> kParameterCodes{
    fw::code(fw::kParameterCommands[0]), fw::code(fw::kParameterCommands[1]),
    fw::code(fw::kParameterCommands[2]), fw::code(fw::kParameterCommands[3])};
using ParameterValues = std::array<std::string, kParameterCodes.size()>;

std::optional<size_t> parameterIndex(uint8_t command);

// Whether a module stores text as a parameter value: 1 to 32 printable characters,
// no blanks, so that every value fits on one line of the state file.
bool isStorableValue(std::string_view value);

struct ModuleSpec {
    uint32_t id = 0;
    std::string model;
    uint8_t channel = kMinChannel;
    ParameterValues parameters;
};

// Calls that can be made to fail as a whole.
enum class CallFault {
    Create,
    ProbeStatus,
    OpenFlag,
    OpenStatus,
    CloseStatus,
    GetChannelStatus,
    SetChannelStatus,
    RefuseChannel,
    IgnoreChannel,
    NoPair,
    PairStatus,
    Count,
};

struct Faults {
    std::bitset<static_cast<size_t>(CallFault::Count)> calls;
    std::bitset<256> readFlag, readStatus, writeFlag, writeStatus;
    // Writes of these codes are taken, but a number above kClampCeiling is kept as it.
    std::bitset<256> clamp;

    bool has(CallFault fault) const { return calls.test(static_cast<size_t>(fault)); }
};

// What a module with the clamp fault keeps of a larger number, as firmware that holds a
// field to a bound of its own.
inline constexpr double kClampCeiling = 100;
inline constexpr std::string_view kClampCeilingText = "100";

struct Config {
    std::vector<ModuleSpec> fleet;
    uint8_t baseChannel = kMinChannel;
    std::chrono::milliseconds wakeDelay{2000};
    Faults faults;
    std::string lockPath;
    // Where the base station keeps its radio channel from one run to the next, as the
    // hardware does: beside the lock, which names the station.
    std::string channelPath;
    std::string statePath; // empty: no state file
};

// A malformed setting; what() names the variable and the bad part.
class SettingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads every FLEETWRIGHT_SIM_* variable; an empty variable counts as unset.
Config configFromEnvironment();

// The parser of FLEETWRIGHT_SIM_FAULTS, which fwsim_set_faults() takes as well.
Faults parseFaults(std::string_view text);

// Text as an error description quotes it: control bytes as \x01, which a message would
// otherwise show as nothing at all.
std::string escaped(std::string_view text);

} // namespace fwsim
