#pragma once

#include "module_access.h"
#include "parameter_rules.h"
#include "update_observer.h"

#include <cstdint>
#include <functional>
#include <string>

namespace fw {

class DataProvider;
class WindowPort;

// How one run of the Update ended, as a continuous run tells its endings apart.
enum class UpdateEnd {
    NotStarted,          // another run held the session, or an entry was refused
    Complete,            // "Update Complete"
    ModuleFailed,        // the module refused a command, failed a check or is not supported
    EntriesIncompatible, // the entries break a rule whatever the module holds
    NoModule,            // nobody woke within the pairing window
    SameModule,          // the module just updated paired again: left alone, nothing reported
    Stopped,      // a continuous run was stopped before anything was written: nothing reported
    NotTheModule, // the base station or the library failed, or no channel was chosen
};

// The endings that a continuous run shows in the status area instead of a box: the module's
// own, and its Stop.
bool shownByTheRun(UpdateEnd end);

// What the window keeps from one update to the next.
struct ModuleSession {
    uint32_t moduleId = 0; // never cleared by the window; PairModule writes it
    std::string model;
    StagedParameters staged;
    bool busy = false; // an Update or a Read is under way: no other may start
};

// What the Update and the Read have in common: one module dealt with from the pairing to
// its last command, and the one way each of them ends. Both work on the window's session,
// so that one of them running keeps the other from starting.
class ModuleSequence {
public:
    ModuleSequence(const ModuleSequence &) = delete;
    ModuleSequence &operator=(const ModuleSequence &) = delete;

    bool running() const { return session_.busy; }

protected:
    ModuleSequence(DataProvider &provider, WindowPort &window, ModuleSession &session,
                   UpdateObserver *observer)
        : dp_(provider), window_(window), session_(session), observer_(observer) {}
    ~ModuleSequence() = default;

    // Holds the session for one run; a run that finds it held does nothing (a click
    // queued while the module saves is delivered inside the run).
    class Hold {
    public:
        explicit Hold(ModuleSession &session) : session_(session) { session_.busy = true; }
        ~Hold() { session_.busy = false; }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        ModuleSession &session_;
    };

    // What the steps of one run learn for its report.
    struct Progress {
        UpdateReport report;
        bool modelRead = false;
        int32_t pairedChannel = 0;               // the pairing's word on the module's channel
        UpdateEnd end = UpdateEnd::ModuleFailed; // until a step says otherwise
        // Part of a continuous run: an ending of the module's own shows no box, and a
        // pairing with passOver (the module just updated) ends the update at once.
        bool continuous = false;
        uint32_t passOver = 0;
    };

    // Runs the steps and ends the run with their message, or with the message of a
    // library that failed under them. Returns the button that dismissed it.
    MessageButton conclude(Progress &progress, const std::function<Message()> &steps);

    // Hourglass and "Waiting..." while the operator power-cycles the module.
    void startWaiting();
    // Pairs in channelMode; with kMoveModuleToBaseChannel the module must end on
    // baseChannel. Then shows the module's ID and lets it settle before its first read.
    Ending pairAndGreet(int32_t channelMode, uint8_t baseChannel, Progress &progress);
    Ending readModel(ModuleAccess &access, Progress &progress);
    // Restarts the module with its saved settings.
    Ending resetModule(ModuleAccess &access) const;

    DataProvider &dp_;
    WindowPort &window_;
    ModuleSession &session_;

private:
    // The one end of every run past the entry check.
    MessageButton finish(Progress &progress, const Message &ending);

    UpdateObserver *observer_;
};

} // namespace fw
