#pragma once

#include <chrono>
#include <sys/types.h>
#include <vector>

// What the program and the checker do so that no process a data-provider library starts
// outlives its host. The host makes a PID namespace of its own where the kernel allows it
// (its init ends every process in it when the host ends); these are the parts on this side:
// the host's process group, the orphans adopted where there is no namespace, and the
// descriptors every process starts with.
namespace fw::host {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that nothing opened
// later (a display connection, a file) takes one of their numbers and receives text meant
// for the terminal. Call it first in main(), before anything opens a descriptor.
void openStandardDescriptors();

// Makes this process the child subreaper of everything it starts: a process of a library
// that leaves its host's process group and is orphaned comes here instead of to the
// system's init, and is killed when its host ends. Only for programs whose every child is
// a provider host (the checker; not the window program, whose toolkit starts helpers such
// as a session bus that would be adopted and killed).
void adoptOrphansOfHosts();

// The hosts this process runs, for a signal handler that must end them all.
void noteHost(pid_t pid);
void forgetHost(pid_t pid);
// SIGKILL to every noted host and its process group; async-signal-safe.
void killEveryHost();

// The processes of a host's process group other than the host, watched so that their end
// can be awaited: among them the init of the host's PID namespace, which ends only after
// every process in the namespace has.
class GroupRemains {
public:
    // Takes the members of host's group as they are now.
    explicit GroupRemains(pid_t host);
    ~GroupRemains();
    GroupRemains(const GroupRemains &) = delete;
    GroupRemains &operator=(const GroupRemains &) = delete;

    // Waits, until the deadline at most, for each of them to have ended.
    void awaitEnd(std::chrono::steady_clock::time_point deadline);

private:
    std::vector<pid_t> pids_;
    std::vector<int> pidfds_; // -1 where the kernel gives none; then /proc is looked at
};

// In a process made a subreaper by adoptOrphansOfHosts: kills and reaps every child that
// is not a noted host (each was adopted from a host), until none is left or the deadline.
void endAdopted(std::chrono::steady_clock::time_point deadline);

} // namespace fw::host
