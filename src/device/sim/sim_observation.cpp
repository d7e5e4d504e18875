#include "fwsim.h"
#include "sim_config.h"
#include "sim_world.h"

#include <algorithm>
#include <cstring>

using namespace fwsim;

extern "C" {

int fwsim_base_channel(void) {
    const std::shared_ptr<World> world = currentWorld();
    if (!world)
        return -1;
    const std::lock_guard lock(world->mutex);
    return world->baseChannel;
}

int fwsim_is_open(void) {
    const std::shared_ptr<World> world = currentWorld();
    if (!world)
        return -1;
    const std::lock_guard lock(world->mutex);
    return world->open ? 1 : 0;
}

uint32_t fwsim_paired_module(void) {
    const std::shared_ptr<World> world = currentWorld();
    if (!world)
        return 0;
    const std::lock_guard lock(world->mutex);
    return world->paired;
}

int fwsim_module_count(void) {
    const std::shared_ptr<World> world = currentWorld();
    if (!world)
        return 0;
    const std::lock_guard lock(world->mutex);
    return static_cast<int>(world->modules.size());
}

uint32_t fwsim_module_id(int index) {
    const std::shared_ptr<World> world = currentWorld();
    if (!world)
        return 0;
    const std::lock_guard lock(world->mutex);
    if (index < 0 || static_cast<size_t>(index) >= world->modules.size())
        return 0;
    return world->modules[static_cast<size_t>(index)].id;
}

int fwsim_module_channel(uint32_t id) {
    const std::shared_ptr<World> world = currentWorld();
    if (!world)
        return -1;
    const std::lock_guard lock(world->mutex);
    const Module *module = world->find(id);
    return module ? module->channel : -1;
}

long fwsim_module_value(uint32_t id, uint8_t command, int saved, char *buf, size_t cap) {
    const std::shared_ptr<World> world = currentWorld();
    if (!world)
        return -1;
    const std::lock_guard lock(world->mutex);
    const Module *module = world->find(id);
    if (!module)
        return -1;
    const std::string *value = nullptr;
    if (command == kModelCode)
        value = &module->model;
    else if (const std::optional<size_t> index = parameterIndex(command))
        value = saved ? &module->saved[*index] : &module->working[*index];
    else
        return -1;
    if (buf && cap > 0) {
        const size_t copied = std::min(cap - 1, value->size());
        std::memcpy(buf, value->data(), copied);
        buf[copied] = '\0';
    }
    return static_cast<long>(value->size());
}

long fwsim_call_count(const char *function) {
    const std::shared_ptr<World> world = currentWorld();
    const std::optional<Call> call = function ? callNamed(function) : std::nullopt;
    if (!call)
        return -1;
    if (!world)
        return 0;
    const std::lock_guard lock(world->mutex);
    return world->calls[fw::host::indexOf(*call)];
}

long fwsim_call_log(char *buf, size_t cap) {
    const std::shared_ptr<World> world = currentWorld();
    std::string log;
    if (world) {
        const std::lock_guard lock(world->mutex);
        for (const std::string &line : world->callLog)
            log.append(line).append(1, '\n');
    }
    if (buf && cap > 0) {
        const size_t copied = std::min(cap - 1, log.size());
        std::memcpy(buf, log.data(), copied);
        buf[copied] = '\0';
    }
    return static_cast<long>(log.size());
}

void fwsim_clear_call_log(void) {
    if (const std::shared_ptr<World> world = currentWorld()) {
        const std::lock_guard lock(world->mutex);
        world->callLog.clear();
    }
}

int fwsim_set_faults(const char *faults) {
    const std::shared_ptr<World> world = currentWorld();
    if (!world)
        return -1;
    Faults parsed;
    try {
        if (faults && *faults)
            parsed = parseFaults(faults);
    } catch (const SettingError &) {
        return FWSIM_ERR_BAD_SETTING;
    }
    const std::lock_guard lock(world->mutex);
    world->faults = parsed;
    return 0;
}

} // extern "C"
