#include "library_provider.h"

#include "dataprovider_abi.h"
#include "provider_library.h"
#include "provider_text.h"

#include <utility>
#include <vector>

namespace fw {

namespace {

std::string errorTextOf(const Abi &abi, const zdp_provider *dp) {
    const char *text = abi.zdp_error_text(dp);
    return text ? std::string(text) : std::string();
}

class LibraryProvider final : public DataProvider {
public:
    LibraryProvider(LibraryHandle library, Abi abi, zdp_provider *dp)
        : library_(std::move(library)), abi_(abi), dp_(dp) {}

    ~LibraryProvider() override {
        // The object must go before the code that implements it is unmapped.
        abi_.zdp_destroy(dp_);
    }

    LibraryProvider(const LibraryProvider &) = delete;
    LibraryProvider &operator=(const LibraryProvider &) = delete;

    int32_t ProbeProvider() override {
        int32_t result = 0;
        check(abi_.zdp_probe_provider(dp_, &result));
        return result;
    }

    int16_t OpenConnection(int32_t arg1, int32_t arg2) override {
        int16_t flag = 0;
        check(abi_.zdp_open_connection(dp_, arg1, arg2, &flag));
        return flag;
    }

    void CloseConnection() override { check(abi_.zdp_close_connection(dp_)); }

    uint8_t GetBaseChannel(int32_t arg1) override {
        uint8_t channel = 0;
        check(abi_.zdp_get_base_channel(dp_, arg1, &channel));
        return channel;
    }

    void SetBaseChannel(int32_t arg1, uint8_t channel) override {
        check(abi_.zdp_set_base_channel(dp_, arg1, channel));
    }

    void PairModule(int32_t arg1, int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId,
                    int32_t &moduleChannel) override {
        uint32_t id = moduleId;
        int32_t extra = 0;
        int32_t result = 0;
        check(abi_.zdp_pair_module(dp_, arg1, channelMode, windowSeconds, &id, &extra, &result));
        moduleId = id;
        moduleChannel = extra;
    }

    int16_t WriteModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                               const std::string &payload) override {
        int16_t flag = 0;
        check(abi_.zdp_write_module_command(dp_, arg1, moduleId, command, payload.data(),
                                            payload.size(), &flag));
        return flag;
    }

    int16_t ReadModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                              std::string &value) override {
        std::vector<char> buffer(kReadCapacity, '\0');
        size_t length = 0;
        int16_t flag = 0;
        check(abi_.zdp_read_module_command(dp_, arg1, moduleId, command, buffer.data(),
                                           buffer.size(), &length, &flag));
        if (length > buffer.size())
            length = buffer.size(); // a library that over-reports must not make us over-read
        value.assign(buffer.data(), length);
        return flag;
    }

private:
    static constexpr size_t kReadCapacity = 1024;
    static_assert(kReadCapacity >= ZDP_MIN_READ_CAPACITY);

    void check(int32_t status) const {
        if (status != 0)
            throw ProviderError(status, errorTextOf(abi_, dp_));
    }

    LibraryHandle library_;
    Abi abi_;
    zdp_provider *dp_;
};

} // namespace

std::unique_ptr<DataProvider> createDataProvider(const std::string &library) {
    LibraryHandle handle = openProviderLibrary(library);
    const Abi abi = bindAll(handle.get());
    zdp_provider *dp = nullptr;
    if (const int32_t status = abi.zdp_create(&dp); status != 0)
        throw ProviderError(status, errorTextOf(abi, nullptr));
    return std::make_unique<LibraryProvider>(std::move(handle), abi, dp);
}

std::unique_ptr<DataProvider> createDataProvider() {
    return createDataProvider(resolveProviderLibrary());
}

} // namespace fw
