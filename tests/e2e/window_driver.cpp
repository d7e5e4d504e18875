// Drives the real program from inside, as an input plug-in that Qt loads by name
// (QT_QPA_GENERIC_PLUGINS=fwdriver): once the window shows, it clicks the button that
// FW_DRIVER_CLICK names, and it appends to the file FW_DRIVER_LOG a line for each message box
// shown ("box TITLE") and for the pairing countdown ("pairing").
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QGenericPlugin>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

class WindowDriver final : public QObject {
public:
    WindowDriver()
        : log_(qEnvironmentVariable("FW_DRIVER_LOG")),
          button_(qEnvironmentVariable("FW_DRIVER_CLICK")) {
        QCoreApplication::instance()->installEventFilter(this);
        if (button_.isEmpty())
            return;
        connect(&poll_, &QTimer::timeout, this, &WindowDriver::clickOnceShown);
        poll_.start(50);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::Show)
            return false;
        if (const auto *box = qobject_cast<QMessageBox *>(watched))
            note(QStringLiteral("box ") + box->windowTitle());
        else if (watched->objectName() == QLatin1String("PairingCountdown"))
            note(QStringLiteral("pairing"));
        return false;
    }

private:
    void clickOnceShown() {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            auto *button =
                window->isVisible() ? window->findChild<QPushButton *>(button_) : nullptr;
            if (!button || !button->isEnabled())
                continue;
            poll_.stop();
            note(QStringLiteral("clicked ") + button_);
            button->click();
            return;
        }
    }

    void note(const QString &line) const {
        QFile file(log_);
        if (!log_.isEmpty() && file.open(QIODevice::Append))
            file.write((line + u'\n').toUtf8());
    }

    QString log_;
    QString button_;
    QTimer poll_;
};

} // namespace

namespace fw::testing {

class WindowDriverPlugin final : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "window_driver.json")
public:
    QObject *create(const QString & /*name*/, const QString & /*spec*/) override {
        return new WindowDriver;
    }
};

} // namespace fw::testing

#include "window_driver.moc"
