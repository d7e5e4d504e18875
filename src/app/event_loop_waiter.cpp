#include "event_loop_waiter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace fw::app {

EventLoopWaiter::EventLoopWaiter() : waker_(std::make_unique<QObject>()) {}

EventLoopWaiter::~EventLoopWaiter() = default;

void EventLoopWaiter::serveUntil(const std::function<bool()> &done) {
    // Only the thread with Qt's event loop has events to serve.
    if (!QCoreApplication::instance() || QThread::currentThread() != waker_->thread())
        return;
    QEventLoop loop;
    loops_.push_back(&loop);
    // exec() refuses to start (-1) once the application is exiting; then only blocking
    // is left.
    while (!done() && loop.exec(QEventLoop::ExcludeUserInputEvents) != -1) {
    }
    loops_.pop_back();
}

void EventLoopWaiter::wake() {
    // Every wait under way looks again: a wait nested in another (an event served during
    // the first asked for a call too) may hold the loop that the finished call's wait needs.
    QMetaObject::invokeMethod(
        waker_.get(),
        [this] {
            for (QEventLoop *loop : loops_)
                loop->quit();
        },
        Qt::QueuedConnection);
}

} // namespace fw::app
