#include "message_box.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QWindow>

namespace fw::app {

namespace {
QMessageBox::Icon iconOf(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

bool isInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}
} // namespace

InputDiscarder::InputDiscarder(const QWidget &window) : window_(window) {
    QCoreApplication::instance()->installEventFilter(this);
}

InputDiscarder::~InputDiscarder() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputDiscarder::eventFilter(QObject *receiver, QEvent *event) {
    if (!isInput(event->type()))
        return false;
    if (receiver == window_.windowHandle())
        return true;
    const auto *widget = qobject_cast<const QWidget *>(receiver);
    return widget && widget->window() == &window_;
}

void showMessageBox(QWidget *parent, const Message &message) {
    QString text = QString::fromStdString(message.text);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(iconOf(message.icon), QString::fromStdString(message.title), text,
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    if (!parent) {
        box.exec();
        return;
    }
    box.setWindowModality(Qt::NonModal); // a message box makes itself modal to the program
    const InputDiscarder discard(*parent->window());
    QEventLoop loop;
    QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
    box.show();
    loop.exec();
}

} // namespace fw::app
