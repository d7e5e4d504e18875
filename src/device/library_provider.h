#pragma once

#include "data_provider.h"

#include <memory>
#include <string>

namespace fw {

// Loads the library named by FLEETWRIGHT_PROVIDER (or the default name) into this process
// and creates a provider object in it. Throws ProviderError on any failure. Only tests and
// benchmarks that look inside a library do this (fw_provider_library); the program and the
// checker reach the library through a host process (hosted_provider.h), and the host binds
// its calls itself (provider_library.h).
std::unique_ptr<DataProvider> createDataProvider();

// Same, from an explicit library path or name.
std::unique_ptr<DataProvider> createDataProvider(const std::string &library);

} // namespace fw
