#include "update_sequence.h"

#include "data_provider.h"
#include "messages.h"
#include "module_access.h"
#include "module_protocol.h"
#include "parameter_phase.h"
#include "window_port.h"

#include <chrono>
#include <limits>

namespace fw {

namespace {

using namespace std::chrono_literals;

constexpr int kAcquisitionTab = 1;
constexpr int32_t kBaseStation = kBaseStationArg;
// The module needs a moment after waking before it answers reads (and one after saving,
// kAfterSave, before it can be reset).
constexpr auto kAfterPairing = 500ms;

// Tells the window how long the pairing call may wait, and when it has returned.
class PairingWait {
public:
    PairingWait(WindowPort &window, int32_t seconds) : window_(window) {
        window_.pairingStarted(std::chrono::seconds(seconds));
    }
    ~PairingWait() { window_.pairingEnded(); }
    PairingWait(const PairingWait &) = delete;
    PairingWait &operator=(const PairingWait &) = delete;

private:
    WindowPort &window_;
};

class RunningFlag {
public:
    explicit RunningFlag(bool &flag) : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag &) = delete;
    RunningFlag &operator=(const RunningFlag &) = delete;

private:
    bool &flag_;
};

} // namespace

void UpdateSequence::run() {
    // A click queued while the module saves is delivered inside this update.
    if (running_)
        return;
    const RunningFlag flag(running_);

    // 1. Check and stage the entries before anything is sent.
    const bool staged = window_.activeTab() == kAcquisitionTab;
    const ParameterEntries entries = staged ? readEntries(window_) : ParameterEntries{};
    if (staged) {
        if (const auto refusal = stageEntries(entries, session_.staged)) {
            window_.showMessage(*refusal);
            if (const std::optional<EntryField> field = firstOutOfRange(entries))
                window_.entryRefused(*field);
            return;
        }
    }

    Progress progress;
    progress.report.tab = staged ? UpdateTab::Acquisition : UpdateTab::General;
    Message ending;
    try {
        ending = runSteps(staged, entries, progress);
    } catch (const ProviderStopped &stopped) {
        // The library's process is gone; the next update starts a fresh one.
        ending = messages::providerStopped(stopped.happened());
    } catch (const ProviderError &error) {
        // The base station went away mid-update: say so and leave the window usable.
        ending = messages::communicationFailure(error.description(), error.code());
    }
    finish(progress, ending);
}

void UpdateSequence::finish(Progress &progress, const Message &ending) {
    window_.setDefaultPointer();
    // The observer hears of the update, message included, before the operator sees it.
    std::optional<Message> notice;
    if (observer_) {
        progress.report.model = progress.modelRead ? session_.model : std::string();
        progress.report.message = ending;
        notice = observer_->updateEnding(progress.report);
    }
    window_.showMessage(ending);
    window_.setStatus("");
    if (notice)
        window_.showMessage(*notice);
}

Message UpdateSequence::runSteps(bool staged, const ParameterEntries &entries, Progress &progress) {
    UpdateReport &report = progress.report;

    // 2. The base station's channel as it is now.
    const uint8_t baseChannel = dp_.GetBaseChannel(kBaseStation);

    // 3. Busy until the module has been dealt with.
    window_.setBusyPointer();
    window_.setStatus("Waiting...");

    // 4 to 6. Pair while the operator power-cycles the module.
    if (Ending failed = pairWithModule(baseChannel, progress))
        return *failed;

    // 7. Nobody woke up within the pairing window.
    if (session_.moduleId == 0)
        return messages::notPaired();

    // 8. Show which module answered.
    report.moduleId = messages::hexId(session_.moduleId);
    window_.setStatus("ID: " + report.moduleId);

    // 9. Let the module settle after waking.
    window_.pause(kAfterPairing);

    // 10. Read the model.
    ModuleAccess access(dp_);
    if (Ending failed = access.MRead(session_.moduleId, CommandCode::Model, session_.model,
                                     commandInfo(CommandCode::Model).readFailure))
        return *failed;
    progress.modelRead = true;

    // 11. The parameters, only when this update staged them: otherwise the staged values
    // would be an earlier update's.
    const bool parameters = staged && window_.activeTab() == kAcquisitionTab;
    if (!parameters)
        report.tab = UpdateTab::General;
    if (parameters)
        if (Ending failed = runParameterPhase(access, session_, entries, report.written))
            return *failed;

    // 12. Make the module keep its settings.
    if (Ending failed = access.MWrite(session_.moduleId, CommandCode::Save, "",
                                      commandInfo(CommandCode::Save).writeFailure))
        return *failed;

    // 13. The one point where queued window events run.
    window_.processEvents();

    // 14. Give the module time to save.
    window_.pause(kAfterSave);

    // 15. Restart the module with its new settings.
    if (Ending failed = access.MWrite(session_.moduleId, CommandCode::Reset, "",
                                      commandInfo(CommandCode::Reset).writeFailure))
        return *failed;

    // 16. Done.
    report.complete = true;
    return messages::updateComplete(session_.model, session_.moduleId);
}

Ending UpdateSequence::pairWithModule(uint8_t baseChannel, Progress &progress) {
    UpdateReport &report = progress.report;
    if (window_.leaveChannelSelected()) {
        report.channelKept = true;
        const PairingWait wait(window_, kPairingWindowSeconds);
        dp_.PairModule(kBaseStation, kKeepModuleChannel, kPairingWindowSeconds, session_.moduleId);
        return std::nullopt;
    }

    // The list shows channel n at position n - 1; without a selection there is no channel
    // to move to, and channel 0 must never be sent.
    const int target = window_.rfChannelPosition() + 1;
    if (target < 1 || target > std::numeric_limits<uint8_t>::max())
        return messages::channelNotSet();
    const auto channel = static_cast<uint8_t>(target);
    report.channel = target;
    if (baseChannel != channel)
        dp_.SetBaseChannel(kBaseStation, channel);
    // The base station may ignore a channel it cannot take; only a read-back tells.
    if (dp_.GetBaseChannel(kBaseStation) != channel)
        return messages::channelNotSet();
    const PairingWait wait(window_, kPairingWindowSeconds);
    dp_.PairModule(kBaseStation, kMoveModuleToBaseChannel, kPairingWindowSeconds,
                   session_.moduleId);
    return std::nullopt;
}

} // namespace fw
