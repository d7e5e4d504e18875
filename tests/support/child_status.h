#pragma once

#include <chrono>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>

namespace fw::test {

// The exit status of the child pid (128 + N when signal N ended it), or -1 when it has not
// ended by itself within the limit. A child that ended is reaped and pid set to -1.
inline int exitStatusWithin(pid_t &pid, std::chrono::seconds limit) {
    using namespace std::chrono_literals;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(20ms);
    }
    return -1;
}

} // namespace fw::test
