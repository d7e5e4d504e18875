#include "data_provider.h"

#include "provider_text.h"

#include <cstdlib>
#include <utility>

namespace fw {

ProviderError::ProviderError(int32_t code, std::string description)
    : std::runtime_error(withCode(description, code)), code_(code),
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
