#pragma once

#include "command_line.h"
#include "message_box.h"
#include "startup.h"

#include <QString>
#include <memory>

class QWidget;

namespace fw {
class UpdateObserver;
}

namespace fw::app {

// "Arial" and "Arial Narrow" resolve to their metric-compatible Liberation faces.
void registerFontSubstitutes();

// A write past the file size limit (ulimit -f) fails with EFBIG instead of ending the
// program: the settings store then sees a short write and keeps the old file.
void ignoreFileSizeSignal();

// The name the program stores its settings and titles its messages under: the
// executable's file name without extension.
QString applicationNameOf(const char *argv0);

// With FLEETWRIGHT_EXIT_AFTER_SHOW=1 in the environment, prints "shown <ns>" (the
// monotonic clock in nanoseconds) when the window is first exposed and quits. Start-up
// measurements use it.
void quitAfterFirstShowIfRequested(QWidget &window);

// The message presenter of the program: real message boxes, or, with
// FLEETWRIGHT_EXIT_AFTER_SHOW=1, a line "message <title>: <text>" on standard output
// answered at once, so that a script can see a start-up that ends before the window.
MessagePresenter presenterFromEnvironment();

// Where the entries live: the profile the command line names, or the per-user store.
QSettingsStore settingsStoreFor(const CommandLine &command, const QString &applicationName);

// Loads the library the command line asks for: --simulator's, --provider's, else the one
// FLEETWRIGHT_PROVIDER names, else the maker's.
ProviderFactory providerFactoryFor(const CommandLine &command);

// The update record the command line asks for; none with --no-record.
std::unique_ptr<UpdateObserver> updateRecordFor(const CommandLine &command);

// The whole program: start-up, then the window until it is closed. Returns the exit status.
int runFleetwright(const QString &applicationName, const ProviderFactory &createProvider,
                   const MessagePresenter &presenter = showMessageBox,
                   const CommandLine &command = {});

} // namespace fw::app
