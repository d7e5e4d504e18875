#include "read_sequence.h"

#include "messages.h"
#include "module_protocol.h"
#include "parameter_phase.h"
#include "window_port.h"

namespace fw {

void ReadSequence::run() {
    if (session_.busy)
        return;
    const Hold hold(session_);

    Progress progress;
    progress.report.tab = UpdateTab::Read;
    progress.report.channelKept = true;
    const MessageButton chosen = conclude(progress, [&] { return runSteps(progress); });
    if (progress.report.complete && chosen == MessageButton::Second)
        window_.setEntries(entriesFor(progress.report.readValues));
}

Message ReadSequence::runSteps(Progress &progress) {
    UpdateReport &report = progress.report;
    startWaiting();
    // The channel is no business of a Read: the module stays where it is.
    if (Ending failed = pairAndGreet(kKeepModuleChannel, 0, progress))
        return *failed;

    ModuleAccess access(dp_);
    if (Ending failed = readModel(access, progress))
        return *failed;
    // The values of a model the program does not know mean nothing to it.
    upperCaseInPlace(session_.model);
    if (!isSupportedModel(session_.model))
        return messages::unsupportedModel(session_.model);

    // The record keeps what was read, also when a later read fails.
    if (Ending failed = readAllParameters(access, session_.moduleId, report.readValues))
        return *failed;

    // Without a save the reset brings back exactly what the module had.
    if (Ending failed = resetModule(access))
        return *failed;

    report.complete = true;
    const int32_t channel = progress.pairedChannel;
    return messages::moduleSettings(session_.model, session_.moduleId,
                                    isChannel(channel) ? std::optional<int>(channel) : std::nullopt,
                                    report.readValues);
}

} // namespace fw
