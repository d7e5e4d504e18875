#pragma once

#include <string>

namespace fw {

// The provider host: beside the running program in the build tree, else where the package
// installs it.
std::string providerHostExecutable();

} // namespace fw
