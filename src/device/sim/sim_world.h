#pragma once

#include "provider_calls.h"
#include "sim_config.h"

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fwsim {

// The calls whose number the test-only inspection reports: those on the base station.
using fw::host::Call;
std::optional<Call> callNamed(std::string_view function);

inline constexpr size_t kCallLogLength = 10000;

struct Module {
    uint32_t id = 0;
    std::string model;
    uint8_t channel = kMinChannel;
    ParameterValues working;
    ParameterValues saved;
};

// What the base station and the fleet look like; shared between the provider that
// changes it and the inspection functions that read it.
struct World {
    explicit World(const Config &config);

    Module *find(uint32_t id);
    // Counts a call and logs it with its argument (-1: none). The caller holds mutex.
    void record(Call call, int argument);
    // Writes the state file, when there is one, by replacing it whole. Returns false
    // when it could not be written, with the reason in why. The caller holds mutex.
    bool writeState(std::string *why = nullptr) const;
    // Keeps the base station's channel for the next run. The caller holds mutex.
    void keepChannel() const;

    mutable std::mutex mutex;
    std::vector<Module> modules;
    uint8_t baseChannel;
    bool open = false;
    uint32_t paired = 0;
    size_t nextToWake = 0;
    // Here rather than in the provider so that a test can change them between updates.
    Faults faults;
    std::array<long, fw::host::kCalls.size()> calls{};
    std::deque<std::string> callLog; // the latest kCallLogLength calls
    std::string channelPath;
    std::string statePath;
};

// The world of the most recently created provider, kept after that provider is gone
// so that a test can still look at it.
std::shared_ptr<World> currentWorld();
void setCurrentWorld(std::shared_ptr<World> world);

} // namespace fwsim
