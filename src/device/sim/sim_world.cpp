#include "sim_world.h"

#include "folder_of.h"
#include "provider_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fwsim {

namespace {

std::mutex registryMutex;
std::shared_ptr<World> registered;

} // namespace

std::optional<Call> callNamed(std::string_view function) {
    const std::optional<Call> call = fw::host::callNamed(function);
    if (!call || fw::host::kCalls[fw::host::indexOf(*call)].scope != fw::host::CallScope::Station)
        return std::nullopt;
    return call;
}

World::World(const Config &config)
    : baseChannel(config.baseChannel), faults(config.faults), channelPath(config.channelPath),
      statePath(config.statePath) {
    for (const ModuleSpec &spec : config.fleet)
        modules.push_back({spec.id, spec.model, spec.channel, spec.parameters, spec.parameters});
}

Module *World::find(uint32_t id) {
    for (Module &module : modules)
        if (module.id == id)
            return &module;
    return nullptr;
}

void World::record(Call call, int argument) {
    ++calls[fw::host::indexOf(call)];
    std::string line(fw::host::callName(call));
    if (argument >= 0)
        line += ' ' + std::to_string(argument);
    if (callLog.size() == kCallLogLength)
        callLog.pop_front();
    callLog.push_back(std::move(line));
}

namespace {

// The file that the state path names, where the new state replaces the old: the end of its
// symbolic links, so that a link stays a link. Only a regular file, or nothing yet in a
// folder that exists, is taken; a rename would otherwise put a file in place of a named
// pipe or a device named by mistake. Empty, with the reason, otherwise.
std::optional<std::string> fileBehind(const std::string &path, std::string &why) {
    constexpr int kMostLinks = 40; // as the kernel allows
    std::string current = path;
    for (int links = 0; links <= kMostLinks; ++links) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0) {
            struct stat folder {};
            if (errno == ENOENT && ::stat(fw::folderOf(current).c_str(), &folder) == 0 &&
                S_ISDIR(folder.st_mode))
                return current;
            why = std::strerror(errno);
            return std::nullopt;
        }
        if (S_ISREG(status.st_mode))
            return current;
        if (!S_ISLNK(status.st_mode)) {
            why = "it is not a regular file";
            return std::nullopt;
        }
        std::string next(4096, '\0');
        const ssize_t length = ::readlink(current.c_str(), next.data(), next.size());
        if (length < 0 || static_cast<size_t>(length) >= next.size()) {
            why = length < 0 ? std::strerror(errno) : "its link is too long";
            return std::nullopt;
        }
        next.resize(static_cast<size_t>(length));
        if (!next.starts_with('/'))
            next.insert(0, fw::folderOf(current).append("/"));
        current = std::move(next);
    }
    why = std::strerror(ELOOP);
    return std::nullopt;
}

// Puts content in place of the file that path names, whole or not at all: an observer
// must never see half a file, so it is written beside it and renamed over it.
bool replaceWhole(const std::string &path, const std::string &content, std::string &why) {
    const std::optional<std::string> target = fileBehind(path, why);
    if (!target)
        return false;
    std::string temporary = *target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    int error = 0;
    for (size_t written = 0; written < content.size() && error == 0;) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n > 0)
            written += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (error == 0 && ::fchmod(fd, 0644) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(temporary.c_str(), target->c_str()) != 0)
        error = errno;
    if (error != 0) {
        std::remove(temporary.c_str());
        why = std::strerror(error);
        return false;
    }
    return true;
}

} // namespace

bool World::writeState(std::string *why) const {
    if (statePath.empty())
        return true;
    std::ostringstream text;
    text << "base_channel=" << int(baseChannel) << "\n"
         << "open=" << (open ? 1 : 0) << "\n"
         << "paired=" << fw::hexId(paired) << "\n";
    for (const Module &module : modules) {
        const std::string key = "module." + fw::hexId(module.id) + ".";
        text << key << "model=" << module.model << "\n"
             << key << "channel=" << int(module.channel) << "\n";
        for (size_t i = 0; i < kParameterCodes.size(); ++i)
            text << key << "working." << int(kParameterCodes[i]) << "=" << module.working[i]
                 << "\n";
        for (size_t i = 0; i < kParameterCodes.size(); ++i)
            text << key << "saved." << int(kParameterCodes[i]) << "=" << module.saved[i] << "\n";
    }
    std::string reason;
    if (!replaceWhole(statePath, text.str(), reason)) {
        if (why)
            *why = std::move(reason);
        return false;
    }
    return true;
}

void World::keepChannel() const {
    std::string ignored; // the station still has the channel; the next run starts on 1
    if (!channelPath.empty())
        replaceWhole(channelPath, std::to_string(int(baseChannel)) + "\n", ignored);
}

std::shared_ptr<World> currentWorld() {
    const std::lock_guard lock(registryMutex);
    return registered;
}

void setCurrentWorld(std::shared_ptr<World> world) {
    const std::lock_guard lock(registryMutex);
    registered = std::move(world);
}

} // namespace fwsim
