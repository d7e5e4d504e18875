#pragma once

#include "dataprovider_abi.h"

#include <memory>
#include <optional>
#include <string>

namespace fw {

// Every call of a data-provider library, as bound from its handle, each slot named as its
// symbol (provider_calls.def).
struct Abi {
// NOLINTBEGIN(bugprone-macro-parentheses): a declaration's name cannot be parenthesised
#define FW_VERSION_CALL(symbol) decltype(&::symbol) symbol = nullptr;
#define FW_CALL(Name, symbol, Scope, fields, invoke) decltype(&::symbol) symbol = nullptr;
#include "provider_calls.def"
    // NOLINTEND(bugprone-macro-parentheses)
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

} // namespace fw
