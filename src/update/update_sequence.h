#pragma once

#include "module_access.h"
#include "parameter_rules.h"
#include "update_observer.h"

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
    // What the steps of one update past the entry check learn for its report.
    struct Progress {
        UpdateReport report;
        bool modelRead = false;
    };

    // The steps after the entry check; returns the message the update ends with.
    Message runSteps(bool staged, const ParameterEntries &entries, Progress &progress);
    // Pairs under the chosen channel strategy.
    Ending pairWithModule(uint8_t baseChannel, Progress &progress);
    // The one end of every update past the entry check.
    void finish(Progress &progress, const Message &ending);

    DataProvider &dp_;
    WindowPort &window_;
    ModuleSession &session_;
    UpdateObserver *observer_;
    bool running_ = false;
};

} // namespace fw
