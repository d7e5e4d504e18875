#pragma once

#include "provider_thread.h"

namespace fw::app {

// Waits for the provider thread through the window thread's one nested event loop
// (serveEventsUntil): the window goes on painting while user input stays queued.
class EventLoopWaiter final : public CallWaiter {
public:
    void serveUntil(const std::function<bool()> &done) override;
    void wake() override;
};

} // namespace fw::app
