#include "checks.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace fw::check {

namespace {

using Clock = std::chrono::steady_clock;
using State = Outcome::State;

// The pairing window the program itself uses, and the short one while no module may wake.
constexpr int32_t kPairingWindow = 10;
constexpr int32_t kQuietWindow = 1;
constexpr auto kPairingSlack = std::chrono::seconds(1);
// The program does not clear the ID before pairing, so the library must.
constexpr uint32_t kStaleModuleId = 0x5A5A5A5Au;
// No module is ever paired under this ID while the checker runs without one.
constexpr uint32_t kUnpairedModuleId = 0xFFFFFFFEu;
constexpr int kCreateCycles = 50;
constexpr uint8_t kModelCommand = 51;
constexpr int kLowestChannel = 1;
constexpr int kHighestChannel = 16;

std::string flagAndStatus(int32_t status, int16_t flag) {
    return "status " + std::to_string(status) + ", failure flag " + std::to_string(flag);
}

std::string joined(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : "; ") + item;
    return text;
}

Outcome libraryLoads(const LibraryFacts &) {
    return Outcome::pass(); // the checker gives up with status 2 before this otherwise
}

Outcome versionFirst(Session &s) {
    if (!s.reportedVersion())
        return Outcome::fail("zdp_abi_version is missing",
                             "version " + std::to_string(ZDP_ABI_VERSION), "no such symbol");
    if (*s.reportedVersion() != ZDP_ABI_VERSION)
        return Outcome::fail("the library has another ABI version",
                             "version " + std::to_string(ZDP_ABI_VERSION),
                             "version " + std::to_string(*s.reportedVersion()));
    return Outcome::pass();
}

Outcome symbolsExported(const LibraryFacts &facts) {
    if (facts.missingSymbols.empty())
        return Outcome::pass();
    std::string names;
    for (const std::string &name : facts.missingSymbols)
        names += (names.empty() ? "" : ", ") + name;
    return Outcome::fail("calls are missing", "all twelve calls of dataprovider_abi.h",
                         "missing " + names);
}

Outcome createCycles(Session &s) {
    for (int cycle = 1; cycle <= kCreateCycles; ++cycle) {
        zdp_provider *dp = nullptr;
        if (const int32_t status = s.create(dp); status != 0)
            return Outcome::fail("zdp_create failed on cycle " + std::to_string(cycle), "status 0",
                                 s.describe(status));
        if (!dp)
            return Outcome::fail("zdp_create gave no provider on cycle " + std::to_string(cycle),
                                 "a provider", "NULL");
        s.destroy(dp);
    }
    return Outcome::pass();
}

Outcome destroyNull(Session &s) {
    s.destroy(nullptr);
    return Outcome::pass();
}

Outcome probeSucceeds(Session &s) {
    if (std::optional<Outcome> failed = s.start(false))
        return *failed;
    if (const int32_t status = s.probe(); status != 0)
        return Outcome::fail("zdp_probe_provider failed", "status 0", s.describe(status));
    return Outcome::pass();
}

Outcome openCloseOpen(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    for (const char *which : {"first", "second"})
        if (const int32_t status = s.close(); status != 0)
            return Outcome::fail(std::string("the ") + which + " zdp_close_connection failed",
                                 "status 0", s.describe(status));
    int16_t flag = -1;
    if (const int32_t status = s.open(flag); status != 0 || flag != 0)
        return Outcome::fail("opening again after closing failed", flagAndStatus(0, 0),
                             status != 0 ? s.describe(status) : flagAndStatus(status, flag));
    return Outcome::pass();
}

bool inChannelList(int channel) {
    return channel >= kLowestChannel && channel <= kHighestChannel;
}

Outcome channelInList(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    uint8_t channel = 0;
    if (const int32_t status = s.getChannel(channel); status != 0)
        return Outcome::fail("zdp_get_base_channel failed", "status 0", s.describe(status));
    if (!inChannelList(channel))
        return Outcome::fail("the program's channel list cannot show this channel",
                             "channel 1 to 16", "channel " + std::to_string(channel));
    return Outcome::pass();
}

Outcome channelSetAndRestore(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    uint8_t original = 0;
    if (const int32_t status = s.getChannel(original); status != 0)
        return Outcome::fail("zdp_get_base_channel failed", "status 0", s.describe(status));
    const uint8_t other =
        original >= kLowestChannel && original < kHighestChannel
            ? static_cast<uint8_t>(original + 1)
            : static_cast<uint8_t>(original == kHighestChannel ? kHighestChannel - 1
                                                               : kLowestChannel);
    if (const int32_t status = s.setChannel(other); status != 0)
        return Outcome::fail("zdp_set_base_channel(" + std::to_string(other) + ") failed",
                             "status 0", s.describe(status));
    uint8_t now = 0;
    if (const int32_t status = s.getChannel(now); status != 0)
        return Outcome::fail("reading the channel back failed", "status 0", s.describe(status));
    Outcome taken =
        now == other || now == original
            ? Outcome::pass()
            : Outcome::fail("the channel read back is neither the old nor the new one",
                            "channel " + std::to_string(other) + " or " + std::to_string(original),
                            "channel " + std::to_string(now));
    if (const int32_t status = s.setChannel(original); status != 0)
        return Outcome::fail("restoring channel " + std::to_string(original) + " failed",
                             "status 0", s.describe(status));
    if (const int32_t status = s.getChannel(now); status != 0 || now != original)
        return Outcome::fail("the original channel was not restored",
                             "channel " + std::to_string(original),
                             status != 0 ? s.describe(status) : "channel " + std::to_string(now));
    return taken;
}

// The error text of a refusal is judged by the error-text check, so that one fault fails
// one line.
Outcome unknownModulesRefused(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    for (const uint32_t id : {0u, kUnpairedModuleId}) {
        const Session::Read answer = s.read(id, kModelCommand);
        if (answer.status == 0 && answer.flag == 0)
            return Outcome::fail("a read for module ID " + hexId(id) + " was answered",
                                 "a failure flag or an error status",
                                 flagAndStatus(answer.status, answer.flag));
        int16_t flag = -1;
        const int32_t status = s.write(id, kModelCommand, "", flag);
        if (status == 0 && flag == 0)
            return Outcome::fail("a write for module ID " + hexId(id) + " was taken",
                                 "a failure flag or an error status", flagAndStatus(status, flag));
    }
    return Outcome::pass();
}

Outcome readStaysInCapacity(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    for (const uint32_t id : {0u, kUnpairedModuleId}) {
        const Session::Read answer = s.read(id, kModelCommand);
        if (answer.overrun)
            return Outcome::fail("zdp_read_module_command wrote outside its buffer",
                                 "no byte written outside the " +
                                     std::to_string(ZDP_MIN_READ_CAPACITY) + " given",
                                 "guard bytes changed (module ID " + hexId(id) + ")");
        if (answer.status == 0 && answer.length > ZDP_MIN_READ_CAPACITY)
            return Outcome::fail("zdp_read_module_command reported more than its capacity",
                                 "length at most " + std::to_string(ZDP_MIN_READ_CAPACITY),
                                 "length " + std::to_string(answer.length));
    }
    return Outcome::pass();
}

Outcome errorTexts(const LibraryFacts &facts) {
    if (facts.observations.textFaults.empty())
        return Outcome::pass();
    return Outcome::fail("zdp_error_text broke its contract",
                         "never NULL, empty after success, a description after every error "
                         "status, valid UTF-8",
                         joined(facts.observations.textFaults));
}

Outcome callsAreQuick(const LibraryFacts &facts) {
    if (facts.observations.slowCalls.empty())
        return Outcome::pass();
    return Outcome::fail("calls took too long", "every call but pairing within 1 s",
                         joined(facts.observations.slowCalls));
}

Outcome pairingAloneAnswersZero(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    std::cerr << "Leave every module alone for the next " << kQuietWindow << " s." << std::endl;
    uint32_t id = kStaleModuleId;
    if (const int32_t status = s.pair(1, kQuietWindow, id); status != 0)
        return Outcome::fail("zdp_pair_module failed", "status 0", s.describe(status));
    if (id != 0)
        return Outcome::fail("no module should have paired; an update would go on with module " +
                                 hexId(id),
                             "module ID 0", "module ID " + hexId(id));
    return Outcome::pass();
}

Outcome pairingFindsModule(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    std::cerr << "Power-cycle one module now: the checker waits up to " << kPairingWindow
              << " s for it." << std::endl;
    uint32_t id = 0;
    const Clock::time_point begin = Clock::now();
    const int32_t status = s.pair(1, kPairingWindow, id);
    const Clock::duration took = Clock::now() - begin;
    if (status != 0)
        return Outcome::fail("zdp_pair_module failed", "status 0", s.describe(status));
    if (took > std::chrono::seconds(kPairingWindow) + kPairingSlack)
        return Outcome::fail("pairing overran its window", "an answer within 11 s",
                             std::to_string(std::chrono::duration<double>(took).count()) + " s");
    if (id == 0)
        return Outcome::fail("no module paired within " + std::to_string(kPairingWindow) +
                                 " s: power-cycle the module when the checker asks",
                             "a non-zero module ID", "module ID 0");
    std::cerr << "Paired with module " << hexId(id) << "." << std::endl;
    s.pairedModule = id;
    return Outcome::pass();
}

Outcome modelReads(Session &s) {
    const Session::Read answer = s.read(s.pairedModule, kModelCommand);
    if (answer.status != 0)
        return Outcome::fail("reading the model failed", "status 0", s.describe(answer.status));
    if (answer.flag != 0 || answer.text.empty())
        return Outcome::fail("the module gave no model", "failure flag 0 and a non-empty text",
                             "failure flag " + std::to_string(answer.flag) + ", text \"" +
                                 answer.text + "\"");
    return Outcome::pass();
}

template <uint8_t Command> Outcome numberReads(Session &s) {
    const Session::Read answer = s.read(s.pairedModule, Command);
    if (answer.status != 0)
        return Outcome::fail("the read failed", "status 0", s.describe(answer.status));
    if (answer.flag != 0 || !isDecimalNumber(answer.text))
        return Outcome::fail(
            "the module gave no decimal number", "failure flag 0 and a decimal number",
            "failure flag " + std::to_string(answer.flag) + ", text \"" + answer.text + "\"");
    s.moduleValues[Command] = answer.text;
    return Outcome::pass();
}

template <uint8_t Command> Outcome numberWritesBack(Session &s) {
    const std::string &value = s.moduleValues.at(Command);
    int16_t flag = -1;
    const int32_t status = s.write(s.pairedModule, Command, value, flag);
    if (status != 0)
        return Outcome::fail("the write failed", "status 0", s.describe(status));
    if (flag != 0)
        return Outcome::fail("the module refused its own value \"" + value + "\"", "failure flag 0",
                             "failure flag " + std::to_string(flag));
    return Outcome::pass();
}

using Calls = std::vector<std::string_view>;
const Calls kOpen = {"zdp_open_connection", "zdp_close_connection"};
Calls with(Calls calls, std::initializer_list<std::string_view> more) {
    calls.insert(calls.end(), more);
    return calls;
}

constexpr int kModuleGroup = 1;
constexpr auto kQuietLimit = std::chrono::seconds(kQuietWindow + 5);
constexpr auto kPairingLimit = std::chrono::seconds(kPairingWindow + 5);

const std::vector<Check> kChecks = {
    {.name = "load", .description = "the library loads", .judge = libraryLoads},
    {.name = "version",
     .description = "zdp_abi_version, called before any other call, returns the ABI version",
     .run = versionFirst},
    {.name = "symbols",
     .description = "all twelve calls of the ABI are exported",
     .judge = symbolsExported},
    {.name = "create",
     .description = "50 create/destroy cycles succeed",
     .calls = {"zdp_create", "zdp_destroy"},
     .run = createCycles},
    {.name = "destroy-null",
     .description = "zdp_destroy(NULL) does nothing",
     .calls = {"zdp_destroy"},
     .run = destroyNull},
    {.name = "probe",
     .description = "zdp_probe_provider succeeds",
     .calls = {"zdp_probe_provider"},
     .run = probeSucceeds},
    {.name = "open",
     .description = "zdp_open_connection(0, 0) opens, closing twice is harmless, opening again "
                    "works",
     .calls = kOpen,
     .run = openCloseOpen},
    {.name = "channel-range",
     .description = "the base channel reads back in 1 to 16",
     .calls = with(kOpen, {"zdp_get_base_channel"}),
     .after = {"open"},
     .run = channelInList},
    {.name = "channel-set",
     .description = "setting another base channel takes it or keeps the old one, and the "
                    "original channel is restored",
     .calls = with(kOpen, {"zdp_get_base_channel", "zdp_set_base_channel"}),
     .after = {"open"},
     .run = channelSetAndRestore},
    {.name = "unknown-module",
     .description = "reads and writes for module ID 0 and an unpaired ID are refused with a "
                    "failure flag or an error status",
     .calls = with(kOpen, {"zdp_read_module_command", "zdp_write_module_command"}),
     .after = {"open"},
     .run = unknownModulesRefused},
    {.name = "read-capacity",
     .description = "zdp_read_module_command never writes past its capacity nor reports a "
                    "longer answer",
     .calls = with(kOpen, {"zdp_read_module_command"}),
     .after = {"open"},
     .run = readStaysInCapacity},
    {.name = "module-alone",
     .description = "with every module left alone, pairing in a 1 s window answers module ID 0",
     .needs = Needs::Module,
     .calls = with(kOpen, {"zdp_pair_module"}),
     .after = {"open"},
     .limit = kQuietLimit,
     .run = pairingAloneAnswersZero},
    {.name = "module-pair",
     .description = "a power-cycled module pairs (its radio settings left as they are) within "
                    "the 10 s window plus 1 s, with a non-zero ID",
     .needs = Needs::Module,
     .group = kModuleGroup,
     .calls = with(kOpen, {"zdp_pair_module"}),
     .after = {"open"},
     .limit = kPairingLimit,
     .run = pairingFindsModule},
    {.name = "module-model",
     .description = "command 51 (model) reads as a non-empty text",
     .needs = Needs::Module,
     .group = kModuleGroup,
     .calls = {"zdp_read_module_command"},
     .after = {"module-pair"},
     .run = modelReads},
#define FW_NUMBER_READ(code, what)                                                                 \
    {                                                                                              \
        .name = "module-read-" #code,                                                              \
        .description = "command " #code " (" what ") reads as a decimal number",                   \
        .needs = Needs::Module, .group = kModuleGroup, .calls = {"zdp_read_module_command"},       \
        .after = {"module-pair"}, .run = numberReads<code>                                         \
    }
    FW_NUMBER_READ(75, "low power mode"),
    FW_NUMBER_READ(76, "TX interval"),
    FW_NUMBER_READ(77, "sleep delay"),
    FW_NUMBER_READ(78, "sample time"),
#undef FW_NUMBER_READ
#define FW_NUMBER_WRITE(code, what)                                                                \
    {                                                                                              \
        .name = "module-write-" #code,                                                             \
        .description = "command " #code " (" what ") takes back the value just read",              \
        .needs = Needs::Write, .group = kModuleGroup, .calls = {"zdp_write_module_command"},       \
        .after = {"module-read-" #code}, .run = numberWritesBack<code>                             \
    }
    FW_NUMBER_WRITE(75, "low power mode"),
    FW_NUMBER_WRITE(76, "TX interval"),
    FW_NUMBER_WRITE(77, "sleep delay"),
    FW_NUMBER_WRITE(78, "sample time"),
#undef FW_NUMBER_WRITE
    // Judged last, over the calls of every check before them.
    {.name = "error-text",
     .description = "zdp_error_text is never NULL, is empty after success, describes every "
                    "error status and is valid UTF-8",
     .judge = errorTexts},
    {.name = "timing",
     .description = "every call except pairing returns within 1 s",
     .judge = callsAreQuick},
};

} // namespace

std::span<const Check> allChecks() {
    return kChecks;
}

std::vector<const Check *> selectedChecks(bool module, bool write) {
    std::vector<const Check *> selected;
    for (const Check &check : kChecks) {
        const bool wanted = check.needs == Needs::Nothing ||
                            (check.needs == Needs::Module && module) ||
                            (check.needs == Needs::Write && module && write);
        if (wanted)
            selected.push_back(&check);
    }
    return selected;
}

Outcome createOnce(Session &s) {
    if (std::optional<Outcome> failed = s.start(false))
        return *failed;
    return Outcome::pass();
}

std::string blockedBy(const Check &check, const std::vector<std::string> &missingSymbols,
                      const std::vector<std::pair<std::string_view, State>> &done) {
    for (const std::string_view call : check.calls)
        if (std::find(missingSymbols.begin(), missingSymbols.end(), call) != missingSymbols.end())
            return std::string(call) + " is missing";
    for (const std::string_view name : check.after) {
        const auto found = std::find_if(done.begin(), done.end(),
                                        [name](const auto &entry) { return entry.first == name; });
        if (found == done.end() || found->second != State::Passed)
            return "needs check \"" + std::string(name) + "\" to pass";
    }
    return {};
}

bool isDecimalNumber(std::string_view text) {
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view("0") : text.substr(point + 1);
    const auto digits = [](std::string_view part) {
        return !part.empty() &&
               std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return digits(whole) && digits(fraction);
}

} // namespace fw::check
