#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace fw::testing {

// Gives each test its own simulator settings: no inherited FLEETWRIGHT_SIM_* values,
// modules that wake at once, and a lock file of its own so that tests running in
// parallel do not take each other's base station.
class SimEnvironment {
public:
    SimEnvironment() {
        for (const char *name : kVariables)
            unsetenv(name);
        static int serial = 0;
        lockPath_ = ::testing::TempDir() + "fwsim-" + std::to_string(getpid()) + "-" +
                    std::to_string(++serial) + ".lock";
        set("FLEETWRIGHT_SIM_LOCK", lockPath_);
        set("FLEETWRIGHT_SIM_WAKE_MS", "0");
    }
    ~SimEnvironment() {
        for (const char *name : kVariables)
            unsetenv(name);
        std::remove(lockPath_.c_str());
        std::remove(channelPath().c_str());
    }
    SimEnvironment(const SimEnvironment &) = delete;
    SimEnvironment &operator=(const SimEnvironment &) = delete;

    void set(const char *name, const std::string &value) { setenv(name, value.c_str(), 1); }
    // Where the simulated base station keeps its channel between runs.
    std::string channelPath() const { return lockPath_ + ".channel"; }

private:
    static constexpr std::array<const char *, 6> kVariables{
        "FLEETWRIGHT_SIM_FLEET",  "FLEETWRIGHT_SIM_CHANNEL", "FLEETWRIGHT_SIM_WAKE_MS",
        "FLEETWRIGHT_SIM_FAULTS", "FLEETWRIGHT_SIM_LOCK",    "FLEETWRIGHT_SIM_STATE"};
    std::string lockPath_;
};

} // namespace fw::testing
