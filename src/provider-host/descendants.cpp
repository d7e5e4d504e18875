#include "descendants.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define FW_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FW_UNDER_ASAN 1
#endif
#endif

namespace fw::host {

namespace {

// Far more than any library needs for a base station, far less than a machine that swaps.
constexpr rlim_t kHostMemoryLimit = rlim_t{1} << 30;

void writeFile(const char *path, const char *text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    [[maybe_unused]] const ssize_t written = ::write(fd, text, length);
    ::close(fd);
}

// A user namespace maps only this user, so that the library sees its own IDs; the kernel
// still checks every access against the real ones.
void mapOwnIds(uid_t uid, gid_t gid) {
    std::array<char, 64> map{};
    writeFile("/proc/self/setgroups", "deny");
    std::snprintf(map.data(), map.size(), "%u %u 1\n", uid, uid);
    writeFile("/proc/self/uid_map", map.data());
    std::snprintf(map.data(), map.size(), "%u %u 1\n", gid, gid);
    writeFile("/proc/self/gid_map", map.data());
}

bool enterPidNamespace() {
    if (::unshare(CLONE_NEWPID) == 0)
        return true;
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0)
        return false;
    mapOwnIds(uid, gid);
    return true;
}

void closeEverything() {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 0U, ~0U, 0U) == 0)
        return;
#endif
    for (int fd = 0; fd < 1024; ++fd)
        ::close(fd);
}

// The tiny process: in a namespace its init, which the kernel kills when the host ends
// (and then every process left in the namespace); without one a keeper that kills the
// host's process group when the host ends. ready tells the host it is in place.
[[noreturn]] void runTiny(bool init, int ready) {
    if (init) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    } else {
        sigset_t ending;
        sigemptyset(&ending);
        sigaddset(&ending, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &ending, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    }
    // Fails when the host is gone already, and the death signal would never come.
    const char byte = 1;
    if (::write(ready, &byte, 1) != 1)
        ::_exit(0);
    closeEverything();
    ::prctl(PR_SET_NAME, init ? "provider-init" : "provider-keeper");
    if (init) {
        // Orphans of the namespace come here; ignoring SIGCHLD reaps them.
        std::signal(SIGCHLD, SIG_IGN);
        for (;;)
            ::pause();
    }
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    int signal = 0;
    while (::sigwait(&ending, &signal) != 0) {
    }
    ::kill(0, SIGKILL);
    ::_exit(0);
}

} // namespace

void keepDescendantsWithHost() {
    const bool init = enterPidNamespace();
    std::array<int, 2> ready{-1, -1};
    if (::pipe2(ready.data(), O_CLOEXEC) != 0)
        return;
    const pid_t tiny = ::fork();
    if (tiny == 0) {
        ::close(ready[0]);
        runTiny(init, ready[1]);
    }
    ::close(ready[1]);
    char byte = 0;
    if (tiny > 0) {
        while (::read(ready[0], &byte, 1) < 0 && errno == EINTR) {
        }
    }
    ::close(ready[0]);
}

void limitHostMemory() {
#ifndef FW_UNDER_ASAN // its shadow memory alone is far larger
    rlimit limit{};
    if (::getrlimit(RLIMIT_DATA, &limit) != 0)
        return;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kHostMemoryLimit) {
        limit.rlim_cur = kHostMemoryLimit;
        ::setrlimit(RLIMIT_DATA, &limit);
    }
#endif
}

} // namespace fw::host
