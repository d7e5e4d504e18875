#include "termination_signals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace fw::app {

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t gReceived = 0;
std::array<int, 2> gPipe{-1, -1};

extern "C" void onTerminationSignal(int signal) {
    if (gReceived) {
        // The second one: end now, the way the signal ends a program that does not catch it
        // (it is blocked until this handler returns).
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    gReceived = 1;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onFirst)
    : onFirst_(std::move(onFirst)) {
    if (::pipe2(gPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default actions
    notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::takeSignal);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    for (const int signal : kSignals)
        std::signal(signal, SIG_DFL);
    notifier_.reset();
    for (int &fd : gPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    gReceived = 0;
}

bool TerminationSignals::received() {
    return gReceived != 0;
}

void TerminationSignals::takeSignal() {
    char bytes[16];
    while (::read(gPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (onFirst_)
        onFirst_();
}

} // namespace fw::app
