#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace fw::app {

// SIGTERM, SIGINT and SIGHUP as a request to end, delivered on the thread that made this
// through its event loop (a self-pipe watched by a QSocketNotifier: a signal handler may
// do next to nothing, so it only writes a byte). The first one calls onFirst. A second one
// calls onSecond and then ends the program as that signal would have without this; should
// the thread not take it within a second (it is blocked), or a third one come, the program
// ends without onSecond. One at a time.
class TerminationSignals final : public QObject {
public:
    TerminationSignals(std::function<void()> onFirst, std::function<void()> onSecond);
    // Puts the signals' default actions back.
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Whether one of the signals has come.
    static bool received();

private:
    void takeSignal();

    std::function<void()> onFirst_;
    std::function<void()> onSecond_;
    bool firstTaken_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace fw::app
