#include "event_loop_waiter.h"

#include "off_thread.h"

namespace fw::app {

void EventLoopWaiter::serveUntil(const std::function<bool()> &done) {
    serveEventsUntil(done);
}

void EventLoopWaiter::wake() {
    wakeEventWaits();
}

} // namespace fw::app
