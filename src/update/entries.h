#pragma once

#include <string>

namespace fw {

// The tabs as Entries::tab counts them.
inline constexpr int kGeneralTab = 0;
inline constexpr int kAcquisitionTab = 1;

// The operator's entries as the window holds them, taken in one go: an update stages its
// parameters from those of its click, and the saved settings keep them from one run to the
// next. The defaults are a first run's.
struct Entries {
    // The "Acquisition Modules" tab, in the order its parameters are read and written.
    std::string txInterval = "333";
    std::string sampleTime = "5";
    std::string sleepDelay = "0";
    int lowPowerModePosition = 0; // 0 "Leave As Is", 1 "No", 2 "Yes", -1 none
    // Direction index 1: move the module to the listed channel, shown at position n - 1.
    bool changeChannel = false;
    int rfChannelPosition = 0; // -1 none
    // The active tab, kGeneralTab or kAcquisitionTab; never saved.
    int tab = kAcquisitionTab;
    // The program's options, saved apart from the six entries before the tab.
    bool verifyAfterWriting = false;
    bool nextModuleAutomatically = false;

    friend bool operator==(const Entries &, const Entries &) = default;
};

} // namespace fw
