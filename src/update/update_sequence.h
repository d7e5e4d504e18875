#pragma once

#include "module_sequence.h"

#include <cstdint>

namespace fw {

// What the operator chose for updates beside the entries.
struct UpdateOptions {
    // Read every value written back before the save, and end when one differs.
    bool verifyWrites = false;
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
    void run(const UpdateOptions &options = {});

private:
    // The steps after the entry check; returns the message the update ends with.
    Message runSteps(const Entries &entries, const UpdateOptions &options, Progress &progress);
    // Pairs under the channel strategy of entries.
    Ending pairWithModule(uint8_t baseChannel, const Entries &entries, Progress &progress);
};

} // namespace fw
