#pragma once

#include "checks.h"

#include <vector>

namespace fw::check {

// The checks that run the program's own updates against the library, each through the
// program's provider in a host of its own, and then read the module back with the
// program's own Read. They go after every check of the module group.
void addUpdateChecks(std::vector<Check> &checks);

} // namespace fw::check
