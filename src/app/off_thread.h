#pragma once

#include <chrono>
#include <functional>

namespace fw::app {

// The one nested event loop of the window's thread. It serves paints, timers, the window
// manager's messages and queued calls, while key presses and clicks stay queued until the
// caller processes events itself, exactly as for a window that blocked; it returns once
// done() holds or the deadline has passed on the monotonic clock. On another thread, or
// without an application or once it is exiting, it returns at once and the caller blocks
// as any blocking call would.
void serveEventsUntil(
    const std::function<bool()> &done,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// Makes every serveEventsUntil() under way look at its condition again; from any thread.
// A wait nested in another (an event served during the first waits too) may hold the loop
// that the outer wait needs, so every wait looks.
void wakeEventWaits();

// Runs work on a thread of its own and returns once it is done, serving events meanwhile.
void runServingEvents(const std::function<void()> &work);

} // namespace fw::app
