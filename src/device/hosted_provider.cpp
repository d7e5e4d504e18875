#include "hosted_provider.h"

#include "dataprovider_abi.h"
#include "host_connection.h"

#include <optional>
#include <utility>

namespace fw {

namespace {

using host::Call;
using host::HostConnection;

// The calls the program makes, in the order the loader reports a missing one.
constexpr Call kProgramCalls[] = {Call::Create, Call::Destroy, Call::ErrorText,  Call::Probe,
                                  Call::Open,   Call::Close,   Call::GetChannel, Call::SetChannel,
                                  Call::Pair,   Call::Write,   Call::Read};

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
            host_->destroy(provider_);
        } catch (const ProviderStopped &) {
            // Killed and reaped already; nothing is left to release.
        }
    }

    HostedProvider(const HostedProvider &) = delete;
    HostedProvider &operator=(const HostedProvider &) = delete;

    int32_t ProbeProvider() override {
        HostConnection &host = running();
        int32_t result = 0;
        guarded([&] { check(host, host.probe(provider_, result)); });
        return result;
    }

    int16_t OpenConnection(int32_t arg1, int32_t arg2) override {
        HostConnection &host = running();
        int16_t flag = 0;
        guarded([&] { check(host, host.open(provider_, arg1, arg2, flag)); });
        open_ = flag == 0;
        return flag;
    }

    void CloseConnection() override {
        // A host that stopped has nothing open, and closing needs no fresh one.
        if (!host_) {
            open_ = false;
            return;
        }
        guarded([&] { check(*host_, host_->close(provider_)); });
        open_ = false;
    }

    uint8_t GetBaseChannel(int32_t arg1) override {
        HostConnection &host = running();
        uint8_t channel = 0;
        guarded([&] { check(host, host.getChannel(provider_, arg1, channel)); });
        return channel;
    }

    void SetBaseChannel(int32_t arg1, uint8_t channel) override {
        HostConnection &host = running();
        guarded([&] { check(host, host.setChannel(provider_, arg1, channel)); });
    }

    void PairModule(int32_t arg1, int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId,
                    int32_t &moduleChannel) override {
        HostConnection &host = running();
        uint32_t id = moduleId;
        int32_t extra = 0;
        int32_t result = 0;
        guarded([&] {
            check(host, host.pair(provider_, arg1, channelMode, windowSeconds, id, extra, result));
        });
        moduleId = id;
        moduleChannel = extra;
    }

    int16_t WriteModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                               const std::string &payload) override {
        HostConnection &host = running();
        int16_t flag = 0;
        guarded(
            [&] { check(host, host.write(provider_, arg1, moduleId, command, payload, flag)); });
        return flag;
    }

    int16_t ReadModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                              std::string &value) override {
        HostConnection &host = running();
        host::ReadAnswer answer;
        guarded([&] {
            answer = host.read(provider_, arg1, moduleId, command, kReadCapacity, 0, 0);
            check(host, answer.status);
        });
        value = std::move(answer.value);
        return answer.flag;
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
        for (const Call call : kProgramCalls)
            if (!hello.has(call))
                throw ProviderError(kLoaderMissingSymbol,
                                    std::string("The data-provider library has no symbol ") +
                                        host::callName(call));
        uint64_t made = 0;
        if (const int32_t status = host->create(made); status != 0)
            throw ProviderError(status, textOf(*host, 0));
        provider_ = made;
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
            int32_t result = 0;
            check(*host_, host_->probe(provider_, result));
            if (reopen) {
                int16_t flag = 0;
                check(*host_, host_->open(provider_, 0, 0, flag));
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
            throw ProviderStopped("starting it again failed: " + error.description() +
                                  " [Code: " + std::to_string(error.code()) + "]");
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
        return host.errorText(provider).value_or(std::string());
    }

    void check(HostConnection &host, int32_t status) {
        if (status == 0)
            return;
        std::string text;
        guarded([&] { text = textOf(host, provider_); });
        throw ProviderError(status, text);
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
