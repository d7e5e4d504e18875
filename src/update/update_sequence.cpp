#include "update_sequence.h"

#include "data_provider.h"
#include "messages.h"
#include "module_access.h"
#include "module_protocol.h"
#include "parameter_phase.h"
#include "update_observer.h"
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

// The window as the steps of one update see it. Whichever step ends the update (this
// sequence, the parameter phase or a failed read or write) shows its message through
// here, so the observer hears of the update, message included, before anyone sees it.
class UpdateSequence::Trace final : public WindowPort {
public:
    Trace(WindowPort &window, const ModuleSession &session, UpdateObserver *observer)
        : window_(window), session_(session), observer_(observer) {}

    UpdateReport report;
    bool pastEntryCheck = false;
    bool modelRead = false;
    std::optional<Message> notice;

    int activeTab() const override { return window_.activeTab(); }
    std::string txIntervalText() const override { return window_.txIntervalText(); }
    std::string sampleTimeText() const override { return window_.sampleTimeText(); }
    std::string sleepDelayText() const override { return window_.sleepDelayText(); }
    int lowPowerModePosition() const override { return window_.lowPowerModePosition(); }
    int rfChannelPosition() const override { return window_.rfChannelPosition(); }
    bool leaveChannelSelected() const override { return window_.leaveChannelSelected(); }
    void setStatus(const std::string &text) override { window_.setStatus(text); }
    void setBusyPointer() override { window_.setBusyPointer(); }
    void setDefaultPointer() override { window_.setDefaultPointer(); }
    void processEvents() override { window_.processEvents(); }
    void pause(std::chrono::milliseconds duration) override { window_.pause(duration); }
    void entryRefused(EntryField field) override { window_.entryRefused(field); }
    void pairingStarted(std::chrono::seconds window) override { window_.pairingStarted(window); }
    void pairingEnded() override { window_.pairingEnded(); }

    void showMessage(const Message &message) override {
        // Every update shows one message, the one it ends with.
        if (pastEntryCheck && observer_ && !reported_) {
            reported_ = true;
            report.model = modelRead ? session_.model : std::string();
            report.message = message;
            notice = observer_->updateEnding(report);
        }
        window_.showMessage(message);
    }

private:
    WindowPort &window_;
    const ModuleSession &session_;
    UpdateObserver *observer_;
    bool reported_ = false;
};

void UpdateSequence::run() {
    // A click queued while the module saves is delivered inside this update.
    if (running_)
        return;
    RunningFlag flag(running_);
    Trace trace(window_, session_, observer_);
    try {
        runSteps(trace);
    } catch (const ProviderStopped &stopped) {
        // The library's process is gone; the next update starts a fresh one.
        endWithMessage(trace, messages::providerStopped(stopped.happened()));
    } catch (const ProviderError &error) {
        // The base station went away mid-update: say so and leave the window usable.
        endWithMessage(trace, messages::communicationFailure(error.description(), error.code()));
    }
    if (trace.notice)
        window_.showMessage(*trace.notice);
}

void UpdateSequence::runSteps(Trace &window) {
    // 1. Check and stage the entries before anything is sent.
    const bool staged = window.activeTab() == kAcquisitionTab;
    const ParameterEntries entries = staged ? readEntries(window) : ParameterEntries{};
    if (staged) {
        if (const auto refusal = stageEntries(entries, session_.staged)) {
            window.showMessage(*refusal);
            if (const std::optional<EntryField> field = firstOutOfRange(entries))
                window.entryRefused(*field);
            return;
        }
    }
    window.pastEntryCheck = true;
    window.report.tab = staged ? UpdateTab::Acquisition : UpdateTab::General;

    // 2. The base station's channel as it is now.
    const uint8_t baseChannel = dp_.GetBaseChannel(kBaseStation);

    // 3. Busy until the module has been dealt with.
    window.setBusyPointer();
    window.setStatus("Waiting...");

    // 4 to 6. Pair while the operator power-cycles the module.
    if (!pairWithModule(baseChannel, window))
        return;

    // 7. Nobody woke up within the pairing window.
    if (session_.moduleId == 0) {
        endWithMessage(window, messages::notPaired());
        return;
    }

    // 8. Show which module answered.
    window.report.moduleId = messages::hexId(session_.moduleId);
    window.setStatus("ID: " + window.report.moduleId);

    // 9. Let the module settle after waking.
    window.pause(kAfterPairing);

    // 10. Read the model.
    ModuleAccess access(dp_, window);
    if (!access.MRead(session_.moduleId, CommandCode::Model, session_.model,
                      commandInfo(CommandCode::Model).readFailure))
        return;
    window.modelRead = true;

    // 11. The parameters, only when this update staged them: otherwise the staged values
    // would be an earlier update's.
    const bool parameters = staged && window.activeTab() == kAcquisitionTab;
    if (!parameters)
        window.report.tab = UpdateTab::General;
    if (parameters && !runParameterPhase(access, window, session_, entries, window.report.written))
        return;

    // 12. Make the module keep its settings.
    if (!access.MWrite(session_.moduleId, CommandCode::Save, "",
                       commandInfo(CommandCode::Save).writeFailure))
        return;

    // 13. The one point where queued window events run.
    window.processEvents();

    // 14. Give the module time to save.
    window.pause(kAfterSave);

    // 15. Restart the module with its new settings.
    if (!access.MWrite(session_.moduleId, CommandCode::Reset, "",
                       commandInfo(CommandCode::Reset).writeFailure))
        return;

    // 16. Done.
    window.report.complete = true;
    endWithMessage(window, messages::updateComplete(session_.model, session_.moduleId));
}

bool UpdateSequence::pairWithModule(uint8_t baseChannel, Trace &window) {
    if (window.leaveChannelSelected()) {
        window.report.channelKept = true;
        const PairingWait wait(window, kPairingWindowSeconds);
        dp_.PairModule(kBaseStation, kKeepModuleChannel, kPairingWindowSeconds, session_.moduleId);
        return true;
    }

    // The list shows channel n at position n - 1; without a selection there is no channel
    // to move to, and channel 0 must never be sent.
    const int target = window.rfChannelPosition() + 1;
    if (target < 1 || target > std::numeric_limits<uint8_t>::max()) {
        endWithMessage(window, messages::channelNotSet());
        return false;
    }
    const auto channel = static_cast<uint8_t>(target);
    window.report.channel = target;
    if (baseChannel != channel)
        dp_.SetBaseChannel(kBaseStation, channel);
    // The base station may ignore a channel it cannot take; only a read-back tells.
    if (dp_.GetBaseChannel(kBaseStation) != channel) {
        endWithMessage(window, messages::channelNotSet());
        return false;
    }
    const PairingWait wait(window, kPairingWindowSeconds);
    dp_.PairModule(kBaseStation, kMoveModuleToBaseChannel, kPairingWindowSeconds,
                   session_.moduleId);
    return true;
}

} // namespace fw
