#include "sim_config.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fwsim {

namespace {

constexpr const char *kFleetVar = "FLEETWRIGHT_SIM_FLEET";
constexpr const char *kChannelVar = "FLEETWRIGHT_SIM_CHANNEL";
constexpr const char *kWakeVar = "FLEETWRIGHT_SIM_WAKE_MS";
constexpr const char *kFaultsVar = "FLEETWRIGHT_SIM_FAULTS";
constexpr const char *kLockVar = "FLEETWRIGHT_SIM_LOCK";
constexpr const char *kStateVar = "FLEETWRIGHT_SIM_STATE";

constexpr size_t kMaxModelLength = 4096;
constexpr size_t kMaxValueLength = 32;
constexpr long kMaxWakeMs = 600000;

std::optional<std::string> environment(const char *name) {
    const char *value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

std::string quoted(std::string_view text) {
    return "\"" + escaped(text) + "\"";
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Plain decimal digits only: no sign, no blanks, no base prefix.
std::optional<long> decimal(std::string_view text, long min, long max) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<uint32_t> hexId(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    uint32_t value = 0;
    for (const char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}

bool isPrintable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

ModuleSpec parseModule(std::string_view entry, size_t number) {
    const std::string where =
        std::string(kFleetVar) + ": module " + std::to_string(number) + " " + quoted(entry) + ": ";
    const std::vector<std::string_view> fields = split(entry, ':');
    if (fields.size() != 3 && fields.size() != 7)
        throw SettingError(where +
                           "expected ID:MODEL:CHANNEL or ID:MODEL:CHANNEL:TX:SAMPLE:"
                           "SLEEP:LOWPOWER, found " +
                           std::to_string(fields.size()) + " fields");
    ModuleSpec module;
    const std::optional<uint32_t> id = hexId(fields[0]);
    if (!id || *id == 0)
        throw SettingError(where + "ID " + quoted(fields[0]) +
                           " is not a non-zero hexadecimal number of up to 8 digits");
    module.id = *id;
    const std::string_view model = fields[1];
    if (model.empty() || model.size() > kMaxModelLength ||
        !std::all_of(model.begin(), model.end(), isPrintable))
        throw SettingError(where + "model " + quoted(model) +
                           " is not 1 to 4096 printable characters");
    module.model = std::string(model);
    const std::optional<long> channel = decimal(fields[2], kMinChannel, kMaxChannel);
    if (!channel)
        throw SettingError(where + "radio channel " + quoted(fields[2]) +
                           " is not a number from 1 to 16");
    module.channel = static_cast<uint8_t>(*channel);
    module.parameters = {"1000", "10", "60", "0"};
    if (fields.size() == 7) {
        static constexpr std::array<const char *, 4> kNames{"TX interval", "sample time",
                                                            "sleep delay", "low power mode"};
        for (size_t i = 0; i < kParameterCodes.size(); ++i) {
            if (!isStorableValue(fields[3 + i]))
                throw SettingError(where + kNames[i] + " " + quoted(fields[3 + i]) +
                                   " is not 1 to 32 printable characters without blanks");
            module.parameters[i] = std::string(fields[3 + i]);
        }
    }
    return module;
}

struct FaultName {
    std::string_view name;
    CallFault fault;
};

constexpr std::array<FaultName, 11> kCallFaults{{
    {"create", CallFault::Create},
    {"probe", CallFault::ProbeStatus},
    {"open", CallFault::OpenFlag},
    {"open-status", CallFault::OpenStatus},
    {"close-status", CallFault::CloseStatus},
    {"get-channel-status", CallFault::GetChannelStatus},
    {"set-channel-status", CallFault::SetChannelStatus},
    {"refuse-channel", CallFault::RefuseChannel},
    {"ignore-channel", CallFault::IgnoreChannel},
    {"nopair", CallFault::NoPair},
    {"pair-status", CallFault::PairStatus},
}};

std::string defaultLockPath() {
    if (const std::optional<std::string> runtime = environment("XDG_RUNTIME_DIR"))
        return *runtime + "/fleetwright-simulator.lock";
    return "/tmp/fleetwright-simulator-" + std::to_string(getuid()) + ".lock";
}

// The channel the base station kept from an earlier run; none when there is no such file
// or it holds anything but a channel. A named pipe there must not stall zdp_create.
std::optional<uint8_t> keptChannel(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat status {};
    std::array<char, 8> text{};
    ssize_t got = -1;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
        got = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (got <= 0)
        return std::nullopt;
    std::string_view value(text.data(), static_cast<size_t>(got));
    if (value.ends_with('\n'))
        value.remove_suffix(1);
    const std::optional<long> channel = decimal(value, kMinChannel, kMaxChannel);
    if (!channel)
        return std::nullopt;
    return static_cast<uint8_t>(*channel);
}

} // namespace

std::string escaped(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            shown += c;
            continue;
        }
        static constexpr char kDigits[] = "0123456789abcdef";
        shown += "\\x";
        shown += kDigits[byte >> 4];
        shown += kDigits[byte & 0xF];
    }
    return shown;
}

std::optional<size_t> parameterIndex(uint8_t command) {
    const auto *found = std::find(kParameterCodes.begin(), kParameterCodes.end(), command);
    if (found == kParameterCodes.end())
        return std::nullopt;
    return static_cast<size_t>(found - kParameterCodes.begin());
}

bool isStorableValue(std::string_view value) {
    return !value.empty() && value.size() <= kMaxValueLength &&
           std::all_of(value.begin(), value.end(), [](char c) { return c > 0x20 && c <= 0x7E; });
}

namespace {

std::vector<ModuleSpec> parseFleet(std::string_view text) {
    std::vector<ModuleSpec> fleet;
    size_t number = 0;
    for (const std::string_view entry : split(text, ';')) {
        ++number;
        if (entry.empty())
            throw SettingError(std::string(kFleetVar) + ": module " + std::to_string(number) +
                               " is empty (two ';' in a row, or one at an end)");
        ModuleSpec module = parseModule(entry, number);
        for (const ModuleSpec &other : fleet)
            if (other.id == module.id)
                throw SettingError(std::string(kFleetVar) + ": module " + std::to_string(number) +
                                   " " + quoted(entry) + ": ID " +
                                   quoted(std::string(entry.substr(0, entry.find(':')))) +
                                   " is already used by another module");
        fleet.push_back(std::move(module));
    }
    return fleet;
}

uint8_t parseChannel(std::string_view text) {
    const std::optional<long> channel = decimal(text, kMinChannel, kMaxChannel);
    if (!channel)
        throw SettingError(std::string(kChannelVar) + ": " + quoted(text) +
                           " is not a number from 1 to 16");
    return static_cast<uint8_t>(*channel);
}

std::chrono::milliseconds parseWakeDelay(std::string_view text) {
    const std::optional<long> ms = decimal(text, 0, kMaxWakeMs);
    if (!ms)
        throw SettingError(std::string(kWakeVar) + ": " + quoted(text) +
                           " is not a number of milliseconds from 0 to 600000");
    return std::chrono::milliseconds(*ms);
}

} // namespace

Faults parseFaults(std::string_view text) {
    Faults faults;
    for (const std::string_view raw : split(text, ',')) {
        const std::string_view item = trimmed(raw);
        const std::string where = std::string(kFaultsVar) + ": fault " + quoted(item) + ": ";
        if (item.empty())
            throw SettingError(std::string(kFaultsVar) +
                               ": empty fault (two ',' in a row, or one at an end)");
        const size_t colon = item.find(':');
        if (colon == std::string_view::npos) {
            const auto *found =
                std::find_if(kCallFaults.begin(), kCallFaults.end(),
                             [&](const FaultName &known) { return known.name == item; });
            if (found == kCallFaults.end())
                throw SettingError(where + "unknown fault");
            faults.calls.set(static_cast<size_t>(found->fault));
            continue;
        }
        const std::string_view kind = item.substr(0, colon);
        const std::string_view codeText = item.substr(colon + 1);
        std::bitset<256> *set = kind == "read"           ? &faults.readFlag
                                : kind == "read-status"  ? &faults.readStatus
                                : kind == "write"        ? &faults.writeFlag
                                : kind == "write-status" ? &faults.writeStatus
                                : kind == "clamp"        ? &faults.clamp
                                                         : nullptr;
        if (!set)
            throw SettingError(where + "unknown fault " + quoted(kind) +
                               " (read, read-status, write, write-status or clamp take a code)");
        const std::optional<long> code = decimal(codeText, 0, 255);
        if (!code)
            throw SettingError(where + "command code " + quoted(codeText) +
                               " is not a number from 0 to 255");
        set->set(static_cast<size_t>(*code));
    }
    return faults;
}

namespace {

std::vector<ModuleSpec> defaultFleet() {
    // One module of every supported model, one that answers in lower case, two that
    // the program refuses, and one in low power mode.
    return {
        {0x1A2B3C, "RX-LC", 1, {"1000", "10", "60", "0"}},
        {0x12AB, "GHMTX", 5, {"1000", "10", "60", "0"}},
        {0x2B410, "GH-K410", 2, {"500", "20", "120", "0"}},
        {0x2B520, "GH-K520", 7, {"1000", "10", "60", "0"}},
        {0x3C0001, "RX-VM", 1, {"2000", "50", "300", "0"}},
        {0x3C0002, "RX,IM", 9, {"1000", "10", "60", "0"}},
        {0x3C0003, "RX-RM", 16, {"1000", "10", "60", "0"}},
        {0x3C0004, "RX-TM", 4, {"333", "5", "60", "1"}},
        {0x4D0001, "rx-lc", 1, {"1000", "10", "60", "0"}},
        {0x5E0001, "RX-IM", 3, {"1000", "10", "60", "0"}},
        {0x5E0002, "ZX-9", 1, {"1000", "10", "60", "0"}},
    };
}

} // namespace

Config configFromEnvironment() {
    Config config;
    const std::optional<std::string> fleet = environment(kFleetVar);
    config.fleet = fleet ? parseFleet(*fleet) : defaultFleet();
    if (const std::optional<std::string> wake = environment(kWakeVar))
        config.wakeDelay = parseWakeDelay(*wake);
    if (const std::optional<std::string> faults = environment(kFaultsVar))
        config.faults = parseFaults(*faults);
    config.lockPath = environment(kLockVar).value_or(defaultLockPath());
    config.channelPath = config.lockPath + ".channel";
    if (const std::optional<std::string> channel = environment(kChannelVar))
        config.baseChannel = parseChannel(*channel);
    else
        config.baseChannel = keptChannel(config.channelPath).value_or(kMinChannel);
    config.statePath = environment(kStateVar).value_or("");
    return config;
}

} // namespace fwsim
