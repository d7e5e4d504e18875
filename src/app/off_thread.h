#pragma once

#include <chrono>
#include <functional>
#include <memory>

class QEvent;
class QObject;

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

// While one lives, the waits of serveEventsUntil() also deliver the input that admits() lets
// through, to the object it was sent to; the rest of the input that comes during a wait is
// dropped rather than kept for later. Outside the waits input goes where it always goes. A
// continuous run uses it so that Stop and the session list answer while a module is awaited.
class InputDuringWaits {
public:
    using Admits = std::function<bool(QObject *receiver, QEvent *event)>;
    explicit InputDuringWaits(Admits admits);
    ~InputDuringWaits();
    InputDuringWaits(const InputDuringWaits &) = delete;
    InputDuringWaits &operator=(const InputDuringWaits &) = delete;

private:
    class Filter;
    std::unique_ptr<Filter> filter_;
};

// Whether an event is the operator's input: keys, the mouse, touch, a tablet, a context menu.
bool isUserInput(const QEvent &event);

// Makes every serveEventsUntil() under way look at its condition again; from any thread.
// A wait nested in another (an event served during the first waits too) may hold the loop
// that the outer wait needs, so every wait looks.
void wakeEventWaits();

// Runs work on a thread of its own and returns once it is done, serving events meanwhile.
void runServingEvents(const std::function<void()> &work);

} // namespace fw::app
