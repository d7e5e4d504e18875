#include "checks.h"

#include "module_protocol.h"
#include "number_text.h"
#include "provider_text.h"
#include "update_checks.h"

#include <algorithm>
#include <array>
#include <deque>
#include <iostream>
#include <thread>
#include <utility>

namespace fw::check {

namespace {

using Clock = std::chrono::steady_clock;
using State = Outcome::State;

// The pairing window the program itself uses, and the short one while no module may wake.
constexpr int32_t kPairingWindow = kPairingWindowSeconds;
constexpr int32_t kQuietWindow = 1;
// The program does not clear the ID before pairing, so the library must.
constexpr uint32_t kStaleModuleId = 0x5A5A5A5Au;
// No module is ever paired under this ID while the checker runs without one.
constexpr uint32_t kUnpairedModuleId = 0xFFFFFFFEu;
constexpr int kCreateCycles = 50;
// Pairings the operator gets to bring the module moved to another channel back.
constexpr int kSameModuleTries = 3;
constexpr uint8_t kModelCommand = code(CommandCode::Model);
constexpr int kLowestChannel = kChannelMin;
constexpr int kHighestChannel = kChannelMax;

std::string secondsText(std::chrono::seconds limit) {
    return std::to_string(limit.count()) + " s";
}

// "all twelve calls": the count of the ABI's symbols in words, as the descriptions read.
std::string allSymbols() {
    constexpr std::array<std::string_view, 21> kWords{
        "zero",     "one",     "two",     "three",     "four",     "five",     "six",
        "seven",    "eight",   "nine",    "ten",       "eleven",   "twelve",   "thirteen",
        "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen", "twenty"};
    constexpr size_t count = host::kSymbolCount;
    return "all " + (count < kWords.size() ? std::string(kWords[count]) : std::to_string(count)) +
           " calls";
}

const std::string kChannels = std::to_string(kChannelMin) + " to " + std::to_string(kChannelMax);
const std::string kChannelRange = "channel " + kChannels;
const std::string kQuickCalls = "every call but pairing within " + secondsText(kLibraryCallLimit);

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
    return Outcome::fail("calls are missing", allSymbols() + " of dataprovider_abi.h",
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

// The contract's answer to a second open, which a library that counts its openers, or
// takes the device anew each time, gets wrong.
Outcome openTwice(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    int16_t flag = -1;
    if (const int32_t status = s.open(flag); status != 0 || flag != 0)
        return Outcome::fail("zdp_open_connection on an open base station failed",
                             flagAndStatus(0, 0),
                             status != 0 ? s.describe(status) : flagAndStatus(status, flag));
    uint8_t channel = 0;
    if (const int32_t status = s.getChannel(channel); status != 0)
        return Outcome::fail("the base station was closed by the second zdp_open_connection",
                             "status 0", s.describe(status));
    return Outcome::pass();
}

bool inChannelList(int channel) {
    return isChannel(channel);
}

// A channel next to the given one, inside the list.
uint8_t neighbourChannel(uint8_t channel) {
    if (channel >= kLowestChannel && channel < kHighestChannel)
        return static_cast<uint8_t>(channel + 1);
    return static_cast<uint8_t>(channel == kHighestChannel ? kHighestChannel - 1 : kLowestChannel);
}

// Puts the base station back on its channel; the failure when it does not read back so.
std::optional<Outcome> restoreChannel(Session &s, uint8_t original) {
    if (const int32_t status = s.setChannel(original); status != 0)
        return Outcome::fail("restoring channel " + std::to_string(original) + " failed",
                             "status 0", s.describe(status));
    uint8_t now = 0;
    if (const int32_t status = s.getChannel(now); status != 0 || now != original)
        return Outcome::fail("the original channel was not restored",
                             "channel " + std::to_string(original),
                             status != 0 ? s.describe(status) : "channel " + std::to_string(now));
    return std::nullopt;
}

Outcome channelInList(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    uint8_t channel = 0;
    if (const int32_t status = s.getChannel(channel); status != 0)
        return Outcome::fail("zdp_get_base_channel failed", "status 0", s.describe(status));
    if (!inChannelList(channel))
        return Outcome::fail("the program's channel list cannot show this channel", kChannelRange,
                             "channel " + std::to_string(channel));
    return Outcome::pass();
}

Outcome channelSetAndRestore(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    uint8_t original = 0;
    if (const int32_t status = s.getChannel(original); status != 0)
        return Outcome::fail("zdp_get_base_channel failed", "status 0", s.describe(status));
    const uint8_t other = neighbourChannel(original);
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
    if (std::optional<Outcome> failed = restoreChannel(s, original))
        return *failed;
    return taken;
}

const std::string kRefusal = "status 0 and a failure flag other than 0";

// A refusal is the device's answer, a failure flag: the program tells the operator of an
// error status that the base station failed.
std::optional<Outcome> refusedWithFlag(Session &s, const std::string &call, int32_t status,
                                       int16_t flag) {
    if (status != 0)
        return Outcome::fail(call + " answered an error status: the operator would be told "
                                    "that the base station failed",
                             kRefusal, s.describe(status));
    if (flag == 0)
        return Outcome::fail(call + " was taken", kRefusal, flagAndStatus(status, flag));
    return std::nullopt;
}

Outcome unknownModulesRefused(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    for (const uint32_t id : {0u, kUnpairedModuleId}) {
        const Session::Read answer = s.read(id, kModelCommand);
        if (auto failed =
                refusedWithFlag(s, "a read for module ID " + hexId(id), answer.status, answer.flag))
            return *failed;
        int16_t flag = -1;
        const int32_t status = s.write(id, kModelCommand, "", flag);
        if (auto failed = refusedWithFlag(s, "a write for module ID " + hexId(id), status, flag))
            return *failed;
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
    if (facts.observations.textFaults.empty() && facts.observations.errorStatuses.empty())
        return Outcome::skip("no call returned an error status, so no description was seen");
    if (facts.observations.textFaults.empty())
        return Outcome::pass();
    return Outcome::fail("zdp_error_text broke its contract",
                         "never NULL, empty before any error status, a description after every "
                         "error status, valid UTF-8",
                         joined(facts.observations.textFaults));
}

Outcome callsAreQuick(const LibraryFacts &facts) {
    if (facts.observations.slowCalls.empty())
        return Outcome::pass();
    return Outcome::fail("calls took too long", kQuickCalls, joined(facts.observations.slowCalls));
}

// Every call that needs an open base station, made on one that is not: each must answer an
// error status. Its text is judged by the error-text check.
std::optional<Outcome> refusedWhileClosed(Session &s, const std::string &when) {
    const auto refused = [&](const std::string &call, int32_t status) -> std::optional<Outcome> {
        if (status != 0)
            return std::nullopt;
        return Outcome::fail(call + " succeeded " + when, "an error status", "status 0");
    };
    uint8_t channel = 0;
    if (auto failed = refused("zdp_get_base_channel", s.getChannel(channel)))
        return failed;
    if (auto failed = refused("zdp_set_base_channel", s.setChannel(kLowestChannel)))
        return failed;
    uint32_t id = 0;
    if (auto failed = refused("zdp_pair_module", s.pair(kKeepModuleChannel, kQuietWindow, id)))
        return failed;
    int16_t flag = 0;
    if (auto failed = refused("zdp_write_module_command",
                              s.write(kUnpairedModuleId, code(CommandCode::Save), "", flag)))
        return failed;
    if (auto failed =
            refused("zdp_read_module_command", s.read(kUnpairedModuleId, kModelCommand).status))
        return failed;
    return std::nullopt;
}

Outcome closedStationRefuses(Session &s) {
    if (std::optional<Outcome> failed = s.start(false))
        return *failed;
    if (std::optional<Outcome> failed = refusedWhileClosed(s, "before zdp_open_connection"))
        return *failed;
    int16_t flag = -1;
    if (const int32_t status = s.open(flag); status != 0 || flag != 0)
        return Outcome::fail("zdp_open_connection(0, 0) failed", flagAndStatus(0, 0),
                             status != 0 ? s.describe(status) : flagAndStatus(status, flag));
    if (const int32_t status = s.close(); status != 0)
        return Outcome::fail("zdp_close_connection failed", "status 0", s.describe(status));
    if (std::optional<Outcome> failed = refusedWhileClosed(s, "after zdp_close_connection"))
        return *failed;
    return Outcome::pass();
}

Outcome pairingAloneAnswersZero(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    std::cerr << "Leave every module alone for the next " << kQuietWindow << " s." << std::endl;
    uint32_t id = kStaleModuleId;
    if (const int32_t status = s.pair(kKeepModuleChannel, kQuietWindow, id); status != 0)
        return Outcome::fail("zdp_pair_module failed", "status 0", s.describe(status));
    if (id != 0)
        return Outcome::fail("no module should have paired; an update would go on with module " +
                                 hexId(id),
                             "module ID 0", "module ID " + hexId(id));
    return Outcome::pass();
}

// One pairing in the program's window, passing in what the program would hold; the
// failure of the call itself. s.lastPairing is what it answered, 0 when nobody woke.
std::optional<Outcome> pairInWindow(Session &s, int32_t channelMode, const std::string &prompt,
                                    int32_t *extra) {
    std::cerr << prompt << " The checker waits up to " << kPairingWindow << " s." << std::endl;
    uint32_t id = s.lastPairing;
    const Clock::time_point begin = Clock::now();
    const int32_t status = s.pair(channelMode, kPairingWindow, id, extra);
    const Clock::duration took = Clock::now() - begin;
    if (status != 0)
        return Outcome::fail("zdp_pair_module failed", "status 0", s.describe(status));
    s.lastPairing = id;
    if (took > libraryPairingLimit(kPairingWindow))
        return Outcome::fail("pairing overran its window",
                             "an answer within " +
                                 std::to_string(libraryPairingLimit(kPairingWindow).count()) + " s",
                             std::to_string(std::chrono::duration<double>(took).count()) + " s");
    if (id != 0) {
        std::cerr << "Paired with module " << hexId(id) << "." << std::endl;
        s.pairedModule = id;
    }
    return std::nullopt;
}

Outcome pairAsTheProgramDoes(Session &s, int32_t channelMode, const std::string &prompt,
                             int32_t *extra = nullptr) {
    if (std::optional<Outcome> failed = pairInWindow(s, channelMode, prompt, extra))
        return *failed;
    if (s.lastPairing == 0)
        return Outcome::fail("no module paired within " + std::to_string(kPairingWindow) +
                                 " s: power-cycle the module when the checker asks",
                             "a non-zero module ID", "module ID 0");
    return Outcome::pass();
}

Outcome pairingFindsModule(Session &s) {
    if (std::optional<Outcome> failed = s.start(true))
        return *failed;
    return pairAsTheProgramDoes(s, kKeepModuleChannel, "Power-cycle one module now.");
}

// The program passes the previous pairing's ID in; a library that waits for that module
// never pairs the next one.
Outcome pairingAgainFindsModule(Session &s) {
    return pairAsTheProgramDoes(s, kKeepModuleChannel,
                                "Power-cycle a module again (another one when there is one; "
                                "the checker passes in the ID of module " +
                                    hexId(s.lastPairing) + ").");
}

// The program reads *extra after a pairing: a channel of the radio's that is not the one
// the module should be on ends the update; one outside them is taken at its word.
std::optional<Outcome> channelNotKept(int32_t reported, uint8_t channel,
                                      const std::string &message) {
    if (!isChannel(reported) || reported == channel)
        return std::nullopt;
    return Outcome::fail(message, "channel " + std::to_string(channel),
                         "channel " + std::to_string(reported));
}

// The next pairing of the moved module, the base station back on its own channel: a
// library that says it moved the module without moving it shows the old channel here.
Outcome moduleStaysMoved(Session &s, uint8_t channel) {
    const uint32_t moved = s.pairedModule;
    for (int attempt = 0; attempt < kSameModuleTries; ++attempt) {
        int32_t reported = 0;
        if (std::optional<Outcome> failed = pairInWindow(s, kKeepModuleChannel,
                                                         "Power-cycle module " + hexId(moved) +
                                                             " again, the one moved to channel " +
                                                             std::to_string(channel) + ".",
                                                         &reported))
            return *failed;
        if (s.lastPairing == moved)
            return channelNotKept(reported, channel,
                                  "module " + hexId(moved) +
                                      " was on another channel at its next pairing: the update "
                                      "that moved it would have split the fleet")
                .value_or(Outcome::pass());
    }
    // Another module answering every time says nothing against the library (a fleet whose
    // modules wake in turn, an operator who took the wrong one): the move itself was seen.
    Outcome seen = Outcome::pass();
    seen.notes.push_back("module " + hexId(moved) + " did not pair again within " +
                         std::to_string(kSameModuleTries) +
                         " pairings, so whether it stayed on channel " + std::to_string(channel) +
                         " was not seen; power-cycle that module when the checker asks");
    return seen;
}

// An update on "Change the remote module RADIO channel": move the base station, read it
// back, pair in channel mode 0, and read the model on the new channel. The base station
// goes back to its channel afterwards; the module keeps the new one, unsaved, and says so
// at the next pairing.
Outcome pairingMovesModule(Session &s) {
    uint8_t original = 0;
    if (const int32_t status = s.getChannel(original); status != 0)
        return Outcome::fail("zdp_get_base_channel failed", "status 0", s.describe(status));
    const uint8_t target = neighbourChannel(original);
    if (const int32_t status = s.setChannel(target); status != 0)
        return Outcome::fail("zdp_set_base_channel(" + std::to_string(target) + ") failed",
                             "status 0", s.describe(status));
    uint8_t now = 0;
    if (const int32_t status = s.getChannel(now); status != 0)
        return Outcome::fail("reading the channel back failed", "status 0", s.describe(status));
    int32_t reported = 0;
    Outcome outcome = now != target
                          ? Outcome::skip("the base station did not take channel " +
                                          std::to_string(target) + ", so no module could be moved")
                          : pairAsTheProgramDoes(s, kMoveModuleToBaseChannel,
                                                 "Power-cycle a module once more: it is moved to "
                                                 "channel " +
                                                     std::to_string(target) + ".",
                                                 &reported);
    if (outcome.state == State::Passed)
        outcome = channelNotKept(reported, target,
                                 "module " + hexId(s.pairedModule) +
                                     " did not take the base station's channel in channel mode "
                                     "0: every update that changes the channel would end there")
                      .value_or(Outcome::pass());
    if (outcome.state == State::Passed) {
        const Session::Read answer = s.read(s.pairedModule, kModelCommand);
        if (answer.status != 0 || answer.flag != 0 || answer.text.empty())
            outcome =
                Outcome::fail("the module moved to channel " + std::to_string(target) +
                                  " did not answer a read of its model",
                              "failure flag 0 and a non-empty text",
                              answer.status != 0 ? s.describe(answer.status)
                                                 : "failure flag " + std::to_string(answer.flag) +
                                                       ", text \"" + answer.text + "\"");
    }
    if (std::optional<Outcome> failed = restoreChannel(s, original))
        return *failed;
    return outcome.state == State::Passed ? moduleStaysMoved(s, target) : outcome;
}

// The program takes an answer's text whole: a model padded with blanks is refused on one
// tab and recorded padded on the other. A length that counts bytes the library never
// wrote brings the checker's fill into the text, a byte that cannot follow ASCII in UTF-8.
std::optional<std::string> answerFault(std::string_view text) {
    if (!isValidUtf8(text)) {
        const size_t written =
            text.find_last_not_of(static_cast<char>(Session::kUnwrittenByte)) + 1;
        if (written < text.size() && isValidUtf8(text.substr(0, written)))
            return "its length counts " + std::to_string(text.size() - written) +
                   (text.size() - written == 1 ? " byte" : " bytes") +
                   " after the answer that the library never wrote";
        return "it is not valid UTF-8";
    }
    const auto isControl = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    if (std::any_of(text.begin(), text.end(), isControl))
        return "it holds a control character";
    if (!text.empty() && (text.front() == ' ' || text.back() == ' '))
        return "it has blanks around it";
    return std::nullopt;
}

const std::string kWholeAnswer =
    "the value alone in UTF-8, no blank around it, no control character";

std::string textOf(const Session::Read &answer) {
    return "text \"" + answer.text + "\"";
}

Outcome modelReads(Session &s) {
    const Session::Read answer = s.read(s.pairedModule, kModelCommand);
    if (answer.status != 0)
        return Outcome::fail("reading the model failed", "status 0", s.describe(answer.status));
    if (answer.flag != 0 || answer.text.empty())
        return Outcome::fail("the module gave no model", "failure flag 0 and a non-empty text",
                             "failure flag " + std::to_string(answer.flag) + ", text \"" +
                                 answer.text + "\"");
    if (const std::optional<std::string> fault = answerFault(answer.text))
        return Outcome::fail("the answer is not the model alone: " + *fault, kWholeAnswer,
                             textOf(answer));
    return Outcome::pass();
}

template <size_t Index> Outcome parameterReads(Session &s) {
    constexpr uint8_t command = code(kParameterCommands[Index]);
    const Session::Read answer = s.read(s.pairedModule, command);
    if (answer.status != 0)
        return Outcome::fail("the read failed", "status 0", s.describe(answer.status));
    // What the program would take: its own reading of a leading number.
    if (answer.flag != 0 || !readLeadingNumber(answer.text).hasNumber)
        return Outcome::fail(
            "the module gave no decimal number", "failure flag 0 and a decimal number",
            "failure flag " + std::to_string(answer.flag) + ", text \"" + answer.text + "\"");
    if (const std::optional<std::string> fault = answerFault(answer.text))
        return Outcome::fail("the answer is not the value alone: " + *fault, kWholeAnswer,
                             textOf(answer));
    s.moduleValues[command] = answer.text;
    return Outcome::pass();
}

// Every read the program makes, each into exactly the smallest buffer a host may pass with
// guard bytes after it: the answers are real here, unlike the refusals of read-capacity.
Outcome answersStayInCapacity(Session &s) {
    std::vector<std::string> answered;
    for (const CommandInfo &info : kCommands) {
        if (!isRead(info))
            continue;
        const uint8_t command = code(info.command);
        const Session::Read answer = s.read(s.pairedModule, command, ZDP_MIN_READ_CAPACITY);
        if (answer.overrun)
            return Outcome::fail("zdp_read_module_command wrote outside its buffer",
                                 "no byte written outside the " +
                                     std::to_string(ZDP_MIN_READ_CAPACITY) + " given",
                                 "guard bytes changed (command " + std::to_string(command) + ")");
        if (answer.status == 0 && answer.length > ZDP_MIN_READ_CAPACITY)
            return Outcome::fail("zdp_read_module_command reported more than its capacity",
                                 "length at most " + std::to_string(ZDP_MIN_READ_CAPACITY),
                                 "length " + std::to_string(answer.length) + " (command " +
                                     std::to_string(command) + ")");
        if (answer.status == 0 && answer.flag == 0)
            answered.push_back(std::to_string(command));
    }
    if (answered.empty())
        return Outcome::skip("the module answered none of the reads");
    return Outcome::pass();
}

template <size_t Index> Outcome parameterWritesBack(Session &s) {
    constexpr uint8_t command = code(kParameterCommands[Index]);
    const std::string &value = s.moduleValues.at(command);
    int16_t flag = -1;
    const int32_t status = s.write(s.pairedModule, command, value, flag);
    if (status != 0)
        return Outcome::fail("the write failed", "status 0", s.describe(status));
    if (flag != 0)
        return Outcome::fail("the module refused its own value \"" + value + "\"", "failure flag 0",
                             "failure flag " + std::to_string(flag));
    return Outcome::pass();
}

// How every update ends: save, the module's pause, reset, each with an empty value.
Outcome saveThenReset(Session &s) {
    for (const CommandCode command : {CommandCode::Save, CommandCode::Reset}) {
        if (command == CommandCode::Reset)
            std::this_thread::sleep_for(kAfterSave);
        int16_t flag = -1;
        const int32_t status = s.write(s.pairedModule, code(command), "", flag);
        const std::string what = "command " + std::to_string(code(command)) + " (" +
                                 std::string(commandInfo(command).meaning) + ")";
        if (status != 0)
            return Outcome::fail(what + " failed", "status 0", s.describe(status));
        if (flag != 0)
            return Outcome::fail(what + " was refused: every update would end \"" +
                                     std::string(commandInfo(command).writeFailure) + "\"",
                                 "failure flag 0", "failure flag " + std::to_string(flag));
    }
    return Outcome::pass();
}

using host::Call;
using Calls = std::vector<Call>;
const Calls kOpen = {Call::Open, Call::Close};
Calls with(Calls calls, std::initializer_list<Call> more) {
    calls.insert(calls.end(), more);
    return calls;
}

constexpr int kModuleGroup = 1;
constexpr auto kQuietLimit = std::chrono::seconds(kQuietWindow) + kHostCallDeadline;
constexpr auto kPairingLimit = hostPairingDeadline(kPairingWindow);

template <size_t... Index>
void addParameterReads(std::vector<Check> &checks, std::index_sequence<Index...>) {
    (checks.push_back(
         {.name = kept("module-read-" + std::to_string(code(kParameterCommands[Index]))),
          .description =
              kept(commandName(kParameterCommands[Index]) +
                   " reads as a decimal number, whole: no byte the library did not write, no "
                   "blank or control character around it"),
          .needs = Needs::Module,
          .group = kModuleGroup,
          .calls = {Call::Read},
          .after = {"module-pair-again"},
          .run = parameterReads<Index>}),
     ...);
}

template <size_t... Index>
void addParameterWrites(std::vector<Check> &checks, std::index_sequence<Index...>) {
    (checks.push_back(
         {.name = kept("module-write-" + std::to_string(code(kParameterCommands[Index]))),
          .description = kept(commandName(kParameterCommands[Index]) +
                              " takes back the value just read, with failure flag 0"),
          .needs = Needs::Write,
          .group = kModuleGroup,
          .calls = {Call::Write},
          .after = {kept("module-read-" + std::to_string(code(kParameterCommands[Index])))},
          .run = parameterWritesBack<Index>}),
     ...);
}

std::vector<Check> makeChecks() {
    const auto parameters = std::make_index_sequence<kParameterCommands.size()>();
    std::vector<Check> checks = {
        {.name = "load", .description = "the library loads", .judge = libraryLoads},
        {.name = "version",
         .description = "zdp_abi_version, called before any other call, returns the ABI version",
         .run = versionFirst},
        {.name = "symbols",
         .description = kept(allSymbols() + " of the ABI are exported"),
         .judge = symbolsExported},
        {.name = "create",
         .description = "50 create/destroy cycles succeed",
         .calls = {Call::Create, Call::Destroy},
         .run = createCycles},
        {.name = "destroy-null",
         .description = "zdp_destroy(NULL) does nothing",
         .calls = {Call::Destroy},
         .run = destroyNull},
        {.name = "probe",
         .description = "zdp_probe_provider succeeds",
         .calls = {Call::Probe},
         .run = probeSucceeds},
        {.name = "open",
         .description = "zdp_open_connection(0, 0) opens, closing twice is harmless, opening "
                        "again works",
         .calls = kOpen,
         .run = openCloseOpen},
        {.name = "open-twice",
         .description = "zdp_open_connection on an open base station answers status 0 and "
                        "failure flag 0 and leaves it open",
         .calls = with(kOpen, {Call::GetChannel}),
         .after = {"open"},
         .run = openTwice},
        {.name = "not-open",
         .description = "before zdp_open_connection and after zdp_close_connection, the channel, "
                        "pairing, read and write calls answer an error status",
         .calls =
             with(kOpen, {Call::GetChannel, Call::SetChannel, Call::Pair, Call::Read, Call::Write}),
         .after = {"open"},
         .limit = kQuietLimit,
         .run = closedStationRefuses},
        {.name = "channel-range",
         .description = kept("the base channel reads back in " + kChannels),
         .calls = with(kOpen, {Call::GetChannel}),
         .after = {"open"},
         .run = channelInList},
        {.name = "channel-set",
         .description = "setting another base channel takes it or keeps the old one, and the "
                        "original channel is restored",
         .calls = with(kOpen, {Call::GetChannel, Call::SetChannel}),
         .after = {"open"},
         .run = channelSetAndRestore},
        {.name = "unknown-module",
         .description = "reads and writes for module ID 0 and an unpaired ID are refused with a "
                        "failure flag and status 0",
         .calls = with(kOpen, {Call::Read, Call::Write}),
         .after = {"open"},
         .run = unknownModulesRefused},
        {.name = "read-capacity",
         .description = "zdp_read_module_command never writes past its capacity nor reports a "
                        "longer answer",
         .calls = with(kOpen, {Call::Read}),
         .after = {"open"},
         .run = readStaysInCapacity},
        {.name = "module-alone",
         .description =
             kept("with every module left alone, pairing in a " +
                  secondsText(std::chrono::seconds(kQuietWindow)) + " window answers module ID 0"),
         .needs = Needs::Module,
         .calls = with(kOpen, {Call::Pair}),
         .after = {"open"},
         .limit = kQuietLimit,
         .run = pairingAloneAnswersZero},
        {.name = "module-pair",
         .description = kept("a power-cycled module pairs (its radio settings left as they "
                             "are) within the " +
                             secondsText(std::chrono::seconds(kPairingWindow)) + " window plus " +
                             secondsText(kLibraryCallLimit) + ", with a non-zero ID"),
         .needs = Needs::Module,
         .group = kModuleGroup,
         .calls = with(kOpen, {Call::Pair}),
         .after = {"open"},
         .limit = kPairingLimit,
         .run = pairingFindsModule},
        {.name = "module-pair-again",
         .description = "a second pairing, passed the first one's ID as the program passes it, "
                        "pairs whichever module wakes",
         .needs = Needs::Module,
         .group = kModuleGroup,
         .calls = {Call::Pair},
         .after = {"module-pair"},
         .limit = kPairingLimit,
         .run = pairingAgainFindsModule},
        {.name = "module-model",
         .description = "command 51 (model) reads as a non-empty text, whole: no byte the library "
                        "did not write, no blank or control character around it",
         .needs = Needs::Module,
         .group = kModuleGroup,
         .calls = {Call::Read},
         .after = {"module-pair-again"},
         .run = modelReads},
    };
    addParameterReads(checks, parameters);
    checks.push_back({.name = "module-read-capacity",
                      .description =
                          "every read the program makes, into exactly ZDP_MIN_READ_CAPACITY bytes, "
                          "leaves the bytes after them untouched and reports no more",
                      .needs = Needs::Module,
                      .group = kModuleGroup,
                      .calls = {Call::Read},
                      .after = {"module-pair-again"},
                      .run = answersStayInCapacity});
    addParameterWrites(checks, parameters);
    checks.push_back(
        {.name = "module-save-reset",
         .description =
             kept("command " + std::to_string(code(CommandCode::Save)) + " (save), then after " +
                  secondsText(std::chrono::duration_cast<std::chrono::seconds>(kAfterSave)) +
                  " command " + std::to_string(code(CommandCode::Reset)) +
                  " (reset), each with an empty value, answer failure flag 0 as every "
                  "update needs"),
         .needs = Needs::Write,
         .group = kModuleGroup,
         .calls = {Call::Write},
         .after = {"module-pair-again"},
         .run = saveThenReset});
    checks.push_back({.name = "module-pair-channel",
                      .description =
                          "after the base station moves to another channel, a pairing in channel "
                          "mode 0 reports the module on that channel, the module answers, and "
                          "its next pairing, the base station back on its own channel, still "
                          "reports it",
                      .needs = Needs::Module,
                      .group = kModuleGroup,
                      .calls = {Call::Pair, Call::GetChannel, Call::SetChannel, Call::Read},
                      .after = {"module-pair", "channel-set"},
                      .limit = kPairingLimit,
                      .run = pairingMovesModule});
    addUpdateChecks(checks);
    // Judged last, over the calls of every check before them.
    checks.push_back({.name = "error-text",
                      .description =
                          "zdp_error_text is never NULL, is empty before any error status, "
                          "describes every error status and is valid UTF-8",
                      .judge = errorTexts});
    checks.push_back({.name = "timing",
                      .description = kept("every call except pairing returns within " +
                                          secondsText(kLibraryCallLimit)),
                      .judge = callsAreQuick});
    return checks;
}

const std::vector<Check> kChecks = makeChecks();
} // namespace

std::string_view kept(std::string text) {
    static std::deque<std::string> texts;
    return texts.emplace_back(std::move(text));
}

std::string commandName(CommandCode command) {
    return "command " + std::to_string(code(command)) + " (" +
           std::string(commandInfo(command).meaning) + ")";
}

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
    for (const host::Call call : check.calls) {
        const std::string name = host::callName(call);
        if (std::find(missingSymbols.begin(), missingSymbols.end(), name) != missingSymbols.end())
            return name + " is missing";
    }
    for (const std::string_view name : check.after) {
        const auto found = std::find_if(done.begin(), done.end(),
                                        [name](const auto &entry) { return entry.first == name; });
        if (found == done.end() || found->second != State::Passed)
            return "needs check \"" + std::string(name) + "\" to pass";
    }
    return {};
}

} // namespace fw::check
