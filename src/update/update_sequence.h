#pragma once

#include "module_sequence.h"

#include <cstdint>

namespace fw {

// What the operator chose for updates beside the entries.
struct UpdateOptions {
    // Read every value written back before the save, and end when one differs.
    bool verifyWrites = false;
    // One module of a continuous run: an ending of the module's own (complete, failed, no
    // module) shows no message box and leaves the status label as it is; the run shows it.
    bool continuous = false;
    // In a run, the module updated last: when it pairs again, as it does when it restarts
    // after its reset, it is left alone.
    uint32_t passOver = 0;
    // In a run, the operator's Stop: looked at as each call returns, until the first write.
    // Once writing has begun the module is updated to its end, so that none is left with
    // values written but not saved.
    const bool *stopAsked = nullptr;
};

// How one click's update ended, with its report (empty when it did not start).
struct UpdateOutcome {
    UpdateEnd end = UpdateEnd::NotStarted;
    UpdateReport report;
    uint32_t moduleId = 0; // the module that paired; 0 none
};

// The Update button: one whole update, run synchronously in the click handler.
class UpdateSequence : public ModuleSequence {
public:
    // observer, when given, hears of every update that gets past the entry check.
    UpdateSequence(DataProvider &provider, WindowPort &window, ModuleSession &session,
                   UpdateObserver *observer = nullptr)
        : ModuleSequence(provider, window, session, observer) {}

    // Runs one update; a call made while an update or a Read runs on the same session
    // (from the events processed after the save) returns at once and does nothing.
    UpdateOutcome run(const UpdateOptions &options = {});

private:
    // The steps after the entry check; returns the message the update ends with.
    Message runSteps(const Entries &entries, const UpdateOptions &options, Progress &progress);
    // Ends the update of a paired module for the run's Stop, before anything is written.
    Message stopped(Progress &progress);
    // Pairs under the channel strategy of entries.
    Ending pairWithModule(uint8_t baseChannel, const Entries &entries, Progress &progress);
};

} // namespace fw
