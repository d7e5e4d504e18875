#include "off_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace fw::app {

namespace {

using Clock = std::chrono::steady_clock;

// The waits under way, innermost last; only the application's thread touches them.
std::vector<QEventLoop *> &waits() {
    static std::vector<QEventLoop *> loops;
    return loops;
}

} // namespace

void serveEventsUntil(const std::function<bool()> &done, Clock::time_point deadline) {
    const QCoreApplication *application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    waits().push_back(&loop);
    // A timer may fire a little early; only the monotonic clock says when the time is up.
    for (auto now = Clock::now(); !done() && now < deadline; now = Clock::now()) {
        if (deadline != Clock::time_point::max())
            timer.start(std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        // exec() refuses to start (-1) once the application is exiting.
        if (loop.exec(QEventLoop::ExcludeUserInputEvents) == -1)
            break;
    }
    waits().erase(std::find(waits().begin(), waits().end(), &loop));
}

void wakeEventWaits() {
    if (QCoreApplication *application = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            application,
            [] {
                for (QEventLoop *loop : waits())
                    loop->quit();
            },
            Qt::QueuedConnection);
}

void runServingEvents(const std::function<void()> &work) {
    std::atomic<bool> done = false;
    std::thread worker([&] {
        work();
        done = true;
        wakeEventWaits();
    });
    serveEventsUntil([&] { return done.load(); });
    worker.join();
}

} // namespace fw::app
