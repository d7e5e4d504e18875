#include "off_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <thread>

namespace fw::app {

void runServingEvents(const std::function<void()> &work) {
    std::atomic<bool> done = false;
    QEventLoop loop;
    std::thread worker([&] {
        work();
        done = true;
        // Queued, so that a quit sent before exec() starts still ends it.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // exec() refuses to start (-1) without an application or once it is exiting; the join
    // then waits as any blocking call would.
    while (!done && QCoreApplication::instance())
        if (loop.exec(QEventLoop::ExcludeUserInputEvents) == -1)
            break;
    worker.join();
}

} // namespace fw::app
