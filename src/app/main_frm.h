#pragma once

#include "fleet_controller.h"
#include "message_box.h"
#include "session_log.h"
#include "startup.h"
#include "window_port.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <chrono>
#include <memory>
#include <optional>

class QComboBox;
class QShortcut;
class QLineEdit;
class QTimer;
class QRadioButton;

namespace Ui {
class MainFrm;
}

namespace fw {
class ProviderInTheMaking;
}

namespace fw::app {

class InputDuringWaits;
class SessionListWindow;
class NumericKeyFilter;

// The program's one window. Start-up runs in load() before it is shown; closing it saves
// the entries and releases the base station.
class MainFrm : public QWidget, public WindowPort, public EntryTarget {
    Q_OBJECT
public:
    // observer, when given, hears of every update (the update record).
    explicit MainFrm(SettingsStore &store, MessagePresenter presenter = showMessageBox,
                     UpdateObserver *observer = nullptr, QWidget *parent = nullptr);
    ~MainFrm() override;

    // Start-up; false when the program must end (the operator has been told why).
    bool load(const ProviderFactory &createProvider, const QString &applicationName);
    // The same with a provider whose making started before the window was built.
    bool load(ProviderInTheMaking &provider, const QString &applicationName);
    // The job profile that keeps the entries, for the caption and, given before load(), for
    // the channel start-up selects; none: the per-user store.
    void setProfilePath(const std::optional<QString> &path);
    // Places the window in the middle of its screen.
    void centreOnScreen();

    // WindowPort; also the entries as shutdown saves them.
    Entries entries() const override;
    // Saves them now unless shutdown has, for a program that ends without its close.
    void saveEntriesUnlessSaved();
    void setStatus(const std::string &text) override;
    void setBusyPointer() override;
    void setDefaultPointer() override;
    MessageButton showMessage(const Message &message) override;
    void processEvents() override;
    void pause(std::chrono::milliseconds duration) override;
    void entryRefused(EntryField field) override;
    void setEntries(const Entries &entries) override;
    void pairingStarted(std::chrono::seconds window) override;
    void pairingEnded() override;
    void guardEntries(bool guarded) override;
    void runStarted() override;
    void runEnded() override;
    void setNote(const std::string &text, NoteTone tone) override;

    // EntryTarget
    void setVersionText(const QString &text) override;
    void applyEntries(const Entries &entries) override;
    void selectChannelPosition(int position) override;
    void setSimulatedBaseStation(bool simulated) override;

    // What the buttons set going, and the provider it owns.
    const FleetController &controller() const { return controller_; }
    // This session's updates, as the session list shows them.
    const record::SessionLog &sessionLog() const { return sessionLog_; }
    // Opens the session list, or brings it to the front; activate: give it the keyboard.
    void showSessionList(bool activate = true);

    // The channel strategy: index 0 leaves the module's channel, index 1 changes it.
    std::array<QRadioButton *, 2> Direction{};

signals:
    // The window has closed and shutdown has run: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool startUpWith(const ProviderFactory &onItsOwnThread, const QString &applicationName);
    void Command1_Click();
    // Stop or Esc during a continuous run.
    void stopRun();
    // Update's face during a run and after it; its accessible name follows the text.
    void showUpdateButtonAs(const QString &text);
    // The input that a continuous run's waits deliver: what stops the run.
    bool admitsDuringARun(QObject *receiver, QEvent *event) const;
    void Command3_Click();
    void ReadCommand_Click();
    // Carries out a close that came while an update or a Read ran.
    void closeIfAsked();
    void Direction_Click(int Index);
    void setUpKeyboard();
    void setUpEntryWarnings();
    // Flags the entries the update would refuse, as they stand now.
    void showEntryWarnings();
    void showPairingTimeLeft();

    // A control that can be flagged, with the looks it has when its entry is fine.
    struct Flaggable {
        QWidget *control;
        QString toolTip;
        QPalette palette;
    };

    std::unique_ptr<Ui::MainFrm> ui;
    MessagePresenter presenter_;
    NumericKeyFilter *numericFilter_;
    record::SessionLog sessionLog_;
    UpdateObservers observers_; // the caller's observer, then the session log
    FleetController controller_;
    SessionListWindow *sessionList_ = nullptr;
    bool busyPointerPushed_ = false;
    bool closeRequested_ = false;
    bool shuttingDown_ = false;
    std::array<Flaggable, 4> flaggable_{}; // txInterval, SampleTime, SleepDelay, LowPowerMode
    QTimer *countdown_;
    QShortcut *stopKey_;
    QShortcut *sessionKey_;
    int guards_ = 0;
    QPointer<QWidget> focusBeforeGuard_;
    QPalette plainNote_; // the run's line as the form gives it
    std::unique_ptr<InputDuringWaits> inputDuringRun_;
    std::chrono::steady_clock::time_point pairingEnds_;
    std::optional<QString> profilePath_;
    bool simulated_ = false;
};

// The window's own font, which the controls without a face of their own use.
void setWindowFont(QWidget &form);
// The faces of the controls that have their own, on a form set up from MainFrm.ui.
void applyControlFonts(Ui::MainFrm &ui);

// The selected position of a drop-down list, -1 when nothing is selected or the edit
// field holds typed text that is not the selected entry.
int listPosition(const QComboBox &list);

} // namespace fw::app
