#pragma once

#include "data_provider.h"
#include "host_protocol.h"

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

    // What happened, without where: "killed by signal 11", "gave no answer within 15 s".
    std::string what() const;
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
    int32_t loaderError = 0; // a LoaderError when not loaded
    std::string why;         // when not loaded, as the loader put it
    uint16_t present = 0;    // presentBit() of each call the library exports
    std::optional<uint32_t> version;

    bool has(Call call) const { return (present & presentBit(call)) != 0; }
};

struct ReadAnswer {
    int32_t status = 0;
    int16_t flag = 0;
    uint64_t length = 0;  // as the library reported it, which may exceed the capacity
    bool outside = false; // the library wrote before or after the buffer it was given
    std::string value;    // the bytes within both the length and the capacity
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
    pid_t pid() const { return pid_; }
    // The deadline of every call but pairing (default kCallLimit).
    void setCallLimit(std::chrono::seconds limit) { callLimit_ = limit; }

    int32_t create(uint64_t &provider);
    void destroy(uint64_t provider);
    // nullopt when the library answered NULL.
    std::optional<std::string> errorText(uint64_t provider);
    int32_t probe(uint64_t provider, int32_t &result);
    int32_t open(uint64_t provider, int32_t arg1, int32_t arg2, int16_t &flag);
    int32_t close(uint64_t provider);
    int32_t getChannel(uint64_t provider, int32_t arg1, uint8_t &channel);
    int32_t setChannel(uint64_t provider, int32_t arg1, uint8_t channel);
    int32_t pair(uint64_t provider, int32_t arg1, int32_t channelMode, int32_t windowSeconds,
                 uint32_t &moduleId, int32_t &extra, int32_t &result);
    int32_t write(uint64_t provider, uint8_t arg1, uint32_t moduleId, uint8_t command,
                  std::string_view payload, int16_t &flag);
    // capacity is at most kMaxReadCapacity; flag and length go in as the caller holds them.
    ReadAnswer read(uint64_t provider, uint8_t arg1, uint32_t moduleId, uint8_t command,
                    size_t capacity, int16_t flag, uint64_t length);

private:
    using Clock = std::chrono::steady_clock;

    void start(const std::string &hostExecutable, const std::string &library);
    // Sends the request and returns the answer's body, checked to be of the right kind.
    std::string exchange(Call call, const Encoder &request, std::chrono::seconds limit);
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
    std::chrono::seconds callLimit_ = kCallLimit;
    std::optional<Fault> stopped_;
};

} // namespace fw::host
