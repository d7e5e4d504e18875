#include "app_setup.h"

#include "data_provider.h"
#include "event_loop_waiter.h"
#include "hosted_provider.h"
#include "main_frm.h"
#include "message_box.h"
#include "off_thread.h"
#include "private_paths.h"
#include "provider_thread.h"
#include "termination_signals.h"
#include "update_record.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QWindow>
#include <chrono>
#include <csignal>
#include <cstdio>

namespace fw::app {

void registerFontSubstitutes() {
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial Narrow"),
                              QStringLiteral("Liberation Sans Narrow"));
}

void ignoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

QString applicationNameOf(const char *argv0) {
    return QFileInfo(QString::fromLocal8Bit(argv0)).completeBaseName();
}

namespace {
class FirstExposeProbe : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::printf("shown %lld\n",
                        static_cast<long long>(std::chrono::nanoseconds(now).count()));
            std::fflush(stdout);
            watched->removeEventFilter(this);
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return false;
    }
};
} // namespace

void quitAfterFirstShowIfRequested(QWidget &window) {
    if (qEnvironmentVariable("FLEETWRIGHT_EXIT_AFTER_SHOW") != QLatin1String("1"))
        return;
    window.winId(); // the native window must exist to watch its first expose
    window.windowHandle()->installEventFilter(new FirstExposeProbe(&window));
}

MessagePresenter presenterFromEnvironment() {
    if (qEnvironmentVariable("FLEETWRIGHT_EXIT_AFTER_SHOW") != QLatin1String("1"))
        return showMessageBox;
    return [](QWidget *, const Message &message) {
        std::printf("message %s: %s\n", message.title.c_str(), message.text.c_str());
        std::fflush(stdout);
        return MessageButton::Ok;
    };
}

QSettingsStore settingsStoreFor(const CommandLine &command, const QString &applicationName) {
    return command.profile ? QSettingsStore::inFile(*command.profile)
                           : QSettingsStore(applicationName);
}

ProviderFactory providerFactoryFor(const CommandLine &command) {
    std::optional<std::string> given;
    if (command.simulator)
        given = simulatorLibrary();
    else if (command.provider)
        given = *command.provider;
    return [host = providerHostExecutable(), library = resolveProviderLibrary(given)] {
        return createHostedProvider(host, library);
    };
}

std::unique_ptr<UpdateObserver> updateRecordFor(const CommandLine &command) {
    switch (command.record) {
    case CommandLine::Record::None:
        return nullptr;
    case CommandLine::Record::File:
        return std::make_unique<record::UpdateRecord>(command.recordPath, false, runServingEvents);
    case CommandLine::Record::Default:
        break;
    }
    return std::make_unique<record::UpdateRecord>(record::defaultRecordPath(), true,
                                                  runServingEvents);
}

int runFleetwright(const QString &applicationName, const ProviderFactory &createProvider,
                   const MessagePresenter &presenter, const CommandLine &command) {
    // The library's host starts while the window is built: two processes, two cores.
    ProviderInTheMaking provider(createProvider, std::make_shared<EventLoopWaiter>());
    QSettingsStore store = settingsStoreFor(command, applicationName);
    const std::unique_ptr<UpdateObserver> record = updateRecordFor(command);
    MainFrm window(store, presenter, record.get());
    window.setProfilePath(command.profile);
    // A termination signal closes the window as its close button does (entries saved, base
    // station closed), with no box on the way waiting for a click; one during start-up is
    // carried out once the window is ready. A second one saves the entries unless the close
    // has, and ends the program.
    bool loaded = false;
    const TerminationSignals terminations(
        [&] {
            endMessageBoxes();
            // Later: the close waits for the base station, and the next signal must find
            // its notifier free meanwhile.
            if (loaded)
                QMetaObject::invokeMethod(
                    &window, [&window] { window.close(); }, Qt::QueuedConnection);
        },
        [&window] { window.saveEntriesUnlessSaved(); });
    if (!window.load(provider, applicationName))
        return kStartupFailedExit;
    loaded = true;
    if (TerminationSignals::received()) {
        endMessageBoxes();
        window.close();
        return 0;
    }

    // The window has no taskbar button, so it is not counted as a last window: its own
    // close ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &MainFrm::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.centreOnScreen();
    quitAfterFirstShowIfRequested(window);
    window.show();
    return QApplication::exec();
}

} // namespace fw::app
