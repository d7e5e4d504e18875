#pragma once

#include <string>

namespace fw::check {

// SIGINT, SIGTERM and SIGHUP end a run early: the first one kills every provider host at
// once (the check under way then sees its host stop) and the run ends with "Bail out!";
// a second one ends the checker at once, as the signal would have without this.
void catchInterruptions();

// The signal that came, or 0.
int interruption();

// The reason the run ends with, one line: "interrupted by SIGTERM (signal 15)".
std::string interruptionReason(int signal);

} // namespace fw::check
