#include "data_provider.h"

#include "provider_text.h"

#include <cstdlib>
#include <utility>

namespace fw {

namespace {
ProviderError::Kind kindOf(LoaderError error) {
    switch (error) {
    case kLoaderCannotLoad:
        return ProviderError::Kind::CannotLoad;
    case kLoaderMissingSymbol:
        return ProviderError::Kind::MissingSymbol;
    case kLoaderWrongVersion:
        return ProviderError::Kind::WrongVersion;
    case kProviderStoppedCode:
        break;
    }
    return ProviderError::Kind::Stopped;
}
} // namespace

ProviderError::ProviderError(int32_t status, std::string description)
    : std::runtime_error(withCode(description, status)), kind_(Kind::LibraryStatus), code_(status),
      description_(std::move(description)) {}

ProviderError::ProviderError(LoaderError error, std::string description)
    : std::runtime_error(withCode(description, error)), kind_(kindOf(error)), code_(error),
      description_(std::move(description)) {}

ProviderStopped::ProviderStopped(std::string happened)
    : ProviderError(kProviderStoppedCode, "the data-provider library stopped: " + happened),
      happened_(std::move(happened)) {}

std::string resolveProviderLibrary(const std::optional<std::string> &given) {
    if (given && !given->empty())
        return *given;
    const char *configured = std::getenv(kProviderEnvVar);
    // An empty setting would make dlopen return the program itself.
    if (configured && *configured)
        return std::string(configured);
    return std::string(kDefaultProviderLibrary);
}

} // namespace fw
