#include "host_processes.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fw::host {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// More hosts than one process ever runs at once (the program and the checker run one).
constexpr size_t kMaxHosts = 8;
std::array<std::atomic<pid_t>, kMaxHosts> gHosts{};
std::atomic<bool> gSubreaper{false};
constexpr auto kLookEvery = 10ms;

struct ProcessState {
    char state = 0;
    pid_t parent = 0;
    pid_t group = 0;
};

// From /proc/PID/stat: "pid (name) state ppid pgrp ..."; the name may hold anything, so
// the fields are read after its last ')'.
std::optional<ProcessState> stateOf(pid_t pid) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[512];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return std::nullopt;
    text[got] = '\0';
    const std::string_view line(text, static_cast<size_t>(got));
    const size_t close = line.rfind(')');
    ProcessState state;
    int parent = 0;
    int group = 0;
    if (close == std::string_view::npos ||
        std::sscanf(text + close + 1, " %c %d %d", &state.state, &parent, &group) != 3)
        return std::nullopt;
    state.parent = parent;
    state.group = group;
    return state;
}

// Every process this one can see, with its state.
template <typename Visit> void forEachProcess(Visit &&visit) {
    DIR *proc = ::opendir("/proc");
    if (proc == nullptr)
        return;
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        if (const std::optional<ProcessState> state = stateOf(static_cast<pid_t>(pid)))
            visit(static_cast<pid_t>(pid), *state);
    }
    ::closedir(proc);
}

bool ended(pid_t pid) {
    const std::optional<ProcessState> state = stateOf(pid);
    return !state || state->state == 'Z' || state->state == 'X';
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

bool noted(pid_t pid) {
    for (const std::atomic<pid_t> &slot : gHosts)
        if (slot.load() == pid)
            return true;
    return false;
}

} // namespace

void openStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number, which is fd itself.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd)
            ::close(opened); // unreachable unless a lower one was closed meanwhile
    }
}

void adoptOrphansOfHosts() {
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0)
        gSubreaper = true;
}

void noteHost(pid_t pid) {
    for (std::atomic<pid_t> &slot : gHosts) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid))
            return;
    }
}

void forgetHost(pid_t pid) {
    for (std::atomic<pid_t> &slot : gHosts) {
        pid_t expected = pid;
        slot.compare_exchange_strong(expected, 0);
    }
}

void killEveryHost() {
    static_assert(std::atomic<pid_t>::is_always_lock_free);
    for (const std::atomic<pid_t> &slot : gHosts) {
        const pid_t pid = slot.load();
        if (pid > 0) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
        }
    }
}

GroupRemains::GroupRemains(pid_t host) {
    forEachProcess([&](pid_t pid, const ProcessState &state) {
        if (state.group == host && pid != host) {
            pids_.push_back(pid);
            const int fd = openPidfd(pid);
            if (fd >= 0)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            pidfds_.push_back(fd);
        }
    });
}

GroupRemains::~GroupRemains() {
    for (const int fd : pidfds_)
        if (fd >= 0)
            ::close(fd);
}

void GroupRemains::awaitEnd(Clock::time_point deadline) {
    for (size_t i = 0; i < pids_.size(); ++i) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (pidfds_[i] >= 0) {
                pollfd watched{pidfds_[i], POLLIN, 0};
                const int ready = ::poll(&watched, 1, static_cast<int>(std::max(left.count(), 0L)));
                if (ready != 0 || left.count() <= 0)
                    break;
                continue;
            }
            if (ended(pids_[i]) || left.count() <= 0)
                break;
            std::this_thread::sleep_for(kLookEvery);
        }
    }
}

void endAdopted(Clock::time_point deadline) {
    if (!gSubreaper)
        return;
    const pid_t self = ::getpid();
    for (;;) {
        std::vector<pid_t> adopted;
        forEachProcess([&](pid_t pid, const ProcessState &state) {
            if (state.parent == self && !noted(pid))
                adopted.push_back(pid);
        });
        if (adopted.empty())
            return;
        for (const pid_t pid : adopted)
            ::kill(pid, SIGKILL);
        // In turn, not one after the other: a namespace's init ends only once the others,
        // adopted here too, have been reaped.
        while (!adopted.empty()) {
            std::erase_if(adopted, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
            if (adopted.empty())
                break;
            if (Clock::now() >= deadline)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Killing one may have orphaned its own children, who come here in turn.
    }
}

} // namespace fw::host
