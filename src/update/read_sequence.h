#pragma once

#include "module_sequence.h"

namespace fw {

// The Read button: shows what a module holds without changing it. It pairs without moving
// the module whatever the channel strategy, reads the model and the four parameters and
// resets the module without saving, so that it leaves as it came. The operator may then
// take its values into the entries of the "Acquisition Modules" tab.
class ReadSequence : public ModuleSequence {
public:
    // observer, when given, hears of every Read.
    ReadSequence(DataProvider &provider, WindowPort &window, ModuleSession &session,
                 UpdateObserver *observer = nullptr)
        : ModuleSequence(provider, window, session, observer) {}

    // Runs one Read; a call made while an Update or a Read runs on the same session returns
    // at once and does nothing.
    void run();

private:
    Message runSteps(Progress &progress);
};

} // namespace fw
