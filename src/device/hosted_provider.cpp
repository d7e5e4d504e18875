#include "hosted_provider.h"

#include "dataprovider_abi.h"
#include "host_connection.h"
#include "provider_text.h"

#include <optional>
#include <utility>

namespace fw {

namespace {

using host::Call;
using host::HostConnection;

template <Call C> using Args = host::CallArgs<C>;

class HostedProvider final : public DataProvider {
public:
    HostedProvider(std::string hostExecutable, std::string library)
        : hostExecutable_(std::move(hostExecutable)), library_(std::move(library)) {
        start();
    }

    ~HostedProvider() override {
        if (!host_)
            return;
        try {
            Args<Call::Destroy> destroy{provider_};
            host_->call(destroy);
        } catch (const ProviderStopped &) {
            // Killed and reaped already; nothing is left to release.
        }
    }

    HostedProvider(const HostedProvider &) = delete;
    HostedProvider &operator=(const HostedProvider &) = delete;

    int32_t ProbeProvider() override { return made<Call::Probe>({}).result; }

    int16_t OpenConnection(int32_t arg1, int32_t arg2) override {
        const int16_t flag = made<Call::Open>({.arg1 = arg1, .arg2 = arg2}).flag;
        open_ = flag == 0;
        return flag;
    }

    void CloseConnection() override {
        // A host that stopped has nothing open, and closing needs no fresh one.
        if (!host_) {
            open_ = false;
            return;
        }
        made<Call::Close>({});
        open_ = false;
    }

    uint8_t GetBaseChannel(int32_t arg1) override {
        return made<Call::GetChannel>({.arg1 = arg1}).channel;
    }

    void SetBaseChannel(int32_t arg1, uint8_t channel) override {
        made<Call::SetChannel>({.arg1 = arg1, .channel = channel});
    }

    void PairModule(int32_t arg1, int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId,
                    int32_t &extra) override {
        const Args<Call::Pair> paired = made<Call::Pair>({.arg1 = arg1,
                                                          .channelMode = channelMode,
                                                          .windowSeconds = windowSeconds,
                                                          .moduleId = moduleId});
        moduleId = paired.moduleId;
        extra = paired.extra;
    }

    int16_t WriteModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                               const std::string &payload) override {
        return made<Call::Write>(
                   {.arg1 = arg1, .moduleId = moduleId, .command = command, .payload = payload})
            .flag;
    }

    int16_t ReadModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                              std::string &value) override {
        Args<Call::Read> read = made<Call::Read>(
            {.arg1 = arg1, .moduleId = moduleId, .command = command, .capacity = kReadCapacity});
        value = std::move(read.value);
        return read.flag;
    }

private:
    static constexpr size_t kReadCapacity = 1024;
    static_assert(kReadCapacity >= ZDP_MIN_READ_CAPACITY);

    // Starts a host and creates the provider in it, as the in-process loader would.
    void start() {
        auto host = std::make_unique<HostConnection>(hostExecutable_, library_);
        const host::Hello &hello = host->hello();
        if (!hello.loaded)
            throw ProviderError(hello.loaderError, hello.why);
        // The version first: a library of another version may lack calls of this one.
        if (!hello.version)
            throw ProviderError(kLoaderMissingSymbol,
                                "The data-provider library has no symbol zdp_abi_version");
        if (*hello.version != ZDP_ABI_VERSION)
            throw ProviderError(kLoaderWrongVersion, "The data-provider library has ABI version " +
                                                         std::to_string(*hello.version) +
                                                         ", this program needs version " +
                                                         std::to_string(ZDP_ABI_VERSION));
        for (const host::CallRow &row : host::kCalls)
            if (!hello.has(row.call))
                throw ProviderError(kLoaderMissingSymbol,
                                    "The data-provider library has no symbol " +
                                        std::string(row.symbol));
        Args<Call::Create> create;
        host->call(create);
        // A status of any value is the library's own, never one of the loader's reasons.
        if (create.status != 0)
            throw ProviderError(create.status, textOf(*host, 0));
        provider_ = create.provider;
        host_ = std::move(host);
    }

    // The host to call: the one running, or a fresh one brought to where the last stopped.
    HostConnection &running() {
        // A host that ended between calls (a thread of the library's crashed it) is
        // replaced before it can fail a call that it never saw.
        if (host_ && !host_->alive())
            host_.reset();
        if (host_)
            return *host_;
        const bool reopen = open_;
        open_ = false;
        try {
            start();
            checked<Call::Probe>(*host_, {.provider = provider_});
            if (reopen) {
                const int16_t flag = checked<Call::Open>(*host_, {.provider = provider_}).flag;
                if (flag != 0)
                    throw ProviderStopped("starting it again could not open the base station "
                                          "(failure flag " +
                                          std::to_string(flag) + ")");
                open_ = true;
            }
        } catch (const ProviderStopped &) {
            host_.reset();
            open_ = reopen;
            throw;
        } catch (const ProviderError &error) {
            host_.reset();
            open_ = reopen;
            throw ProviderStopped("starting it again failed: " +
                                  withCode(error.description(), error.code()));
        }
        return *host_;
    }

    // Runs calls on the host; when it stops, forgets it so that the next call starts anew.
    template <typename Calls> void guarded(Calls &&calls) {
        try {
            calls();
        } catch (const ProviderStopped &) {
            host_.reset();
            throw;
        }
    }

    static std::string textOf(HostConnection &host, uint64_t provider) {
        Args<Call::ErrorText> text{provider};
        host.call(text);
        return text.isNull ? std::string() : std::move(text.text);
    }

    // One call on the given host; an error status throws ProviderError with its text.
    template <Call C> Args<C> checked(HostConnection &host, Args<C> args) {
        host.call(args);
        if (args.status != 0)
            throw ProviderError(args.status, textOf(host, provider_));
        return args;
    }

    // One call on the running host (a fresh one when it stopped), on its provider: a
    // fresh host's provider is another.
    template <Call C> Args<C> made(Args<C> args) {
        HostConnection &host = C == Call::Close ? *host_ : running();
        args.provider = provider_;
        guarded([&] { args = checked<C>(host, std::move(args)); });
        return args;
    }

    std::string hostExecutable_;
    std::string library_;
    std::unique_ptr<HostConnection> host_;
    uint64_t provider_ = 0;
    bool open_ = false;
};

} // namespace

std::unique_ptr<DataProvider> createHostedProvider(const std::string &hostExecutable,
                                                   const std::string &library) {
    return std::make_unique<HostedProvider>(hostExecutable, library);
}

} // namespace fw
