#include "host_connection.h"

#include "host_processes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ; // NOLINT(readability-redundant-declaration): not in every header

namespace fw::host {

namespace {

using namespace std::chrono_literals;

// How long a host that closed its end, or was told to end, gets to go by itself.
constexpr auto kEndingGrace = 500ms;
// How long a killed host gets to be reaped; one in the kernel's uninterruptible wait may
// take longer, and is then left to the system.
constexpr auto kReapLimit = 2s;
// Where there is no process descriptor, how often the host is looked at.
constexpr int kPollMs = 20;
constexpr size_t kChunk = size_t{64} * 1024;

std::string seconds(std::chrono::seconds limit) {
    return std::to_string(limit.count()) + " s";
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#else
    (void)pid;
#endif
    return -1;
}

Fault protocolFault(std::string detail, std::string where) {
    Fault fault;
    fault.kind = Fault::Kind::Protocol;
    fault.detail = std::move(detail);
    fault.where = std::move(where);
    return fault;
}

Fault startFault(std::string detail) {
    Fault fault;
    fault.kind = Fault::Kind::Start;
    fault.detail = "could not be started: " + std::move(detail);
    return fault;
}

Fault timeoutFault(std::chrono::seconds limit, std::string where) {
    Fault fault;
    fault.kind = Fault::Kind::Timeout;
    fault.limit = limit;
    fault.where = std::move(where);
    return fault;
}

Fault faultOf(int status, std::string where) {
    Fault fault;
    fault.where = std::move(where);
    if (WIFSIGNALED(status)) {
        fault.kind = Fault::Kind::Signal;
        fault.number = WTERMSIG(status);
    } else {
        fault.kind = Fault::Kind::Exit;
        fault.number = WEXITSTATUS(status);
    }
    return fault;
}

} // namespace

std::string Fault::what(Voice voice) const {
    const bool program = voice == Voice::Program;
    switch (kind) {
    case Kind::Signal:
        return "killed by signal " + std::to_string(number);
    case Kind::Exit:
        return (program ? "exited with status " : "ended with exit status ") +
               std::to_string(number);
    case Kind::Timeout:
        return (program ? "gave no answer within " : "no answer within ") + seconds(limit);
    case Kind::Protocol:
    case Kind::Start:
        break;
    }
    return detail;
}

std::string Fault::describe() const {
    if (kind == Kind::Start)
        return what();
    return what() + (where.empty() ? std::string(" while it was being loaded") : " in " + where);
}

HostConnection::HostConnection(const std::string &hostExecutable, const std::string &library) {
    start(hostExecutable, library);
    const std::string body = receive("", callLimit_);
    try {
        Decoder answer(body);
        if (answer.kind() != kHello)
            throw ProtocolError("its first message was not a greeting");
        hello_.loaded = answer.boolean();
        if (hello_.loaded) {
            hello_.present = answer.u16();
            if (answer.boolean())
                hello_.version = answer.u32();
            else
                answer.u32();
        } else {
            const int32_t error = answer.i32();
            // Loading is all the host does before its greeting: a number that is no
            // loader's reason is not the host's to give.
            if (error != kLoaderCannotLoad && error != kLoaderMissingSymbol &&
                error != kLoaderWrongVersion)
                throw ProtocolError("a greeting with loader error " + std::to_string(error));
            hello_.loaderError = static_cast<LoaderError>(error);
            hello_.why = answer.bytes(kMaxText);
        }
        answer.end();
    } catch (const ProtocolError &error) {
        fail(protocolFault(std::string("broke the protocol (") + error.what() + ")", ""));
    }
}

HostConnection::~HostConnection() {
    if (socket_ >= 0) {
        // The end of its connection tells the host to go; whatever it leaves goes with it.
        ::close(socket_);
        socket_ = -1;
        waitForEnd(Clock::now() + kEndingGrace);
    }
    release();
}

void HostConnection::start(const std::string &hostExecutable, const std::string &library) {
    std::array<int, 2> ends{-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends.data()) != 0)
        fail(startFault(std::strerror(errno)));
    socket_ = ends[0];
    int theirs = ends[1];
    // dup2 onto the same number would keep close-on-exec set.
    if (theirs <= kConnectionFd) {
        const int moved = ::fcntl(theirs, F_DUPFD_CLOEXEC, kConnectionFd + 1);
        ::close(theirs);
        theirs = moved;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs, kConnectionFd);
    // The operator's input is not the library's to read.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Whatever the library prints must not reach our standard output (a TAP stream, or the
    // lines that scripts read): it goes where our standard error goes, or nowhere.
    if (::fcntl(STDERR_FILENO, F_GETFD) == -1)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    // A group of its own, so that whatever the library starts is killed with it.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    std::string program = hostExecutable;
    std::string argument = library;
    std::array<char *, 3> argv{program.data(), argument.data(), nullptr};
    const int error =
        ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(theirs);
    if (error != 0) {
        pid_ = -1;
        fail(startFault(hostExecutable + ": " + std::strerror(error)));
    }
    noteHost(pid_);
    pidfd_ = openPidfd(pid_);
}

bool HostConnection::alive() {
    if (stopped_)
        return false;
    if (const std::optional<int> status = waitForEnd(Clock::now())) {
        stopped_ = faultOf(*status, "");
        release();
        return false;
    }
    return true;
}

std::string HostConnection::exchange(Call call, const std::string &request,
                                     std::chrono::seconds limit) {
    const std::string where = callName(call);
    if (stopped_)
        throw HostStopped(*stopped_);
    if (!sendAll(socket_, request))
        closedBy(where);
    return receive(where, limit);
}

std::string HostConnection::receive(const std::string &where, std::chrono::seconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    std::string chunk(kChunk, '\0');
    for (;;) {
        try {
            if (std::optional<std::string> body = frames_.next())
                return std::move(*body);
        } catch (const ProtocolError &error) {
            fail(protocolFault(std::string("broke the protocol (") + error.what() + ")", where));
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            fail(timeoutFault(limit, where));
        std::array<pollfd, 2> watched{pollfd{socket_, POLLIN, 0}, pollfd{pidfd_, POLLIN, 0}};
        const nfds_t count = pidfd_ >= 0 ? 2 : 1;
        const int wait = pidfd_ >= 0 ? static_cast<int>(left.count())
                                     : std::min(static_cast<int>(left.count()), kPollMs);
        const int ready = ::poll(watched.data(), count, wait);
        if (ready < 0 && errno != EINTR)
            fail(protocolFault(std::string("could not be heard: ") + std::strerror(errno), where));
        if (ready <= 0 && pidfd_ >= 0)
            continue;
        if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t got = ::recv(socket_, chunk.data(), chunk.size(), 0);
            if (got > 0) {
                frames_.append(chunk.data(), static_cast<size_t>(got));
                continue;
            }
            if (got == 0 || (errno != EINTR && errno != EAGAIN))
                closedBy(where);
            continue;
        }
        // The host ended while something of its own (a child the library started) still
        // holds the connection open.
        const bool ended =
            pidfd_ >= 0 ? (watched[1].revents & POLLIN) != 0 : waitForEnd(Clock::now()).has_value();
        if (ended) {
            const std::optional<int> status = killAndReap();
            fail(faultOf(status.value_or(0), where));
        }
    }
}

void HostConnection::closedBy(const std::string &where) {
    // A host that exits closes its end a moment before it can be reaped.
    if (waitForEnd(Clock::now() + kEndingGrace)) {
        const std::optional<int> status = killAndReap();
        fail(faultOf(status.value_or(0), where));
    }
    killAndReap();
    fail(protocolFault("closed its connection", where));
}

std::optional<int> HostConnection::waitForEnd(Clock::time_point deadline) {
    for (;;) {
        if (status_ || pid_ <= 0)
            return status_;
        int status = 0;
        const pid_t got = ::waitpid(pid_, &status, WNOHANG);
        if (got == pid_) {
            status_ = status;
            return status_;
        }
        if (got < 0 && errno != EINTR)
            return std::nullopt; // not our child any more (SIGCHLD ignored): nothing to wait for
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        if (pidfd_ >= 0) {
            pollfd watched{pidfd_, POLLIN, 0};
            ::poll(&watched, 1, static_cast<int>(left.count()));
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kPollMs)));
        }
    }
}

std::optional<int> HostConnection::killAndReap() {
    if (pid_ <= 0)
        return std::nullopt;
    forgetHost(pid_);
    // Seen before the kill, so that the next host starts only once they are gone (the
    // base station's lock with them): the init of the host's PID namespace ends last.
    GroupRemains remains(pid_);
    // The whole group, so that nothing the library started outlives the host; the group
    // keeps its number while any member is left, so this is safe after the host is reaped.
    ::kill(-pid_, SIGKILL);
    // And the host by itself, which may have moved to another group; an unreaped child
    // keeps its number.
    if (!status_)
        ::kill(pid_, SIGKILL);
    const std::optional<int> status = waitForEnd(Clock::now() + kReapLimit);
    const Clock::time_point deadline = Clock::now() + kReapLimit;
    endAdopted(deadline);
    remains.awaitEnd(deadline);
    return status;
}

void HostConnection::release() {
    killAndReap();
    for (int *fd : {&socket_, &pidfd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void HostConnection::fail(Fault fault) {
    // Also from the constructor, whose throw leaves no destructor to clean up.
    release();
    stopped_ = fault;
    throw HostStopped(std::move(fault));
}

// ---- the calls ---------------------------------------------------------------------------

namespace {

// The window the library was asked to wait, and the host's allowance on top of it.
std::chrono::seconds deadlineOf(const CallArgs<Call::Pair> &pair, std::chrono::seconds) {
    return hostPairingDeadline(std::max(pair.windowSeconds, 0));
}
template <typename Args> std::chrono::seconds deadlineOf(const Args &, std::chrono::seconds limit) {
    return limit;
}

void bound(CallArgs<Call::Read> &read) {
    read.capacity = static_cast<uint32_t>(std::min<size_t>(read.capacity, kMaxReadCapacity));
}
template <typename Args> void bound(Args &) {}

void checkAnswer(const CallArgs<Call::Read> &read) {
    if (read.value.size() != std::min<uint64_t>(read.length, read.capacity))
        throw ProtocolError("a read answer's bytes do not match its length");
}
template <typename Args> void checkAnswer(const Args &) {}

} // namespace

template <Call C> void HostConnection::call(CallArgs<C> &args) {
    bound(args);
    const std::string body = exchange(C, encodeRequest(args), deadlineOf(args, callLimit_));
    try {
        decodeAnswer(body, args);
        checkAnswer(args);
    } catch (const ProtocolError &error) {
        fail(protocolFault(std::string("broke the protocol (") + error.what() + ")", callName(C)));
    }
}

#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    template void HostConnection::call<Call::Name>(CallArgs<Call::Name> &);
#include "provider_calls.def"

} // namespace fw::host
