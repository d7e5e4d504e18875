#include "continuous_run.h"

#include "messages.h"

namespace fw {

void ContinuousRun::run(const UpdateOptions &options) {
    if (running_)
        return;
    running_ = true;
    stopAsked_ = false;
    complete_ = failed_ = idle_ = 0;
    lastComplete_ = 0;
    window_.runStarted();
    // Between modules too, where the window's input is taken.
    window_.guardEntries(true);
    window_.setNote("", NoteTone::Plain);

    UpdateOptions each = options;
    each.continuous = true;
    each.stopAsked = &stopAsked_;
    for (;;) {
        each.passOver = lastComplete_;
        const UpdateOutcome outcome = update_.run(each);
        if (!carryOn(outcome))
            break;
        // The input that waited for the module under way.
        window_.processEvents();
        if (stopAsked_) {
            std::string note;
            if (outcome.end == UpdateEnd::Stopped)
                note.append(outcome.report.message.text).append(" ");
            note += messages::runStopped(complete_, failed_);
            window_.setNote(note, NoteTone::Plain);
            break;
        }
    }
    window_.setStatus("");
    window_.guardEntries(false);
    window_.runEnded();
    running_ = false;
}

bool ContinuousRun::carryOn(const UpdateOutcome &outcome) {
    const UpdateReport &report = outcome.report;
    switch (outcome.end) {
    case UpdateEnd::NotStarted:
    case UpdateEnd::EntriesIncompatible: // they fail every module alike: the operator's to change
    case UpdateEnd::NotTheModule:
        // Its box has been shown; the note of the last module would only mislead now.
        window_.setNote("", NoteTone::Plain);
        return false;
    case UpdateEnd::Complete:
        ++complete_;
        idle_ = 0;
        // Its reset restarts it, and it may pair again at once.
        lastComplete_ = outcome.moduleId;
        window_.setNote(messages::moduleNote(report, remark_ ? remark_(report) : ""),
                        NoteTone::Success);
        return true;
    case UpdateEnd::ModuleFailed:
        ++failed_;
        idle_ = 0;
        // A failed module was not reset: the same ID next is the operator trying again.
        lastComplete_ = 0;
        window_.setNote(messages::moduleNote(report, remark_ ? remark_(report) : ""),
                        NoteTone::Failure);
        return true;
    case UpdateEnd::Stopped:
        return true; // the stop is told below
    case UpdateEnd::NoModule:
    case UpdateEnd::SameModule:
        if (++idle_ >= kIdleWindows) {
            window_.setNote(messages::runEndedWithoutModules(kIdleWindows), NoteTone::Plain);
            return false;
        }
        window_.setNote(outcome.end == UpdateEnd::NoModule
                            ? messages::noModuleNote(idle_, kIdleWindows)
                            : report.message.text,
                        NoteTone::Plain);
        return true;
    }
    return false;
}

} // namespace fw
