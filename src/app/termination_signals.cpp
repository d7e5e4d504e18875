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

// How long the window's thread has to take a second signal, and then to save the entries,
// before the program ends without them.
constexpr unsigned kTakeWithinSeconds = 1;
constexpr unsigned kSaveWithinSeconds = 3;

volatile sig_atomic_t gCount = 0; // signals come so far, counted up to two
volatile sig_atomic_t gSecond = 0;
std::array<int, 2> gPipe{-1, -1};

void setAction(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // One handler at a time, so that the count cannot be torn between two of them.
    for (const int blocked : kSignals)
        sigaddset(&action.sa_mask, blocked);
    sigaddset(&action.sa_mask, SIGALRM);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

// Ends the program the way the signal ends a program that does not catch it; safe in a
// signal handler.
void endBy(int signal) {
    setAction(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::raise(signal);
    // Blocked while a handler runs: delivered, and fatal, once it is unblocked.
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
}

extern "C" void onSecondNotTaken(int /*alarm*/) {
    endBy(gSecond);
}

extern "C" void onTerminationSignal(int signal) {
    if (gCount >= 2) {
        endBy(signal);
        return;
    }
    const int saved = errno;
    gCount = gCount + 1;
    if (gCount == 2) {
        gSecond = signal;
        setAction(SIGALRM, onSecondNotTaken);
        ::alarm(kTakeWithinSeconds);
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onFirst,
                                       std::function<void()> onSecond)
    : onFirst_(std::move(onFirst)), onSecond_(std::move(onSecond)) {
    if (::pipe2(gPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default actions
    notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::takeSignal);
    for (const int signal : kSignals)
        setAction(signal, onTerminationSignal);
}

TerminationSignals::~TerminationSignals() {
    for (const int signal : kSignals)
        std::signal(signal, SIG_DFL);
    ::alarm(0);
    std::signal(SIGALRM, SIG_DFL);
    notifier_.reset();
    for (int &fd : gPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    gCount = 0;
}

bool TerminationSignals::received() {
    return gCount != 0;
}

void TerminationSignals::takeSignal() {
    char bytes[16];
    while (::read(gPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (gCount >= 2) {
        ::alarm(kSaveWithinSeconds);
        if (onSecond_)
            onSecond_();
        endBy(gSecond);
        return;
    }
    if (gCount == 1 && !firstTaken_) {
        firstTaken_ = true;
        if (onFirst_)
            onFirst_();
    }
}

} // namespace fw::app
