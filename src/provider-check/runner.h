#pragma once

#include "checks.h"

#include <ostream>
#include <string>

namespace fw::check {

struct Options {
    std::string host; // the fleetwright-provider-host to run the library in
    std::string library;
    bool module = false;
    bool write = false;
};

enum ExitStatus : int {
    kAllPassed = 0,
    kSomeFailed = 1,
    kCannotCheck = 2, // the library could not be loaded or created, or a usage error
};

// Runs the selected checks, each group against the library in a host process of its own
// (the library never comes into this process), and writes TAP version 14 to out. Prompts
// for the operator go to standard error. Returns an ExitStatus, or 128 plus the signal's
// number when one of catchInterruptions() ended the run (after "Bail out!").
int runChecks(const Options &options, std::ostream &out);

// One line per check: its name, a tab, its description, and for checks that need an option,
// a tab and that option.
void listChecks(std::ostream &out);

// A YAML double-quoted scalar of any bytes, escaping what is not printable UTF-8.
std::string yamlQuoted(std::string_view text);

// Text from the library or the loader as one line of valid UTF-8: each line break becomes
// " / ", each byte that is not UTF-8 or is a control character U+FFFD.
std::string oneLine(std::string_view text);

} // namespace fw::check
