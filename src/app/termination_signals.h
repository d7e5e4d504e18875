#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace fw::app {

// SIGTERM, SIGINT and SIGHUP as a request to close, delivered on the thread that made this
// through its event loop (a self-pipe watched by a QSocketNotifier: a signal handler may
// do next to nothing, so it only writes a byte). The first one calls onFirst; any further
// one ends the program at once, as the signal would have without this. One at a time.
class TerminationSignals final : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onFirst);
    // Puts the signals' default actions back.
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Whether one of the signals has come.
    static bool received();

private:
    void takeSignal();

    std::function<void()> onFirst_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace fw::app
