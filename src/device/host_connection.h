#pragma once

#include "data_provider.h"
#include "host_protocol.h"
#include "module_protocol.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace fw::host {

// What ended a host process.
struct Fault {
    enum class Kind {
        Signal,   // killed by a signal
        Exit,     // ended by itself
        Timeout,  // no answer before the call's deadline
        Protocol, // an answer that is not a whole, well-formed one, or a closed connection
        Start,    // the host could not be started
    };
    Kind kind = Kind::Protocol;
    int number = 0;               // the signal or the exit status
    std::chrono::seconds limit{}; // the deadline that passed
    std::string detail;           // for Protocol and Start
    std::string where;            // the call, or "" while the library was being loaded

    // Who tells it: the program to an operator, the checker in its report.
    enum class Voice { Program, Checker };
    // What happened, without where: "killed by signal 11", "gave no answer within 15 s"
    // (the checker: "ended with exit status 3", "no answer within 5 s"). The one wording of
    // a host's end for the program and the checker.
    std::string what(Voice voice = Voice::Program) const;
    // With where: "killed by signal 11 in zdp_pair_module"; a host that could not start
    // has no where.
    std::string describe() const;
};

// A call that its host never finished; the host is gone.
class HostStopped : public ProviderStopped {
public:
    explicit HostStopped(Fault fault)
        : ProviderStopped(fault.describe()), fault_(std::move(fault)) {}
    const Fault &fault() const { return fault_; }

private:
    Fault fault_;
};

// The host's first word: whether it loaded the library, and what the library offers.
struct Hello {
    bool loaded = false;
    LoaderError loaderError = kLoaderCannotLoad; // when not loaded
    std::string why;                             // when not loaded, as the loader put it
    uint16_t present = 0;                        // presentBit() of each call the library exports
    std::optional<uint32_t> version;

    bool has(Call call) const { return (present & presentBit(call)) != 0; }
};

// One fleetwright-provider-host process and the connection to it. Each call sends one
// request and waits for its answer until the call's deadline on the monotonic clock. When
// the host dies, hangs or answers with anything but a whole, well-formed answer, its
// whole process group is killed and reaped and the call throws HostStopped; every later
// call throws the same. All calls come from one thread.
class HostConnection {
public:
    // Starts hostExecutable in a process group of its own with the library to load, and
    // waits for its Hello. Throws HostStopped when the host cannot start or dies loading.
    HostConnection(const std::string &hostExecutable, const std::string &library);
    // Ends the host: closes the connection, gives it a moment to go, then kills its group.
    ~HostConnection();
    HostConnection(const HostConnection &) = delete;
    HostConnection &operator=(const HostConnection &) = delete;

    const Hello &hello() const { return hello_; }
    // False once the host has stopped, or has ended between calls (it is then reaped and
    // its group killed).
    bool alive();
    // The deadline of every call but pairing (default kHostCallDeadline).
    void setCallLimit(std::chrono::seconds limit) { callLimit_ = limit; }

    // Makes one call: sends the request fields of args and replaces its answer fields with
    // the library's. Pairing waits for its window and the host's allowance on top; every
    // other call waits for the call limit. A read's capacity is cut to kMaxReadCapacity.
    template <Call C> void call(CallArgs<C> &args);

private:
    using Clock = std::chrono::steady_clock;

    void start(const std::string &hostExecutable, const std::string &library);
    // Sends the request and returns the answer's body, checked to be of the right kind.
    std::string exchange(Call call, const std::string &request, std::chrono::seconds limit);
    std::string receive(const std::string &where, std::chrono::seconds limit);
    [[noreturn]] void fail(Fault fault);
    // Kills the host's group, reaps the host and closes what leads to it.
    void release();
    // After the end of the stream: the host's own end, or a connection it closed.
    [[noreturn]] void closedBy(const std::string &where);
    // Waits until the host has ended or the deadline passes; its wait status if it ended.
    std::optional<int> waitForEnd(Clock::time_point deadline);
    // Kills the host and its group, reaps the host and waits for what the library started
    // to be gone; its wait status when it could be reaped.
    std::optional<int> killAndReap();

    int socket_ = -1;
    int pidfd_ = -1; // -1 where the kernel has none; then the host is polled
    pid_t pid_ = -1;
    std::optional<int> status_; // once reaped
    FrameBuffer frames_;
    Hello hello_;
    std::chrono::seconds callLimit_ = kHostCallDeadline;
    std::optional<Fault> stopped_;
};

} // namespace fw::host
