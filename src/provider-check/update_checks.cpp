#include "update_checks.h"

#include "data_provider.h"
#include "hosted_provider.h"
#include "messages.h"
#include "module_access.h"
#include "module_protocol.h"
#include "number_text.h"
#include "parameter_rules.h"
#include "read_sequence.h"
#include "update_sequence.h"
#include "window_port.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <map>
#include <memory>
#include <thread>

namespace fw::check {

namespace {

// Positions in the low power list.
constexpr int kLowPowerLeftAsIs = 0;
constexpr int kLowPowerNo = 1;
constexpr int kLowPowerYes = 2;
constexpr int kUpdateGroup = 2;
// How often an update is run again when a module of a model the program refuses answered.
constexpr int kOtherModelAttempts = 2;
// A sleep delay small enough to be staged in exponent form.
constexpr double kTinySleepDelay = 0.000001;

// What the operator enters and chooses for one update, and what the report calls it.
struct UpdateCase {
    std::string form;
    Entries entries{.tab = kGeneralTab};
};

// The window as an operator at the checker's prompts works it: the entries stay as set,
// every message is dismissed with OK and kept, pauses are as long as the program asks.
class PromptedWindow final : public WindowPort {
public:
    PromptedWindow(const Entries &entries, std::string prompt)
        : entries_(entries), prompt_(std::move(prompt)) {}

    Entries entries() const override { return entries_; }

    void setStatus(const std::string & /*text*/) override {}
    void setBusyPointer() override {}
    void setDefaultPointer() override {}
    MessageButton showMessage(const Message &message) override {
        shown.push_back(message);
        return MessageButton::Ok;
    }
    void processEvents() override {}
    void pause(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
    void pairingStarted(std::chrono::seconds window) override {
        std::cerr << prompt_ << " The checker waits up to " << window.count() << " s." << std::endl;
    }

    std::vector<Message> shown;

private:
    const Entries &entries_;
    std::string prompt_;
};

// What a run ended with, as the window's observer hears it.
class ReportKeeper final : public UpdateObserver {
public:
    std::optional<Message> updateEnding(const UpdateReport &report) override {
        last = report;
        return std::nullopt;
    }
    UpdateReport last;
};

bool isParameter(uint8_t command) {
    return std::any_of(kParameterCommands.begin(), kParameterCommands.end(),
                       [command](CommandCode parameter) { return code(parameter) == command; });
}

// The program's provider, watched from outside: the pairing's word on the module's channel,
// the last write refused, and each parameter as a module held it before the checker first
// wrote it, so that it can be put back.
class WatchedProvider final : public DataProvider {
public:
    explicit WatchedProvider(std::unique_ptr<DataProvider> provider) : dp_(std::move(provider)) {}

    int16_t OpenConnection(int32_t arg1, int32_t arg2) override {
        return dp_->OpenConnection(arg1, arg2);
    }
    void CloseConnection() override { dp_->CloseConnection(); }
    int32_t ProbeProvider() override { return dp_->ProbeProvider(); }
    uint8_t GetBaseChannel(int32_t arg1) override { return dp_->GetBaseChannel(arg1); }
    void SetBaseChannel(int32_t arg1, uint8_t channel) override {
        dp_->SetBaseChannel(arg1, channel);
    }
    void PairModule(int32_t arg1, int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId,
                    int32_t &extra) override {
        dp_->PairModule(arg1, channelMode, windowSeconds, moduleId, extra);
        pairedChannel = extra;
    }
    int16_t WriteModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                               const std::string &payload) override {
        if (isParameter(command) && !originals[moduleId].contains(command)) {
            std::string value;
            if (dp_->ReadModuleCommand(arg1, moduleId, command, value) == 0)
                originals[moduleId][command] = std::string(answerText(value));
        }
        const int16_t flag = dp_->WriteModuleCommand(arg1, moduleId, command, payload);
        if (flag != 0)
            refused = Refusal{command, std::string(answerText(payload)), flag};
        return flag;
    }
    int16_t ReadModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                              std::string &value) override {
        return dp_->ReadModuleCommand(arg1, moduleId, command, value);
    }

    struct Refusal {
        uint8_t command;
        std::string value;
        int16_t flag;
    };
    int32_t pairedChannel = 0;
    std::optional<Refusal> refused;
    std::map<uint32_t, std::map<uint8_t, std::string>> originals;

private:
    std::unique_ptr<DataProvider> dp_;
};

// One check's provider, the window's session and what the check has to say.
struct Rig {
    std::unique_ptr<WatchedProvider> dp;
    ModuleSession module;
    std::vector<std::string> notes;
};

std::string quotedMessage(const Message &message) {
    return "title \"" + message.title + "\", text \"" + message.text + "\"";
}

// Runs one update as the window would; the failure when it ends with anything but
// "Update Complete", except a value that the module refused with a failure flag, which
// the contract allows: that passes with a note of what the operator sees. refused tells.
std::optional<Outcome> runUpdate(Rig &rig, const UpdateCase &entries, bool &refused) {
    refused = false;
    std::string prompt =
        "Power-cycle the module now: the checker runs an update (" + entries.form + ").";
    Message ending;
    // A module of a model the program refuses says nothing about the library: another one
    // is asked for, as the operator would take one.
    for (int attempt = 0; attempt <= kOtherModelAttempts; ++attempt) {
        PromptedWindow window(entries.entries, prompt);
        rig.dp->refused.reset();
        UpdateSequence update(*rig.dp, window, rig.module);
        update.run({.verifyWrites = entries.entries.tab == kAcquisitionTab});
        ending = window.shown.empty() ? Message{} : window.shown.back();
        if (ending != messages::unsupportedModel(rig.module.model) ||
            attempt == kOtherModelAttempts)
            break;
        rig.notes.push_back("module " + hexId(rig.module.moduleId) + " is a " + rig.module.model +
                            ", which the program does not update: the update (" + entries.form +
                            ") was run again");
        prompt = "Power-cycle a module of a model the program supports: the checker runs the "
                 "update (" +
                 entries.form + ") again.";
    }
    if (ending.title == messages::updateComplete("", 0).title)
        return std::nullopt;
    if (const auto &refusal = rig.dp->refused; refusal && isParameter(refusal->command)) {
        const CommandCode parameter = static_cast<CommandCode>(refusal->command);
        if (ending == messages::moduleFailure(commandInfo(parameter).writeFailure)) {
            rig.notes.push_back(commandName(parameter) + " refused \"" + refusal->value +
                                "\" with failure flag " + std::to_string(refusal->flag) +
                                " in the update (" + entries.form + "): the operator sees \"" +
                                ending.text + "\"");
            refused = true;
            return std::nullopt;
        }
    }
    return Outcome::fail("the update (" + entries.form + ") did not complete",
                         "title \"" + messages::updateComplete("", 0).title + "\"",
                         quotedMessage(ending));
}

// What the program's Read found after an update; nothing when another module answered.
struct ReadBack {
    StagedParameters values;
    int32_t channel = 0; // the pairing's word on the module's channel
};

// Pairs with the module just updated once more, leaving its channel, and reads it with the
// program's own Read. A module that was not the one updated answers for nobody: a note says
// so. A model the program reads no values of is noted as well.
std::optional<Outcome> readBack(Rig &rig, const std::string &form, std::optional<ReadBack> &got) {
    got.reset();
    const uint32_t updated = rig.module.moduleId;
    const Entries none{.tab = kGeneralTab};
    PromptedWindow window(none, "Power-cycle module " + hexId(updated) +
                                    " again: the checker reads back what the update (" + form +
                                    ") left.");
    ReportKeeper keeper;
    ReadSequence read(*rig.dp, window, rig.module, &keeper);
    read.run();
    const Message ending = window.shown.empty() ? Message{} : window.shown.back();
    if (rig.module.moduleId == 0)
        return Outcome::fail("no module paired to read back the update (" + form + ")",
                             "module " + hexId(updated), quotedMessage(ending));
    if (rig.module.moduleId != updated) {
        rig.notes.push_back("module " + hexId(rig.module.moduleId) +
                            " answered the pairing after the update (" + form +
                            ") instead of module " + hexId(updated) +
                            ": what that update left was not read back");
        return std::nullopt;
    }
    if (ending == messages::unsupportedModel(rig.module.model)) {
        rig.notes.push_back("the program reads no values of model " + rig.module.model +
                            ", so what the update (" + form + ") left was not read back");
        return std::nullopt;
    }
    if (!keeper.last.complete)
        return Outcome::fail("the program's Read after the update (" + form + ") failed",
                             "title \"Module Settings\"", quotedMessage(ending));
    got = ReadBack{keeper.last.readValues, rig.dp->pairedChannel};
    return std::nullopt;
}

// The module's channel as a pairing reported it, held to the channel it was moved to.
std::optional<Outcome> channelTaken(Rig &rig, int32_t reported, int wanted,
                                    const std::string &when) {
    if (!isChannel(reported)) {
        rig.notes.push_back("the library did not report the module's channel " + when);
        return std::nullopt;
    }
    if (reported == wanted)
        return std::nullopt;
    return Outcome::fail(
        "the module moved to channel " + std::to_string(wanted) + " is on another one " + when,
        "channel " + std::to_string(wanted), "channel " + std::to_string(reported));
}

// Starts the library as the program does, runs the check's steps and closes the base
// station; a failure of the library under the checker's own calls fails the check.
Outcome withRig(Session &s, std::optional<Outcome> (*steps)(Rig &)) {
    Rig rig;
    try {
        rig.dp =
            std::make_unique<WatchedProvider>(createHostedProvider(s.hostExecutable, s.library));
        if (const int16_t flag = rig.dp->OpenConnection(0, 0); flag != 0)
            return Outcome::fail("the base station did not open as the program opens it",
                                 "failure flag 0", "failure flag " + std::to_string(flag));
        std::optional<Outcome> failed = steps(rig);
        rig.dp->CloseConnection();
        Outcome outcome = failed ? *failed : Outcome::pass();
        outcome.notes = rig.notes;
        return outcome;
    } catch (const ProviderStopped &stopped) {
        return Outcome::fail("the library stopped under the checker's own calls",
                             "an answer to every call", stopped.happened());
    } catch (const ProviderError &error) {
        return Outcome::fail("the library failed under the checker's own calls", "status 0",
                             "status " + std::to_string(error.code()) + ": " + error.description());
    }
}

std::optional<Outcome> generalLeave(Rig &rig) {
    const UpdateCase entries{.form = "General tab, the module's channel left"};
    bool refused = false;
    if (std::optional<Outcome> failed = runUpdate(rig, entries, refused))
        return failed;
    std::optional<ReadBack> got;
    return readBack(rig, entries.form, got);
}

// Two updates, one to a neighbouring channel and one back: the module ends where it was.
std::optional<Outcome> generalChange(Rig &rig) {
    const int original = rig.dp->GetBaseChannel(kBaseStationArg);
    const int other = original < kChannelMax ? original + 1 : original - 1;
    std::optional<Outcome> failed;
    for (const int channel : {other, original}) {
        const UpdateCase entries{
            .form = "General tab, the module moved to channel " + std::to_string(channel),
            .entries = {
                .changeChannel = true, .rfChannelPosition = channel - 1, .tab = kGeneralTab}};
        bool refused = false;
        failed = runUpdate(rig, entries, refused);
        if (!failed)
            failed = channelTaken(rig, rig.dp->pairedChannel, channel,
                                  "after the update (" + entries.form + ")");
        std::optional<ReadBack> got;
        if (!failed)
            failed = readBack(rig, entries.form, got);
        if (!failed && got)
            failed = channelTaken(rig, got->channel, channel,
                                  "at the next pairing after the update (" + entries.form + ")");
        if (failed)
            break;
    }
    if (rig.dp->GetBaseChannel(kBaseStationArg) != original) {
        rig.dp->SetBaseChannel(kBaseStationArg, static_cast<uint8_t>(original));
        if (!failed && rig.dp->GetBaseChannel(kBaseStationArg) != original)
            failed = Outcome::fail(
                "the original channel was not restored", "channel " + std::to_string(original),
                "channel " + std::to_string(rig.dp->GetBaseChannel(kBaseStationArg)));
    }
    return failed;
}

std::string number(double value) {
    return decimalText(value);
}

// Every form of value the program sends, within its own ranges, in updates whose values
// the program's compatibility rules accept.
std::vector<UpdateCase> acquisitionForms() {
    const EntryRange tx = entryRange(EntryField::TxInterval);
    const EntryRange sample = entryRange(EntryField::SampleTime);
    const EntryRange sleep = entryRange(EntryField::SleepDelay);
    struct Parameters {
        std::string txInterval, sampleTime, sleepDelay;
        int lowPowerModePosition;
    };
    const auto acquisition = [](std::string form, Parameters p) {
        return UpdateCase{.form = std::move(form),
                          .entries = {.txInterval = std::move(p.txInterval),
                                      .sampleTime = std::move(p.sampleTime),
                                      .sleepDelay = std::move(p.sleepDelay),
                                      .lowPowerModePosition = p.lowPowerModePosition,
                                      .tab = kAcquisitionTab}};
    };
    return {
        acquisition("blanks filled from the module, sleep delay 1.5",
                    {"", "", "1.5", kLowPowerLeftAsIs}),
        acquisition(
            "the lowest values, low power mode 0",
            {number(tx.minimum), number(sample.minimum), number(sleep.minimum), kLowPowerNo}),
        acquisition("the highest values", {number(tx.maximum), number(sample.maximum),
                                           number(sleep.maximum), kLowPowerNo}),
        acquisition("TX interval 7.5", {"7.5", number(sample.minimum), "", kLowPowerNo}),
        // The one value the program sends in exponent form: "1E-06".
        acquisition("sleep delay " + number(kTinySleepDelay),
                    {"", "", number(kTinySleepDelay), kLowPowerLeftAsIs}),
        acquisition("low power mode 1", {number(tx.maximum), number(sample.minimum),
                                         number(sleep.minimum), kLowPowerYes}),
    };
}

struct ShownParameter {
    CommandCode command;
    std::string StagedParameters::*value;
};
constexpr std::array<ShownParameter, 4> kParameters{{
    {CommandCode::TxInterval, &StagedParameters::txInterval},
    {CommandCode::SampleTime, &StagedParameters::sampleTime},
    {CommandCode::SleepDelay, &StagedParameters::sleepDelay},
    {CommandCode::LowPowerMode, &StagedParameters::lowPowerMode},
}};

// The first parameter that the module holds as another number than the update sent.
std::optional<Outcome> heldAsSent(const std::string &form, const StagedParameters &sent,
                                  const StagedParameters &held) {
    for (const ShownParameter &parameter : kParameters)
        if (!sameNumber(held.*parameter.value, sent.*parameter.value))
            return Outcome::fail("after the update (" + form + "), the module holds another " +
                                     std::string(commandInfo(parameter.command).meaning),
                                 "\"" + sent.*parameter.value + "\"",
                                 "\"" + held.*parameter.value + "\"");
    return std::nullopt;
}

// Writes back what the updated module held before the checker's first write, then saves
// and resets it as an update does; only the module itself can be restored.
std::optional<Outcome> restoreModule(Rig &rig) {
    const auto held = rig.dp->originals.find(rig.module.moduleId);
    if (held == rig.dp->originals.end())
        return std::nullopt;
    ModuleAccess access(*rig.dp);
    const auto written = [&](CommandCode command, const std::string &value) {
        return access.MWrite(rig.module.moduleId, command, value,
                             commandInfo(command).writeFailure);
    };
    for (const auto &[command, value] : held->second)
        if (Ending failed = written(static_cast<CommandCode>(command), value))
            return Outcome::fail("restoring the module's " +
                                     commandName(static_cast<CommandCode>(command)) + " failed",
                                 "failure flag 0", quotedMessage(*failed));
    if (Ending failed = written(CommandCode::Save, ""))
        return Outcome::fail("saving the restored values failed", "failure flag 0",
                             quotedMessage(*failed));
    std::this_thread::sleep_for(kAfterSave);
    if (Ending failed = written(CommandCode::Reset, ""))
        return Outcome::fail("resetting the restored module failed", "failure flag 0",
                             quotedMessage(*failed));
    rig.dp->originals.erase(held);
    return std::nullopt;
}

std::optional<Outcome> acquisitionUpdates(Rig &rig) {
    std::optional<Outcome> failed;
    for (const UpdateCase &entries : acquisitionForms()) {
        bool refused = false;
        failed = runUpdate(rig, entries, refused);
        if (failed)
            break;
        if (refused)
            continue;
        const StagedParameters sent = rig.module.staged;
        std::optional<ReadBack> got;
        failed = readBack(rig, entries.form, got);
        if (!failed && got)
            failed = heldAsSent(entries.form, sent, got->values);
        if (failed)
            break;
    }
    if (rig.dp->originals.empty())
        return failed;
    // One more pairing to put the module back; another module that answers is left alone.
    std::cerr << "Power-cycle module " << hexId(rig.module.moduleId)
              << " once more: the checker puts back its values." << std::endl;
    uint32_t id = rig.module.moduleId;
    int32_t channel = 0;
    rig.dp->PairModule(kBaseStationArg, kKeepModuleChannel, kPairingWindowSeconds, id, channel);
    std::optional<Outcome> restored;
    if (id != 0 && rig.dp->originals.contains(id)) {
        rig.module.moduleId = id;
        // As long as the program lets a module settle after waking.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        restored = restoreModule(rig);
    }
    if (!rig.dp->originals.empty()) {
        std::string modules;
        for (const auto &entry : rig.dp->originals)
            modules += (modules.empty() ? "" : ", ") + hexId(entry.first);
        rig.notes.push_back("module " + modules +
                            " did not answer the last pairing and keeps the checker's values "
                            "until they are set again");
    }
    return failed ? failed : restored;
}

} // namespace

void addUpdateChecks(std::vector<Check> &checks) {
    using host::Call;
    const std::vector<Call> calls = {Call::Open,  Call::Close,      Call::Pair,      Call::Read,
                                     Call::Write, Call::GetChannel, Call::SetChannel};
    const auto limit = hostPairingDeadline(kPairingWindowSeconds);
    checks.push_back({.name = "update-general-leave",
                      .description =
                          "an update on the General tab that leaves the module's channel ends "
                          "\"Update Complete\", and the program's Read then reads the module",
                      .needs = Needs::Write,
                      .group = kUpdateGroup,
                      .calls = calls,
                      .after = {"module-save-reset"},
                      .limit = limit,
                      .run = [](Session &s) { return withRig(s, generalLeave); }});
    checks.push_back({.name = "update-general-change",
                      .description =
                          "updates on the General tab that move the module to another channel "
                          "and back end \"Update Complete\", the pairing reports the base "
                          "channel then and at the next pairing, and the channel is restored",
                      .needs = Needs::Write,
                      .group = kUpdateGroup,
                      .calls = calls,
                      .after = {"module-save-reset", "channel-set"},
                      .limit = limit,
                      .run = [](Session &s) { return withRig(s, generalChange); }});
    // A model or a parameter write that its own check refused fails these updates too; the
    // library has been told once, by that check.
    std::vector<std::string_view> acquisitionAfter = {"module-save-reset", "module-model"};
    for (const CommandCode command : kParameterCommands)
        acquisitionAfter.push_back(kept("module-write-" + std::to_string(code(command))));
    checks.push_back(
        {.name = "update-acquisition-forms",
         .description =
             kept("updates on the Acquisition Modules tab that write each form of value the "
                  "program sends (both ends of each range, fractions, exponent form, blanks filled "
                  "from the "
                  "module, low power mode 0 and 1) end \"Update Complete\", verified, and read "
                  "back as written (a value refused with a failure flag is noted), and the "
                  "module's values "
                  "are restored"),
         .needs = Needs::Write,
         .group = kUpdateGroup,
         .calls = calls,
         .after = acquisitionAfter,
         .limit = limit,
         .run = [](Session &s) { return withRig(s, acquisitionUpdates); }});
}

} // namespace fw::check
