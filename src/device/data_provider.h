#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace fw {

// The program's own reasons for having no working library, numbered apart from anything
// the library answers: they never share one number space with its statuses.
enum LoaderError : int32_t {
    kLoaderCannotLoad = 1,
    kLoaderMissingSymbol = 2,
    kLoaderWrongVersion = 3,
    kProviderStoppedCode = 4, // ProviderStopped
};

// A failure around the data-provider library: the loader's own (it could not load the
// library, a symbol is missing, the ABI version differs, the library's process stopped),
// or an error status the library answered, as opposed to a device answering with a
// failure flag. The kind tells them apart; the code is the loader's number or the
// library's status, whatever its value.
class ProviderError : public std::runtime_error {
public:
    enum class Kind { CannotLoad, MissingSymbol, WrongVersion, Stopped, LibraryStatus };

    // An error status that the library answered.
    ProviderError(int32_t status, std::string description);
    // A failure of the loader's own.
    ProviderError(LoaderError error, std::string description);

    Kind kind() const { return kind_; }
    int32_t code() const { return code_; }
    const std::string &description() const { return description_; }

private:
    Kind kind_;
    int32_t code_;
    std::string description_;
};

// What ended a call that the library never finished: its process crashed, exited, hung
// past the call's deadline or broke the protocol. The process is gone by the time this is
// thrown, and the next call starts a fresh one.
class ProviderStopped : public ProviderError {
public:
    // happened says what and where: "killed by signal 11 in zdp_pair_module".
    explicit ProviderStopped(std::string happened);

    const std::string &happened() const { return happened_; }

private:
    std::string happened_;
};

// The data-provider object held by the window as DP. Operations and argument orders
// follow the device library; every error status surfaces as ProviderError. A failure
// flag is returned as int16_t, 0 meaning success.
class DataProvider {
public:
    virtual ~DataProvider() = default;

    virtual int16_t OpenConnection(int32_t arg1, int32_t arg2) = 0;
    virtual void CloseConnection() = 0;
    // The library's probe result: ZDP_PROBE_SIMULATED from a simulated base station.
    virtual int32_t ProbeProvider() = 0;
    virtual uint8_t GetBaseChannel(int32_t arg1) = 0;
    virtual void SetBaseChannel(int32_t arg1, uint8_t channel) = 0;
    // moduleId is in and out: the paired module's ID, or 0 when none paired. extra receives
    // the library's *extra: the paired module's radio channel when it is 1 to 16, and no
    // channel at all otherwise (a library that does not say).
    virtual void PairModule(int32_t arg1, int32_t channelMode, int32_t windowSeconds,
                            uint32_t &moduleId, int32_t &extra) = 0;
    virtual int16_t WriteModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                                       const std::string &payload) = 0;
    // value receives the module's answer as the library gave it, NULs included.
    virtual int16_t ReadModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                                      std::string &value) = 0;
};

// Environment variable naming the library to load: a path, or a name for the
// dynamic linker.
inline constexpr const char *kProviderEnvVar = "FLEETWRIGHT_PROVIDER";
// The name under which the device maker's library is installed.
inline constexpr const char *kDefaultProviderLibrary = "libzarvik-dataprovider.so.1";

// The library name the program loads: the given one, else FLEETWRIGHT_PROVIDER, else the
// device maker's installed name. An empty name counts as none.
std::string resolveProviderLibrary(const std::optional<std::string> &given = std::nullopt);

} // namespace fw
