#pragma once

#include "data_provider.h"

#include <memory>
#include <string>

namespace fw {

// The program's DataProvider: the library runs in a fleetwright-provider-host process and
// every call travels there with a deadline (see HostConnection). A call the host never
// finishes throws ProviderStopped. The next call (any but CloseConnection) starts a fresh
// host and brings it to where the last one was: create, probe and, when the base station
// was open, open it again; if that fails, the call throws ProviderStopped naming why.
//
// Throws what the in-process loader throws (the same codes and texts) when the library
// cannot be loaded, has another version or lacks a call, and ProviderError when zdp_create
// fails.
std::unique_ptr<DataProvider> createHostedProvider(const std::string &hostExecutable,
                                                   const std::string &library);

} // namespace fw
