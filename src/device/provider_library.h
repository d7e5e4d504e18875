#pragma once

#include "dataprovider_abi.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fw {

// The twelve calls of a data-provider library, as bound from its handle.
struct Abi {
    decltype(&zdp_abi_version) abiVersion = nullptr;
    decltype(&zdp_create) create = nullptr;
    decltype(&zdp_destroy) destroy = nullptr;
    decltype(&zdp_error_text) errorText = nullptr;
    decltype(&zdp_probe_provider) probeProvider = nullptr;
    decltype(&zdp_open_connection) openConnection = nullptr;
    decltype(&zdp_close_connection) closeConnection = nullptr;
    decltype(&zdp_get_base_channel) getBaseChannel = nullptr;
    decltype(&zdp_set_base_channel) setBaseChannel = nullptr;
    decltype(&zdp_pair_module) pairModule = nullptr;
    decltype(&zdp_write_module_command) writeModuleCommand = nullptr;
    decltype(&zdp_read_module_command) readModuleCommand = nullptr;
};

struct LibraryCloser {
    void operator()(void *handle) const;
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

// dlopen with the program's flags, after refusing a path that names something other than a
// file (dlopen would wait forever on a named pipe); throws ProviderError(kLoaderCannotLoad).
LibraryHandle openProviderLibrary(const std::string &library);

// Checks the version first, then binds every call; throws ProviderError on a wrong version
// or the first missing symbol.
Abi bindAll(void *handle);

// Binds whatever the library exports and leaves the missing calls null, for a caller that
// wants to report them all rather than stop at the first.
Abi bindPresent(void *handle);

// The names of the calls that the library does not export, in the ABI's order.
std::vector<std::string> missingSymbols(void *handle);

} // namespace fw
