#include "update_sequence.h"

#include "command_codes.h"
#include "data_provider.h"
#include "messages.h"
#include "module_access.h"
#include "parameter_phase.h"
#include "window_port.h"

#include <chrono>
#include <limits>

namespace fw {

namespace {

using namespace std::chrono_literals;

constexpr int kAcquisitionTab = 1;
constexpr int32_t kBaseStation = 1;
constexpr int32_t kKeepModuleChannel = 1;
constexpr int32_t kMoveModuleToBaseChannel = 0;
constexpr int32_t kPairingWindowSeconds = 10;
// The module needs a moment after waking before it answers reads, and one after saving
// before it can be reset.
constexpr auto kAfterPairing = 500ms;
constexpr auto kAfterSave = 1000ms;

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
    RunningFlag flag(running_);
    try {
        runSteps();
    } catch (const ProviderError &error) {
        // The base station went away mid-update: say so and leave the window usable.
        endWithMessage(window_, messages::communicationFailure(error.description(), error.code()));
    }
}

void UpdateSequence::runSteps() {
    // 1. Check and stage the entries before anything is sent.
    const bool staged = window_.activeTab() == kAcquisitionTab;
    if (staged) {
        if (const auto refusal = stageEntries(readEntries(window_), session_.staged)) {
            window_.showMessage(*refusal);
            return;
        }
    }

    // 2. The base station's channel as it is now.
    const uint8_t baseChannel = dp_.GetBaseChannel(kBaseStation);

    // 3. Busy until the module has been dealt with.
    window_.setBusyPointer();
    window_.setStatus("Waiting...");

    // 4 to 6. Pair while the operator power-cycles the module.
    if (!pairWithModule(baseChannel))
        return;

    // 7. Nobody woke up within the pairing window.
    if (session_.moduleId == 0) {
        endWithMessage(window_, messages::notPaired());
        return;
    }

    // 8. Show which module answered.
    window_.setStatus("ID: " + messages::hexId(session_.moduleId));

    // 9. Let the module settle after waking.
    window_.pause(kAfterPairing);

    // 10. Read the model.
    ModuleAccess access(dp_, window_);
    if (!access.MRead(session_.moduleId, CommandCode::Model, session_.model,
                      commandInfo(CommandCode::Model).readFailure))
        return;

    // 11. The parameters, only when this update staged them: otherwise the staged values
    // would be an earlier update's.
    if (staged && window_.activeTab() == kAcquisitionTab &&
        !runParameterPhase(access, window_, session_))
        return;

    // 12. Make the module keep its settings.
    if (!access.MWrite(session_.moduleId, CommandCode::Save, "",
                       commandInfo(CommandCode::Save).writeFailure))
        return;

    // 13. The one point where queued window events run.
    window_.processEvents();

    // 14. Give the module time to save.
    window_.pause(kAfterSave);

    // 15. Restart the module with its new settings.
    if (!access.MWrite(session_.moduleId, CommandCode::Reset, "",
                       commandInfo(CommandCode::Reset).writeFailure))
        return;

    // 16. Done.
    endWithMessage(window_, messages::updateComplete(session_.model, session_.moduleId));
}

bool UpdateSequence::pairWithModule(uint8_t baseChannel) {
    if (window_.leaveChannelSelected()) {
        dp_.PairModule(kBaseStation, kKeepModuleChannel, kPairingWindowSeconds, session_.moduleId);
        return true;
    }

    // The list shows channel n at position n - 1; without a selection there is no channel
    // to move to, and channel 0 must never be sent.
    const int target = window_.rfChannelPosition() + 1;
    if (target < 1 || target > std::numeric_limits<uint8_t>::max()) {
        endWithMessage(window_, messages::channelNotSet());
        return false;
    }
    const auto channel = static_cast<uint8_t>(target);
    if (baseChannel != channel)
        dp_.SetBaseChannel(kBaseStation, channel);
    // The base station may ignore a channel it cannot take; only a read-back tells.
    if (dp_.GetBaseChannel(kBaseStation) != channel) {
        endWithMessage(window_, messages::channelNotSet());
        return false;
    }
    dp_.PairModule(kBaseStation, kMoveModuleToBaseChannel, kPairingWindowSeconds,
                   session_.moduleId);
    return true;
}

} // namespace fw
