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
            const bool hasVersion = abi_.abiVersion != nullptr;
            const uint32_t version = hasVersion ? abi_.abiVersion() : 0;
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
        const auto mark = [&bits](bool has, Call call) {
            if (has)
                bits |= presentBit(call);
        };
        mark(abi_.create != nullptr, Call::Create);
        mark(abi_.destroy != nullptr, Call::Destroy);
        mark(abi_.errorText != nullptr, Call::ErrorText);
        mark(abi_.probeProvider != nullptr, Call::Probe);
        mark(abi_.openConnection != nullptr, Call::Open);
        mark(abi_.closeConnection != nullptr, Call::Close);
        mark(abi_.getBaseChannel != nullptr, Call::GetChannel);
        mark(abi_.setBaseChannel != nullptr, Call::SetChannel);
        mark(abi_.pairModule != nullptr, Call::Pair);
        mark(abi_.writeModuleCommand != nullptr, Call::Write);
        mark(abi_.readModuleCommand != nullptr, Call::Read);
        return bits;
    }

    void send(const Encoder &message) const {
        if (!sendAll(fd_, message.frame()))
            ::_exit(0); // the parent has gone
    }

    template <typename Fn> static Fn need(Fn fn) {
        // A client that asks for a call the greeting said is missing broke the protocol.
        if (!fn)
            ::_exit(kProtocolFaultExit);
        return fn;
    }

    void answer(const std::string &body) {
        try {
            Decoder request(body);
            const auto call = static_cast<Call>(request.kind());
            Encoder reply(static_cast<uint8_t>(request.kind() | kAnswerBit));
            if (!library_ || callName(request.kind()) == nullptr ||
                (request.kind() & kAnswerBit) != 0)
                ::_exit(kProtocolFaultExit);
            switch (call) {
            case Call::Create: {
                request.end();
                zdp_provider *made = nullptr;
                const int32_t status = need(abi_.create)(&made);
                reply.i32(status).u64(numberOf(made));
                break;
            }
            case Call::Destroy: {
                zdp_provider *dp = providerOf(request.u64());
                request.end();
                need(abi_.destroy)(dp);
                break;
            }
            case Call::ErrorText: {
                const zdp_provider *dp = providerOf(request.u64());
                request.end();
                const char *text = need(abi_.errorText)(dp);
                reply.u8(text ? 0 : 1).bytes(text ? cutText(text, kMaxText) : std::string());
                break;
            }
            case Call::Probe: {
                zdp_provider *dp = providerOf(request.u64());
                int32_t result = request.i32();
                request.end();
                const int32_t status = need(abi_.probeProvider)(dp, &result);
                reply.i32(status).i32(result);
                break;
            }
            case Call::Open: {
                zdp_provider *dp = providerOf(request.u64());
                const int32_t arg1 = request.i32();
                const int32_t arg2 = request.i32();
                int16_t flag = request.i16();
                request.end();
                const int32_t status = need(abi_.openConnection)(dp, arg1, arg2, &flag);
                reply.i32(status).i16(flag);
                break;
            }
            case Call::Close: {
                zdp_provider *dp = providerOf(request.u64());
                request.end();
                reply.i32(need(abi_.closeConnection)(dp));
                break;
            }
            case Call::GetChannel: {
                zdp_provider *dp = providerOf(request.u64());
                const int32_t arg1 = request.i32();
                uint8_t channel = request.u8();
                request.end();
                const int32_t status = need(abi_.getBaseChannel)(dp, arg1, &channel);
                reply.i32(status).u8(channel);
                break;
            }
            case Call::SetChannel: {
                zdp_provider *dp = providerOf(request.u64());
                const int32_t arg1 = request.i32();
                const uint8_t channel = request.u8();
                request.end();
                reply.i32(need(abi_.setBaseChannel)(dp, arg1, channel));
                break;
            }
            case Call::Pair: {
                zdp_provider *dp = providerOf(request.u64());
                const int32_t arg1 = request.i32();
                const int32_t mode = request.i32();
                const int32_t window = request.i32();
                uint32_t id = request.u32();
                int32_t extra = request.i32();
                int32_t result = request.i32();
                request.end();
                const int32_t status =
                    need(abi_.pairModule)(dp, arg1, mode, window, &id, &extra, &result);
                reply.i32(status).u32(id).i32(extra).i32(result);
                break;
            }
            case Call::Write: {
                zdp_provider *dp = providerOf(request.u64());
                const uint8_t arg1 = request.u8();
                const uint32_t id = request.u32();
                const uint8_t command = request.u8();
                const std::string payload = request.bytes(kMaxMessage);
                int16_t flag = request.i16();
                request.end();
                const int32_t status = need(abi_.writeModuleCommand)(
                    dp, arg1, id, command, payload.data(), payload.size(), &flag);
                reply.i32(status).i16(flag);
                break;
            }
            case Call::Read:
                read(request, reply);
                break;
            }
            send(reply);
        } catch (const ProtocolError &) {
            ::_exit(kProtocolFaultExit);
        }
    }

    // The buffer sits between guard regions, so that a library writing past its capacity
    // is seen and reported instead of corrupting this process unnoticed.
    void read(Decoder &request, Encoder &reply) const {
        zdp_provider *dp = providerOf(request.u64());
        const uint8_t arg1 = request.u8();
        const uint32_t id = request.u32();
        const uint8_t command = request.u8();
        const uint32_t capacity = request.u32();
        int16_t flag = request.i16();
        size_t length = static_cast<size_t>(request.u64());
        request.end();
        if (capacity > kMaxReadCapacity)
            ::_exit(kProtocolFaultExit);
        std::vector<unsigned char> area(kGuardBytes + capacity + kGuardBytes, kGuard);
        std::fill_n(area.begin() + kGuardBytes, capacity, 0);
        char *value = reinterpret_cast<char *>(area.data() + kGuardBytes);
        const int32_t status =
            need(abi_.readModuleCommand)(dp, arg1, id, command, value, capacity, &length, &flag);
        bool outside = false;
        for (size_t i = 0; i < kGuardBytes; ++i)
            outside = outside || area[i] != kGuard || area[kGuardBytes + capacity + i] != kGuard;
        const size_t kept = std::min<size_t>(length, capacity);
        reply.i32(status)
            .i16(flag)
            .u64(length)
            .u8(outside ? 1 : 0)
            .bytes(std::string_view(value, kept));
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
    const std::string library =
        fw::resolveProviderLibrary(argc > 1 ? std::optional<std::string>(argv[1]) : std::nullopt);
    Host host(kConnectionFd);
    host.greet(library);
    host.serve();
    // The library is left loaded: its destructors run in a process that is going anyway,
    // and one that hangs there must not keep the parent waiting (it kills the group).
    ::_exit(0);
}
