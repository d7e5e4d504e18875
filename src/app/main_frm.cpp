#include "main_frm.h"

#include "data_provider.h"
#include "event_loop_waiter.h"
#include "key_filter.h"
#include "messages.h"
#include "off_thread.h"
#include "parameter_rules.h"
#include "provider_thread.h"
#include "session_list_window.h"
#include "ui_MainFrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QWindow>
#include <algorithm>

static void initResources() {
    Q_INIT_RESOURCE(fleetwright);
}

namespace fw::app {

namespace {

// The text of an entry the update would refuse: the red that desktops use for errors, dark
// enough to read at 6:1 on the boxes' white.
const QColor kErrorText(192, 0, 0);
// A module that a run has configured: a green that reads at 6:1 on the window's white.
const QColor kSuccessText(0, 112, 0);

// The form holds the controls' colours. Its white page fixes the colours drawn on it too
// (the window's text, the boxes' and indicators' Base and Text, the lists' button face), so
// that no text or option mark takes a light colour from a dark desktop scheme and vanishes;
// the push buttons and the tab strip keep the desktop's faces, with their own text colours.
// The fonts are set here because a form's font sizes are whole points, and these faces are
// 9.75 points.
QFont face(const QString &family, qreal points, bool bold) {
    QFont font(family);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString textOf(const std::string &text) {
    return QString::fromStdString(text);
}

} // namespace

int listPosition(const QComboBox &list) {
    const int index = list.currentIndex();
    if (index < 0 || list.currentText() != list.itemText(index))
        return -1;
    return index;
}

MainFrm::MainFrm(SettingsStore &store, MessagePresenter presenter, UpdateObserver *observer,
                 QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::MainFrm>()), presenter_(std::move(presenter)),
      numericFilter_(new NumericKeyFilter(this)),
      controller_(store, *this, *this, &observers_, [this](const UpdateReport &) {
          // The run's note follows the update's row, just kept.
          const auto &rows = sessionLog_.rows();
          return rows.empty() ? std::string() : record::repeatNote(rows.back());
      }) {
    observers_.add(observer);
    observers_.add(&sessionLog_);
    initResources();
    // Before the controls exist, so that none lays out its text twice.
    setWindowFont(*this);
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(630, 472);
    // Our icons are PNG: guessing the format would load every image-format plugin first.
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        QImageReader reader(QStringLiteral(":/icons/fleetwright-%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    setWindowIcon(icon);

    applyControlFonts(*ui);

    Direction = {ui->Direction0, ui->Direction1};
    ui->XTab->addTab(QStringLiteral("General"), {ui->Label4});
    ui->XTab->addTab(QStringLiteral("Acquisition Modules"),
                     {ui->Command3, ui->txInterval, ui->SampleTime, ui->SleepDelay,
                      ui->LowPowerMode, ui->Label5, ui->Label60, ui->Label61, ui->Label62,
                      ui->Label30, ui->Label31, ui->Label32, ui->Label63, ui->Label64, ui->Label65,
                      ui->Shape11, ui->Shape10, ui->Shape12, ui->VerifyAfterWriting});
    ui->XTab->setActiveTab(1);
    // The tab bar takes the focus in the tab control's place.
    setTabOrder(ui->Command1, ui->ReadCommand);
    setTabOrder(ui->ReadCommand, ui->XTab->tabBar());
    setTabOrder(ui->XTab->tabBar(), ui->LowPowerMode);
    setTabOrder(ui->VerifyAfterWriting, ui->NextModuleAutomatically);
    setTabOrder(ui->NextModuleAutomatically, ui->ShowSession);

    for (QComboBox *list : {ui->RFChannel, ui->LowPowerMode}) {
        list->setCurrentIndex(-1);
        list->setEditText(QStringLiteral("Combo1"));
        // Show the start of an entry wider than the edit field, not its end.
        connect(list, &QComboBox::currentIndexChanged, list,
                [list] { list->lineEdit()->setCursorPosition(0); });
    }
    for (QLineEdit *box : {ui->txInterval, ui->SampleTime, ui->SleepDelay}) {
        box->installEventFilter(numericFilter_);
        limitTypingOnly(*box);
    }

    for (int index = 0; index < int(Direction.size()); ++index)
        connect(Direction[index], &QRadioButton::toggled, this, [this, index](bool selected) {
            if (selected)
                Direction_Click(index);
        });
    connect(ui->Command1, &QPushButton::clicked, this, &MainFrm::Command1_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &MainFrm::Command3_Click);
    connect(ui->ReadCommand, &QPushButton::clicked, this, &MainFrm::ReadCommand_Click);
    connect(ui->ShowSession, &QPushButton::clicked, this, [this] { showSessionList(); });
    sessionKey_ = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(sessionKey_, &QShortcut::activated, this, [this] { showSessionList(); });
    stopKey_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    stopKey_->setEnabled(false);
    connect(stopKey_, &QShortcut::activated, this, &MainFrm::stopRun);

    ui->RFChannel->acceptOnlyEntries();
    ui->LowPowerMode->acceptOnlyEntries();
    setUpKeyboard();
    setUpEntryWarnings();
    plainNote_ = ui->RunNote->palette();
    countdown_ = new QTimer(this);
    countdown_->setInterval(100);
    connect(countdown_, &QTimer::timeout, this, &MainFrm::showPairingTimeLeft);
}

void MainFrm::setUpKeyboard() {
    // As in any tabbed window, from whichever control has the focus.
    const auto switchTabs = [this](const QList<QKeySequence> &keys, int step) {
        for (const QKeySequence &key : keys)
            connect(new QShortcut(key, this), &QShortcut::activated, this, [this, step] {
                const int count = ui->XTab->tabBar()->count();
                ui->XTab->setActiveTab((ui->XTab->activeTab() + step + count) % count);
            });
    };
    switchTabs({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)},
               1);
    switchTabs({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
               -1);

    // Tab enters the option group at its selected option, so that a Space there confirms
    // the strategy instead of flipping it; the arrow keys still move between the options.
    const auto tabToTheSelectedOption = [this] {
        for (QRadioButton *option : Direction)
            option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    };
    for (QRadioButton *option : Direction)
        connect(option, &QRadioButton::toggled, this, tabToTheSelectedOption);
    tabToTheSelectedOption();
}

void MainFrm::setUpEntryWarnings() {
    const std::array<QWidget *, 4> controls{ui->txInterval, ui->SampleTime, ui->SleepDelay,
                                            ui->LowPowerMode};
    for (size_t i = 0; i < controls.size(); ++i)
        flaggable_[i] = {controls[i], controls[i]->toolTip(), controls[i]->palette()};
    for (QLineEdit *box : {ui->txInterval, ui->SampleTime, ui->SleepDelay})
        connect(box, &QLineEdit::textChanged, this, &MainFrm::showEntryWarnings);
    connect(ui->LowPowerMode, &QComboBox::currentIndexChanged, this, &MainFrm::showEntryWarnings);
    connect(ui->LowPowerMode, &QComboBox::editTextChanged, this, &MainFrm::showEntryWarnings);
    showEntryWarnings();
}

void MainFrm::showEntryWarnings() {
    // Also called while the window is made: this class's own entries(), without dispatch.
    const EntryWarnings warnings = entryWarnings(MainFrm::entries());
    const std::array<const std::string *, 4> texts{&warnings.txInterval, &warnings.sampleTime,
                                                   &warnings.sleepDelay, &warnings.lowPowerMode};
    for (size_t i = 0; i < flaggable_.size(); ++i) {
        const Flaggable &flaggable = flaggable_[i];
        QWidget &control = *flaggable.control;
        if (texts[i]->empty()) {
            control.setToolTip(flaggable.toolTip);
            control.setAccessibleDescription({});
            control.setPalette(flaggable.palette);
            continue;
        }
        // As the message box shows it.
        QString text = textOf(*texts[i]);
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        control.setToolTip(text);
        control.setAccessibleDescription(text);
        QPalette palette = flaggable.palette;
        for (const auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::Text, kErrorText);
        control.setPalette(palette);
    }
}

MainFrm::~MainFrm() {
    // It shows the log, a member that is gone before QWidget would delete its children.
    delete sessionList_;
    if (busyPointerPushed_)
        QGuiApplication::restoreOverrideCursor();
}

void setWindowFont(QWidget &form) {
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setStyleHint(QFont::SansSerif);
    windowFont.setPointSizeF(8.25);
    form.setFont(windowFont);
}

void applyControlFonts(Ui::MainFrm &ui) {
    const QFont arialBold = face(QStringLiteral("Arial"), 9.75, true);
    const QFont narrow = face(QStringLiteral("Arial Narrow"), 9.75, false);
    for (QWidget *control : {ui.Label1, ui.Label30, ui.Label31, ui.Label32})
        control->setFont(arialBold);
    for (QWidget *control : std::initializer_list<QWidget *>{ui.Label2,
                                                             ui.Direction0,
                                                             ui.Direction1,
                                                             ui.RFChannel,
                                                             ui.Command1,
                                                             ui.Label4,
                                                             ui.Label5,
                                                             ui.Label60,
                                                             ui.Label61,
                                                             ui.Label62,
                                                             ui.Label63,
                                                             ui.Label64,
                                                             ui.Label65,
                                                             ui.txInterval,
                                                             ui.SampleTime,
                                                             ui.SleepDelay,
                                                             ui.Command3,
                                                             ui.ReadCommand,
                                                             ui.VerifyAfterWriting,
                                                             ui.NextModuleAutomatically,
                                                             ui.ShowSession,
                                                             ui.PairingPrompt,
                                                             ui.RunNote})
        control->setFont(narrow);
    ui.Found->setFont(face(QStringLiteral("Arial"), 24, true));
}

bool MainFrm::load(const ProviderFactory &createProvider, const QString &applicationName) {
    // Every call into the library, its loading included, runs on a thread of its own so
    // that the window stays alive while the library blocks.
    return startUpWith(
        [&createProvider] {
            return createOnProviderThread(createProvider, std::make_shared<EventLoopWaiter>());
        },
        applicationName);
}

bool MainFrm::load(ProviderInTheMaking &provider, const QString &applicationName) {
    return startUpWith([&provider] { return provider.take(); }, applicationName);
}

bool MainFrm::startUpWith(const ProviderFactory &onItsOwnThread, const QString &applicationName) {
    return controller_.load(onItsOwnThread, applicationName.toStdString(),
                            profilePath_ ? EntrySource::Profile : EntrySource::PerUserStore);
}

void MainFrm::centreOnScreen() {
    const QScreen *target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (target)
        move(target->availableGeometry().center() - rect().center());
}

Entries MainFrm::entries() const {
    Entries current;
    current.txInterval = ui->txInterval->text().toStdString();
    current.sampleTime = ui->SampleTime->text().toStdString();
    current.sleepDelay = ui->SleepDelay->text().toStdString();
    current.lowPowerModePosition = listPosition(*ui->LowPowerMode);
    current.changeChannel = Direction[1]->isChecked();
    current.rfChannelPosition = listPosition(*ui->RFChannel);
    current.tab = ui->XTab->activeTab();
    current.verifyAfterWriting = ui->VerifyAfterWriting->isChecked();
    current.nextModuleAutomatically = ui->NextModuleAutomatically->isChecked();
    return current;
}

void MainFrm::saveEntriesUnlessSaved() {
    controller_.saveEntriesUnlessSaved(entries());
}

void MainFrm::setStatus(const std::string &text) {
    ui->Found->setText(textOf(text));
    ui->Found->setAccessibleName(textOf(text));
    // Shown at once, before the next call into the library starts.
    ui->Found->repaint();
}

void MainFrm::setBusyPointer() {
    if (busyPointerPushed_)
        return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    busyPointerPushed_ = true;
}

void MainFrm::setDefaultPointer() {
    if (!busyPointerPushed_)
        return;
    QGuiApplication::restoreOverrideCursor();
    busyPointerPushed_ = false;
}

MessageButton MainFrm::showMessage(const Message &message) {
    // Qt counts the window manager's close as user input, so one that came while the
    // library kept the update waiting is still queued, and a presenter that runs no events
    // of its own would leave it there. It is taken now, with the input meant for this window
    // discarded as the box would discard it; the close itself is carried out when the update has
    // ended.
    if (controller_.updating()) {
        const InputDiscarder discard(*this);
        QCoreApplication::processEvents();
    }
    return presenter_(isVisible() ? this : nullptr, message);
}

void MainFrm::setEntries(const Entries &entries) {
    ui->txInterval->setText(textOf(entries.txInterval));
    ui->SampleTime->setText(textOf(entries.sampleTime));
    ui->SleepDelay->setText(textOf(entries.sleepDelay));
    ui->LowPowerMode->setCurrentIndex(entries.lowPowerModePosition);
}

void MainFrm::processEvents() {
    QCoreApplication::processEvents();
}

void MainFrm::pause(std::chrono::milliseconds duration) {
    pauseFor(duration);
}

void MainFrm::entryRefused(EntryField field) {
    QLineEdit *const boxes[] = {ui->txInterval, ui->SampleTime, ui->SleepDelay};
    QLineEdit *box = boxes[static_cast<int>(field)];
    box->setFocus(Qt::OtherFocusReason);
    box->selectAll();
}

void MainFrm::pairingStarted(std::chrono::seconds window) {
    pairingEnds_ = std::chrono::steady_clock::now() + window;
    ui->PairingCountdown->setMaximum(static_cast<int>(window.count()));
    showPairingTimeLeft();
    ui->PairingCountdown->show();
    countdown_->start();
}

void MainFrm::pairingEnded() {
    countdown_->stop();
    ui->PairingCountdown->hide();
    ui->PairingPrompt->clear();
    ui->PairingPrompt->setAccessibleName(QStringLiteral("Pairing prompt"));
}

void MainFrm::showPairingTimeLeft() {
    const auto left =
        std::chrono::ceil<std::chrono::seconds>(pairingEnds_ - std::chrono::steady_clock::now());
    const int seconds =
        std::clamp(static_cast<int>(left.count()), 0, ui->PairingCountdown->maximum());
    ui->PairingCountdown->setValue(seconds);
    const QString prompt = textOf(messages::pairingPrompt(seconds));
    if (ui->PairingPrompt->text() != prompt) {
        ui->PairingPrompt->setText(prompt);
        ui->PairingPrompt->setAccessibleName(prompt);
    }
}

void MainFrm::guardEntries(bool guarded) {
    guards_ += guarded ? 1 : -1;
    if (guards_ != (guarded ? 1 : 0))
        return;
    QWidget *const entryControls[] = {
        ui->txInterval,   ui->SampleTime,         ui->SleepDelay,
        ui->LowPowerMode, ui->Direction0,         ui->Direction1,
        ui->Command3,     ui->VerifyAfterWriting, ui->NextModuleAutomatically};
    QWidget *const focused = focusWidget();
    const bool entryFocused =
        focused == ui->RFChannel || std::find(std::begin(entryControls), std::end(entryControls),
                                              focused) != std::end(entryControls);
    if (guarded && entryFocused) {
        // Disabling the focused box would hand the focus, and the keys typed meanwhile, to the
        // next control in the chain, such as Update.
        focusBeforeGuard_ = focused;
        setFocus(Qt::OtherFocusReason);
    }
    for (QWidget *control : entryControls)
        control->setEnabled(!guarded);
    ui->RFChannel->setEnabled(!guarded && Direction[1]->isChecked());
    if (!guarded && focusBeforeGuard_) {
        if (QApplication::focusWidget() == this)
            focusBeforeGuard_->setFocus(Qt::OtherFocusReason);
        focusBeforeGuard_.clear();
    }
}

void MainFrm::showSessionList(bool activate) {
    if (!sessionList_) {
        sessionList_ = new SessionListWindow(sessionLog_, this);
        // Opened by a run, it must not take the keys that stop the run.
        sessionList_->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    const bool wasActive = isActiveWindow();
    sessionList_->show();
    sessionList_->raise();
    if (activate)
        sessionList_->activateWindow();
    else if (wasActive)
        activateWindow(); // where the window system activates what it shows regardless
}

bool MainFrm::admitsDuringARun(QObject *receiver, QEvent *event) const {
    // The window-system window gets the input first and hands it to its widgets.
    if (qobject_cast<QWindow *>(receiver))
        return true;
    const auto *widget = qobject_cast<QWidget *>(receiver);
    if (!widget)
        return false;
    if (sessionList_ && widget->window() == sessionList_)
        return true;
    if (widget->window() != this)
        return false;
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
        event->type() == QEvent::ShortcutOverride) {
        // The shortcuts that stop the run and show the list, and the two buttons' access keys.
        const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
        const bool runKey = pressed == stopKey_->key() || pressed == sessionKey_->key() ||
                            pressed == QKeySequence::mnemonic(ui->Command1->text()) ||
                            pressed == QKeySequence::mnemonic(ui->ShowSession->text());
        return runKey || widget == ui->Command1 || widget == ui->ShowSession;
    }
    return widget == ui->Command1 || widget == ui->ShowSession;
}

void MainFrm::showUpdateButtonAs(const QString &text) {
    ui->Command1->setText(text);
    // What a screen reader says: the words, without the access key's mark or the dots.
    QString name = text;
    name.remove(QLatin1Char('&'));
    if (name.endsWith(QStringLiteral("...")))
        name.chop(3);
    ui->Command1->setAccessibleName(name);
}

void MainFrm::runStarted() {
    showUpdateButtonAs(QStringLiteral("&Stop"));
    stopKey_->setEnabled(true);
    inputDuringRun_ = std::make_unique<InputDuringWaits>(
        [this](QObject *receiver, QEvent *event) { return admitsDuringARun(receiver, event); });
    showSessionList(false);
}

void MainFrm::runEnded() {
    inputDuringRun_.reset();
    stopKey_->setEnabled(false);
    ui->Command1->setEnabled(true);
    showUpdateButtonAs(QStringLiteral("&Update"));
}

void MainFrm::setNote(const std::string &text, NoteTone tone) {
    // A plain note reads in the form's own colour for the line.
    QPalette palette = plainNote_;
    if (tone != NoteTone::Plain)
        for (const auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::WindowText,
                             tone == NoteTone::Success ? kSuccessText : kErrorText);
    ui->RunNote->setPalette(palette);
    ui->RunNote->setText(textOf(text));
    ui->RunNote->setAccessibleName(text.empty() ? QStringLiteral("Last module") : textOf(text));
    ui->RunNote->repaint();
    if (tone == NoteTone::Failure)
        QApplication::beep();
}

void MainFrm::setVersionText(const QString &text) {
    ui->vlabel->setText(text);
    ui->vlabel->setAccessibleName(text);
}

void MainFrm::applyEntries(const Entries &entries) {
    if (entries.changeChannel)
        Direction[1]->setChecked(true);
    ui->RFChannel->setCurrentIndex(entries.rfChannelPosition);
    setEntries(entries);
    ui->VerifyAfterWriting->setChecked(entries.verifyAfterWriting);
    ui->NextModuleAutomatically->setChecked(entries.nextModuleAutomatically);
}

void MainFrm::selectChannelPosition(int position) {
    ui->RFChannel->setCurrentIndex(position);
}

void MainFrm::setSimulatedBaseStation(bool simulated) {
    simulated_ = simulated;
    setWindowTitle(windowCaption(profilePath_, simulated_));
}

void MainFrm::setProfilePath(const std::optional<QString> &path) {
    profilePath_ = path;
    setWindowTitle(windowCaption(profilePath_, simulated_));
}

void MainFrm::closeEvent(QCloseEvent *event) {
    // A close that arrives while an update waits for its module must not pull the base
    // station from under it: it is carried out when the update returns.
    if (controller_.updating()) {
        closeRequested_ = true;
        controller_.stopRun();
        event->ignore();
        return;
    }
    // Shutdown waits for the base station with the window alive, so a second close can
    // arrive during the first; the first one finishes the job.
    if (shuttingDown_) {
        event->ignore();
        return;
    }
    if (controller_.provider()) {
        shuttingDown_ = true;
        controller_.shutDown(entries());
    }
    if (sessionList_)
        sessionList_->close();
    event->accept();
    emit closed();
}

void MainFrm::Command1_Click() {
    // The click that the button took as Stop.
    if (controller_.runningContinuously()) {
        stopRun();
        return;
    }
    const UpdateOptions options{.verifyWrites = ui->VerifyAfterWriting->isChecked()};
    if (ui->NextModuleAutomatically->isChecked())
        controller_.runContinuously(options);
    else
        controller_.runUpdate(options);
    closeIfAsked();
}

void MainFrm::stopRun() {
    if (!controller_.runningContinuously())
        return;
    controller_.stopRun();
    // Taken: the run ends once the module under way is done with.
    showUpdateButtonAs(QStringLiteral("Stopping..."));
    ui->Command1->setEnabled(false);
}

void MainFrm::ReadCommand_Click() {
    controller_.runRead();
    closeIfAsked();
}

void MainFrm::closeIfAsked() {
    if (closeRequested_ && !controller_.updating()) {
        closeRequested_ = false;
        close();
    }
}

void MainFrm::Command3_Click() {
    ui->txInterval->setText(QStringLiteral("333"));
    ui->SampleTime->setText(QStringLiteral("5"));
    ui->SleepDelay->setText(QStringLiteral("0"));
    ui->LowPowerMode->setCurrentIndex(2);
}

void MainFrm::Direction_Click(int Index) {
    ui->RFChannel->setEnabled(Index == 1);
}

} // namespace fw::app
