#pragma once

#include "update_sequence.h"

#include <functional>
#include <string>

namespace fw {

// Module after module with the same entries and no box between them: each module is updated
// as one click would update it, its outcome goes to the status area, and the next pairing
// starts at once. The run ends when the operator stops it, after a run of pairing windows
// without a new module, and, with the usual box, on anything that is not the module's doing.
class ContinuousRun {
public:
    // Pairing windows in a row without a new module after which the run ends by itself.
    static constexpr int kIdleWindows = 3;

    // What to add to a module's note: how the session list marks it, if at all.
    using Remark = std::function<std::string(const UpdateReport &)>;

    ContinuousRun(UpdateSequence &update, WindowPort &window, Remark remark = {})
        : update_(update), window_(window), remark_(std::move(remark)) {}

    // Runs until the run ends; a call while one runs does nothing.
    void run(const UpdateOptions &options = {});
    // Ends the run once the module under way is done with: a module that paired is updated
    // to its end, so none is left written but unsaved, or moved but not configured.
    void stop() { stopAsked_ = true; }
    bool running() const { return running_; }

private:
    // Handles one module's outcome; false when the run must end.
    bool carryOn(const UpdateOutcome &outcome);

    UpdateSequence &update_;
    WindowPort &window_;
    Remark remark_;
    bool running_ = false;
    bool stopAsked_ = false;
    int complete_ = 0;
    int failed_ = 0;
    int idle_ = 0;
    uint32_t lastComplete_ = 0;
};

} // namespace fw
