#pragma once

#include <functional>

namespace fw::app {

// Runs work on a thread of its own and returns once it is done. Meanwhile the calling
// thread goes on painting, running timers and answering the window manager, as during
// pauseFor(); user input stays queued.
void runServingEvents(const std::function<void()> &work);

} // namespace fw::app
