#include "provider_library.h"

#include "data_provider.h"

#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>

namespace fw {

namespace {

// Every symbol's name beside its slot, version first.
template <typename Visit> void forEachSymbol(Abi &abi, Visit &&visit) {
#define FW_VERSION_CALL(symbol) visit(#symbol, abi.symbol);
#define FW_CALL(Name, symbol, Scope, fields, invoke) visit(#symbol, abi.symbol);
#include "provider_calls.def"
}

template <typename Fn> void bind(void *handle, const char *name, Fn &slot) {
    void *symbol = dlsym(handle, name);
    if (!symbol)
        throw ProviderError(kLoaderMissingSymbol,
                            std::string("The data-provider library has no symbol ") + name);
    slot = reinterpret_cast<Fn>(symbol);
}

// What a path names when that is not a file dlopen can read.
const char *kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

// dlopen opens whatever a path names and waits on a named pipe until a writer comes, which
// may be never. A name without '/' is the dynamic linker's to search, not a path.
void refuseIfNotARegularFile(const std::string &library) {
    struct stat status {};
    if (library.find('/') == std::string::npos || ::stat(library.c_str(), &status) != 0 ||
        S_ISREG(status.st_mode))
        return;
    throw ProviderError(kLoaderCannotLoad, library +
                                               ": cannot load the data-provider library: it is " +
                                               kindOf(status.st_mode));
}

} // namespace

void LibraryCloser::operator()(void *handle) const {
    dlclose(handle);
}

LibraryHandle openProviderLibrary(const std::string &library) {
    refuseIfNotARegularFile(library);
    dlerror();
    LibraryHandle handle(dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        const char *why = dlerror();
        throw ProviderError(kLoaderCannotLoad,
                            why ? why : "Cannot load the data-provider library " + library);
    }
    return handle;
}

// The version is bound and checked first: a library of another version may lack calls
// of this one, and its version is then the useful thing to report.
Abi bindAll(void *handle) {
    Abi abi;
    bind(handle, "zdp_abi_version", abi.zdp_abi_version);
    if (const uint32_t version = abi.zdp_abi_version(); version != ZDP_ABI_VERSION)
        throw ProviderError(kLoaderWrongVersion,
                            "The data-provider library has ABI version " + std::to_string(version) +
                                ", this program needs version " + std::to_string(ZDP_ABI_VERSION));
    forEachSymbol(abi, [handle](const char *name, auto &slot) {
        if (!slot)
            bind(handle, name, slot);
    });
    return abi;
}

Abi bindPresent(void *handle) {
    Abi abi;
    forEachSymbol(abi, [handle]<typename Fn>(const char *name, Fn &slot) {
        slot = reinterpret_cast<Fn>(dlsym(handle, name));
    });
    return abi;
}

} // namespace fw
