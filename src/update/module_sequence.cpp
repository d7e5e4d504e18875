#include "module_sequence.h"

#include "data_provider.h"
#include "messages.h"
#include "module_protocol.h"
#include "window_port.h"

#include <chrono>

namespace fw {

namespace {

using namespace std::chrono_literals;

// The module needs a moment after waking before it answers reads.
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

// Keys typed while a module is dealt with must not change the entries of the next one.
class EntryGuard {
public:
    explicit EntryGuard(WindowPort &window) : window_(window) { window_.guardEntries(true); }
    ~EntryGuard() { window_.guardEntries(false); }
    EntryGuard(const EntryGuard &) = delete;
    EntryGuard &operator=(const EntryGuard &) = delete;

private:
    WindowPort &window_;
};

} // namespace

bool shownByTheRun(UpdateEnd end) {
    switch (end) {
    case UpdateEnd::Complete:
    case UpdateEnd::ModuleFailed:
    case UpdateEnd::NoModule:
    case UpdateEnd::SameModule:
    case UpdateEnd::Stopped:
        return true;
    case UpdateEnd::NotStarted:
    case UpdateEnd::EntriesIncompatible:
    case UpdateEnd::NotTheModule:
        return false;
    }
    return false;
}

MessageButton ModuleSequence::conclude(Progress &progress, const std::function<Message()> &steps) {
    const EntryGuard guard(window_);
    Message ending;
    try {
        ending = steps();
    } catch (const ProviderStopped &stopped) {
        // The library's process is gone; the next run starts a fresh one.
        ending = messages::providerStopped(stopped.happened());
        progress.end = UpdateEnd::NotTheModule;
    } catch (const ProviderError &error) {
        // The base station went away mid-run: say so and leave the window usable.
        ending = messages::communicationFailure(error.description(), error.code());
        progress.end = UpdateEnd::NotTheModule;
    }
    if (progress.report.complete)
        progress.end = UpdateEnd::Complete;
    return finish(progress, ending);
}

MessageButton ModuleSequence::finish(Progress &progress, const Message &ending) {
    window_.setDefaultPointer();
    progress.report.model = progress.modelRead ? session_.model : std::string();
    progress.report.message = ending;
    // The observer hears of the run, message included, before the operator sees it. A
    // module left alone, or stopped before anything was written, was not updated.
    std::optional<Message> notice;
    const bool updated =
        progress.end != UpdateEnd::SameModule && progress.end != UpdateEnd::Stopped;
    if (observer_ && updated)
        notice = observer_->updateEnding(progress.report);
    MessageButton chosen = MessageButton::Ok;
    // A continuous run shows these endings itself, without stopping for a box.
    if (!progress.continuous || !shownByTheRun(progress.end)) {
        chosen = window_.showMessage(ending);
        window_.setStatus("");
    }
    if (notice)
        window_.showMessage(*notice);
    return chosen;
}

void ModuleSequence::startWaiting() {
    window_.setBusyPointer();
    window_.setStatus("Waiting...");
}

Ending ModuleSequence::pairAndGreet(int32_t channelMode, uint8_t baseChannel, Progress &progress) {
    {
        const PairingWait wait(window_, kPairingWindowSeconds);
        dp_.PairModule(kBaseStationArg, channelMode, kPairingWindowSeconds, session_.moduleId,
                       progress.pairedChannel);
    }

    // Nobody woke up within the pairing window.
    if (session_.moduleId == 0) {
        progress.end = UpdateEnd::NoModule;
        return messages::notPaired();
    }

    // Show which module answered.
    progress.report.moduleId = messages::hexId(session_.moduleId);
    window_.setStatus("ID: " + progress.report.moduleId);

    // The module just updated wakes again as it restarts after its reset.
    if (progress.passOver != 0 && session_.moduleId == progress.passOver) {
        progress.end = UpdateEnd::SameModule;
        return messages::pairedAgain(session_.moduleId);
    }

    // A library may pair without moving the module; a fleet split across channels goes
    // unnoticed until its data stops arriving. A channel outside the radio's is no word
    // on it.
    const int32_t reported = progress.pairedChannel;
    if (channelMode == kMoveModuleToBaseChannel && isChannel(reported) && reported != baseChannel)
        return messages::moduleChannelNotTaken(baseChannel, reported);

    // Let the module settle after waking.
    window_.pause(kAfterPairing);
    return std::nullopt;
}

Ending ModuleSequence::readModel(ModuleAccess &access, Progress &progress) {
    if (Ending failed = access.MRead(session_.moduleId, CommandCode::Model, session_.model,
                                     commandInfo(CommandCode::Model).readFailure))
        return failed;
    progress.modelRead = true;
    return std::nullopt;
}

Ending ModuleSequence::resetModule(ModuleAccess &access) const {
    return access.MWrite(session_.moduleId, CommandCode::Reset, "",
                         commandInfo(CommandCode::Reset).writeFailure);
}

} // namespace fw
