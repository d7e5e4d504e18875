// Runs whole "General"-tab updates in the real window on the simulated base station (in a
// provider host, as the program runs it), with
// modules that take 3 s to wake, and prints the longest time the window's thread went
// without handling its events: what the window manager and the operator see as a window
// that does not answer. The update record is on, and a second process holds its lock for
// the whole run, so that every line waits as long as the record lets it.
//
// usage: stall_bench [updates]

#include "app_setup.h"
#include "command_line.h"
#include "data_provider.h"
#include "hosted_provider.h"
#include "main_frm.h"
#include "saved_entries.h"
#include "update_observer.h"
#include "x_tab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Milliseconds = double;

Milliseconds millisecondsSince(const QElapsedTimer &timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Ticks as often as the event loop lets it and keeps the longest gap between two ticks.
class StallMeter {
public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, millisecondsSince(sinceLast_));
            sinceLast_.restart();
        });
    }
    void start() {
        longest_ = 0;
        sinceLast_.start();
        timer_.start(1);
    }
    Milliseconds stop() {
        timer_.stop();
        return std::max(longest_, millisecondsSince(sinceLast_));
    }

private:
    QTimer timer_;
    QElapsedTimer sinceLast_;
    Milliseconds longest_ = 0;
};

// A second process that holds the record's lock until the end of the run; the returned
// descriptor ends it when closed. Forked before any thread exists.
struct LockHolder {
    pid_t pid = -1;
    int release = -1;
};

LockHolder holdLockElsewhere(const std::string &path) {
    int started[2];
    int release[2];
    if (::pipe(started) != 0 || ::pipe(release) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const char ready = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
        ::close(release[1]);
        if (::write(started[1], &ready, 1) != 1)
            ::_exit(1);
        char done = 0;
        while (::read(release[0], &done, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(started[1]);
    ::close(release[0]);
    char ready = '0';
    if (child < 0 || ::read(started[0], &ready, 1) != 1 || ready != '1')
        return {};
    ::close(started[0]);
    return {child, release[1]};
}

} // namespace

int main(int argc, char **argv) {
    const int updates = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QTemporaryDir scratch;
    fw::app::CommandLine command;
    command.record = fw::app::CommandLine::Record::File;
    command.recordPath = scratch.filePath(QStringLiteral("updates.csv")).toStdString();
    const LockHolder holder = holdLockElsewhere(command.recordPath);
    if (holder.pid < 0) {
        std::fprintf(stderr, "no second process could take the record's lock\n");
        return 1;
    }
    qputenv("FLEETWRIGHT_SIM_WAKE_MS", "3000");
    qputenv("FLEETWRIGHT_SIM_LOCK", (scratch.path() + QStringLiteral("/sim.lock")).toLocal8Bit());
    QApplication app(argc, argv);
    fw::app::registerFontSubstitutes();

    auto store = fw::app::QSettingsStore::inFile(scratch.path() + QStringLiteral("/bench.conf"));
    std::string lastTitle;
    const auto record = fw::app::updateRecordFor(command);
    fw::app::MainFrm window(
        store,
        [&](QWidget *, const fw::Message &message) {
            lastTitle = message.title;
            return fw::MessageButton::Ok;
        },
        record.get());
    if (!window.load(
            [] { return fw::createHostedProvider(FLEETWRIGHT_HOST, FLEETWRIGHT_SIMULATOR); },
            QStringLiteral("fleetwright"))) {
        std::fprintf(stderr, "the simulated base station did not start\n");
        return 1;
    }
    window.findChild<fw::app::XTab *>()->setActiveTab(0);
    window.show();
    auto *update = window.findChild<QPushButton *>(QStringLiteral("Command1"));

    StallMeter meter;
    Milliseconds worst = 0;
    for (int i = 1; i <= updates; ++i) {
        lastTitle.clear();
        meter.start();
        QElapsedTimer wall;
        wall.start();
        update->click();
        const Milliseconds stall = meter.stop();
        worst = std::max(worst, stall);
        std::printf("update %d  %-16s  %6.0f ms  longest stall %7.2f ms\n", i, lastTitle.c_str(),
                    millisecondsSince(wall), stall);
    }
    std::printf("longest stall of the window's thread over %d updates (wake delay 3 s, record "
                "locked by another process): %.2f ms  (target: at most 50 ms)\n",
                updates, worst);
    window.close();
    ::close(holder.release);
    ::waitpid(holder.pid, nullptr, 0);
    return 0;
}
