#include "update_sequence.h"

#include "data_provider.h"
#include "messages.h"
#include "module_access.h"
#include "module_protocol.h"
#include "parameter_phase.h"
#include "window_port.h"

#include <limits>
#include <optional>

namespace fw {

namespace {

constexpr int32_t kBaseStation = kBaseStationArg;

} // namespace

UpdateOutcome UpdateSequence::run(const UpdateOptions &options) {
    // A click queued while the module saves is delivered inside this update.
    if (session_.busy)
        return {};
    const Hold hold(session_);

    // 1. Check and stage the entries before anything is sent: the parameters written are
    // always those of this click, whatever changes during the waits.
    const Entries entries = window_.entries();
    const bool staged = entries.tab == kAcquisitionTab;
    if (staged) {
        if (const auto refusal = stageEntries(entries, session_.staged)) {
            window_.showMessage(*refusal);
            if (const std::optional<EntryField> field = firstOutOfRange(entries))
                window_.entryRefused(*field);
            return {};
        }
    }

    Progress progress;
    progress.report.tab = staged ? UpdateTab::Acquisition : UpdateTab::General;
    progress.continuous = options.continuous;
    progress.passOver = options.passOver;
    conclude(progress, [&] { return runSteps(entries, options, progress); });
    return {progress.end, progress.report,
            progress.report.moduleId.empty() ? 0 : session_.moduleId};
}

Message UpdateSequence::runSteps(const Entries &entries, const UpdateOptions &options,
                                 Progress &progress) {
    UpdateReport &report = progress.report;

    // 2. The base station's channel as it is now.
    const uint8_t baseChannel = dp_.GetBaseChannel(kBaseStation);

    // 3. Busy until the module has been dealt with.
    startWaiting();

    // 4 to 9. Pair while the operator power-cycles the module, show it and let it settle.
    // The channel choice is read here, once the base station has answered.
    if (Ending failed = pairWithModule(baseChannel, window_.entries(), progress))
        return *failed;
    if (options.stopAsked && *options.stopAsked)
        return stopped(progress);

    // 10. Read the model.
    ModuleAccess access(dp_);
    if (Ending failed = readModel(access, progress))
        return *failed;
    if (options.stopAsked && *options.stopAsked)
        return stopped(progress);

    // 11. The tab is read again: the parameters are written only when it is still the
    // one they were staged on at step 1.
    if (entries.tab == kAcquisitionTab && window_.entries().tab == kAcquisitionTab)
        if (Ending failed = runParameterPhase(access, session_, entries, options.verifyWrites,
                                              report, progress.end))
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
    if (Ending failed = resetModule(access))
        return *failed;

    // 16. Done.
    report.complete = true;
    return messages::updateComplete(session_.model, session_.moduleId, report.verified);
}

Message UpdateSequence::stopped(Progress &progress) {
    progress.end = UpdateEnd::Stopped;
    return messages::stoppedBeforeUpdate(session_.moduleId);
}

Ending UpdateSequence::pairWithModule(uint8_t baseChannel, const Entries &entries,
                                      Progress &progress) {
    UpdateReport &report = progress.report;
    if (!entries.changeChannel) {
        report.channelKept = true;
        return pairAndGreet(kKeepModuleChannel, baseChannel, progress);
    }

    // The list shows channel n at position n - 1; without a selection there is no channel
    // to move to, and channel 0 must never be sent.
    const int target = entries.rfChannelPosition + 1;
    progress.end = UpdateEnd::NotTheModule; // until the base station is on the channel
    if (target < 1 || target > std::numeric_limits<uint8_t>::max())
        return messages::channelNotSet();
    const auto channel = static_cast<uint8_t>(target);
    report.channel = target;
    if (baseChannel != channel)
        dp_.SetBaseChannel(kBaseStation, channel);
    // The base station may ignore a channel it cannot take; only a read-back tells.
    if (dp_.GetBaseChannel(kBaseStation) != channel)
        return messages::channelNotSet();
    progress.end = UpdateEnd::ModuleFailed;
    return pairAndGreet(kMoveModuleToBaseChannel, channel, progress);
}

} // namespace fw
