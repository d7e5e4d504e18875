#pragma once

#include "provider_thread.h"

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

class QEventLoop;

namespace fw::app {

// Waits for the provider thread on the thread that made it, serving that thread's event
// loop meanwhile: paints, timers, the window manager's messages and queued calls go on,
// while key presses and clicks stay queued until the caller processes events itself,
// exactly as for a window that blocked. Other threads, or a program whose application is
// gone or exiting, just block.
class EventLoopWaiter final : public CallWaiter {
public:
    EventLoopWaiter();
    ~EventLoopWaiter() override;
    EventLoopWaiter(const EventLoopWaiter &) = delete;
    EventLoopWaiter &operator=(const EventLoopWaiter &) = delete;

    void serveUntil(const std::function<bool()> &done) override;
    void wake() override;

private:
    std::unique_ptr<QObject> waker_;  // lives on the creating thread
    std::vector<QEventLoop *> loops_; // the waits under way, innermost last
};

} // namespace fw::app
