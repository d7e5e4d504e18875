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

// The filter of the InputDuringWaits that lives, if one does.
QObject *&inputFilter() {
    static QObject *filter = nullptr;
    return filter;
}

} // namespace

bool isUserInput(const QEvent &event) {
    switch (event.type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

class InputDuringWaits::Filter : public QObject {
public:
    explicit Filter(Admits admits) : admits_(std::move(admits)) {}

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override {
        return !waits().empty() && isUserInput(*event) && !admits_(receiver, event);
    }

private:
    Admits admits_;
};

InputDuringWaits::InputDuringWaits(Admits admits)
    : filter_(std::make_unique<Filter>(std::move(admits))) {
    if (QCoreApplication *application = QCoreApplication::instance())
        application->installEventFilter(filter_.get());
    inputFilter() = filter_.get();
}

InputDuringWaits::~InputDuringWaits() {
    inputFilter() = nullptr;
}

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
        const auto input =
            inputFilter() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents;
        if (loop.exec(input) == -1)
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
