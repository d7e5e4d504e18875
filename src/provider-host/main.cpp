// fleetwright-provider-host: holds the data-provider library in a process of its own, so
// that nothing the library does (crash, exit, hang, stray output, signal handlers) can
// reach the program or the checker. It loads the library named by its argument (else as
// the program resolves it), greets its parent over the connection it inherited and then
// carries one call at a time for it, until the connection ends.
#include "data_provider.h"
#include "dataprovider_abi.h"
#include "descendants.h"
#include "host_processes.h"
#include "host_protocol.h"
#include "provider_library.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace fw::host;

// The library's pointers travel as numbers; only this process ever looks behind them.
zdp_provider *providerOf(uint64_t number) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the number was this pointer
    return reinterpret_cast<zdp_provider *>(static_cast<uintptr_t>(number));
}
uint64_t numberOf(const zdp_provider *provider) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(provider));
}

constexpr unsigned char kGuard = 0xC3;

class Host {
public:
    explicit Host(int fd) : fd_(fd) {}

    void greet(const std::string &library) {
        Encoder hello(kHello);
        try {
            library_ = fw::openProviderLibrary(library);
            abi_ = fw::bindPresent(library_.get());
            // The version before anything else: a library may rely on that order.
            const bool hasVersion = abi_.zdp_abi_version != nullptr;
            const uint32_t version = hasVersion ? abi_.zdp_abi_version() : 0;
            hello.u8(1).u16(present()).u8(hasVersion ? 1 : 0).u32(version);
        } catch (const fw::ProviderError &error) {
            hello.u8(0).i32(error.code()).bytes(cutText(error.description(), kMaxText));
        }
        send(hello);
    }

    // Serves requests until the connection ends.
    void serve() {
        std::vector<char> chunk(size_t{64} * 1024);
        for (;;) {
            std::optional<std::string> body;
            try {
                body = frames_.next();
            } catch (const ProtocolError &) {
                ::_exit(kProtocolFaultExit);
            }
            if (body) {
                answer(*body);
                continue;
            }
            const ssize_t got = ::read(fd_, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return;
            frames_.append(chunk.data(), static_cast<size_t>(got));
        }
    }

private:
    uint16_t present() const {
        uint16_t bits = 0;
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    if (abi_.symbol != nullptr)                                                                    \
        bits |= presentBit(Call::Name);
#include "provider_calls.def"
        return bits;
    }

    void send(const Encoder &message) const {
        send(message.frame());
    }
    void send(const std::string &frame) const {
        if (!sendAll(fd_, frame))
            ::_exit(0); // the parent has gone
    }

    template <typename Fn> static Fn need(Fn fn) {
        // A client that asks for a call the greeting said is missing broke the protocol.
        if (!fn)
            ::_exit(kProtocolFaultExit);
        return fn;
    }

    // Each request: its fields decoded, the library's function called with them, the
    // answer's fields sent back (provider_calls.def says which, and how it is called).
    void answer(const std::string &body) {
        try {
            Decoder request(body);
            const std::optional<Call> call = callOf(request.kind());
            if (!library_ || !call)
                ::_exit(kProtocolFaultExit);
            switch (*call) {
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    case Call::Name: {                                                                             \
        CallArgs<Call::Name> c;                                                                    \
        decodeRequest(request, c);                                                                 \
        const auto fn = need(abi_.symbol);                                                         \
        invoke;                                                                                    \
        send(encodeAnswer(c));                                                                     \
        break;                                                                                     \
    }
#include "provider_calls.def"
            case Call::None:
                ::_exit(kProtocolFaultExit);
            }
        } catch (const ProtocolError &) {
            ::_exit(kProtocolFaultExit);
        }
    }

    // The buffer sits between guard regions, so that a library writing past its capacity
    // is seen and reported instead of corrupting this process unnoticed.
    static void readGuarded(decltype(&zdp_read_module_command) fn, CallArgs<Call::Read> &c) {
        if (c.capacity > kMaxReadCapacity)
            ::_exit(kProtocolFaultExit);
        const size_t capacity = c.capacity;
        std::vector<unsigned char> area(kGuardBytes + capacity + kGuardBytes, kGuard);
        std::fill_n(area.begin() + kGuardBytes, capacity, c.fill);
        char *value = reinterpret_cast<char *>(area.data() + kGuardBytes);
        auto length = static_cast<size_t>(c.length);
        c.status = fn(providerOf(c.provider), c.arg1, c.moduleId, c.command, value, capacity,
                      &length, &c.flag);
        for (size_t i = 0; i < kGuardBytes; ++i)
            c.outside =
                c.outside || area[i] != kGuard || area[kGuardBytes + capacity + i] != kGuard;
        c.length = length;
        c.value.assign(value, std::min(length, capacity));
    }

    static zdp_provider *dp(uint64_t number) {
        return providerOf(number);
    }

    int fd_;
    fw::LibraryHandle library_;
    fw::Abi abi_;
    FrameBuffer frames_;
};

} // namespace

int main(int argc, char **argv) {
    // Never outlive the program: end with the thread that started us, and at once if it
    // is already gone.
    fw::host::openStandardDescriptors();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        return 0;
    // Before the library is loaded, since its constructors may start processes too. A user
    // namespace changes this process's credentials, which may clear the death signal.
    fw::host::keepDescendantsWithHost();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        return 0;
    fw::host::limitHostMemory();
    std::signal(SIGPIPE, SIG_IGN);
    // A library that calls exit() ends the host with that status at once. What exit() runs
    // after the handlers registered since (the loaded objects' destructors, the stream
    // flushes) belongs to a process that is going anyway, and any of it that waits would
    // hold the program until its deadline instead of telling it how the library ended.
    ::on_exit([](int status, void *) { ::_exit(status); }, nullptr);
    const std::string library =
        fw::resolveProviderLibrary(argc > 1 ? std::optional<std::string>(argv[1]) : std::nullopt);
    Host host(kConnectionFd);
    host.greet(library);
    host.serve();
    // The library is left loaded: its destructors run in a process that is going anyway,
    // and one that hangs there must not keep the parent waiting (it kills the group).
    ::_exit(0);
}
