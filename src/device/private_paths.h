#pragma once

#include <string>

namespace fw {

// The program's own helper files. A program run from the build tree uses the ones built
// beside it; an installed one uses the folders the package puts them in, found from where
// the program itself lies, so that any installation prefix works.

// The process that loads the data-provider library on the program's behalf.
std::string providerHostExecutable();

// The simulated base station.
std::string simulatorLibrary();

} // namespace fw
