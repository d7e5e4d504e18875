#pragma once

#include "parameter_rules.h"

#include <cstdint>
#include <string>

namespace fw {

class DataProvider;
class UpdateObserver;
class WindowPort;

// What the window keeps from one update to the next.
struct ModuleSession {
    uint32_t moduleId = 0; // never cleared by the window; PairModule writes it
    std::string model;
    StagedParameters staged;
};

// The Update button: one whole update, run synchronously in the click handler.
class UpdateSequence {
public:
    // observer, when given, hears of every update that gets past the entry check.
    UpdateSequence(DataProvider &provider, WindowPort &window, ModuleSession &session,
                   UpdateObserver *observer = nullptr)
        : dp_(provider), window_(window), session_(session), observer_(observer) {}

    // Runs one update; a call made while an update runs (from the events processed
    // after the save) returns at once and does nothing.
    void run();

    bool running() const { return running_; }

private:
    class Trace;
    void runSteps(Trace &window);
    // Pairs under the chosen channel strategy; false when the update has ended.
    bool pairWithModule(uint8_t baseChannel, Trace &window);

    DataProvider &dp_;
    WindowPort &window_;
    ModuleSession &session_;
    UpdateObserver *observer_;
    bool running_ = false;
};

} // namespace fw
