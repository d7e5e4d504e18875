#include "interruption.h"

#include "host_processes.h"

#include <array>
#include <csignal>

namespace fw::check {

namespace {

constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t gSignal = 0;

extern "C" void onInterruption(int signal) {
    if (gSignal != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    gSignal = signal;
    host::killEveryHost();
}

} // namespace

void catchInterruptions() {
    struct sigaction action {};
    action.sa_handler = onInterruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

int interruption() {
    return gSignal;
}

std::string interruptionReason(int signal) {
    const char *name = signal == SIGINT    ? "SIGINT"
                       : signal == SIGTERM ? "SIGTERM"
                       : signal == SIGHUP  ? "SIGHUP"
                                           : "a signal";
    return std::string("interrupted by ") + name + " (signal " + std::to_string(signal) + ")";
}

} // namespace fw::check
