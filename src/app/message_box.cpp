#include "message_box.h"

#include "off_thread.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QMessageBox>
#include <QStyle>
#include <QWindow>
#include <algorithm>
#include <vector>

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

bool gEnded = false;

// The boxes showMessageBox shows now, innermost last.
std::vector<QMessageBox *> &openBoxes() {
    static std::vector<QMessageBox *> boxes;
    return boxes;
}

class OpenBox {
public:
    explicit OpenBox(QMessageBox &box) : box_(box) { openBoxes().push_back(&box_); }
    ~OpenBox() { std::erase(openBoxes(), &box_); }
    OpenBox(const OpenBox &) = delete;
    OpenBox &operator=(const OpenBox &) = delete;

private:
    QMessageBox &box_;
};

} // namespace

int titleBarButtonsWidth(const QWidget &box) {
    const int barHeight = box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box);
    constexpr int kIconAndButtons = 4;
    constexpr int kPadding = 24;
    return kIconAndButtons * barHeight + kPadding;
}

std::unique_ptr<QMessageBox> messageBoxFor(QWidget *parent, const Message &message) {
    QString text = QString::fromStdString(message.text);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QString title = QString::fromStdString(message.title);
    auto box =
        std::make_unique<QMessageBox>(iconOf(message.icon), title, text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    if (!message.secondButton.empty())
        box->addButton(QString::fromStdString(message.secondButton), QMessageBox::AcceptRole);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);

    QFont titleFont = box->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    const int titleWidth =
        QFontMetrics(titleFont).horizontalAdvance(title) + titleBarButtonsWidth(*box);
    // QMessageBox sizes itself to its layout, so a spacer across it sets its least width.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return box;
}

InputDiscarder::InputDiscarder(const QWidget &window) : window_(window) {
    QCoreApplication::instance()->installEventFilter(this);
}

InputDiscarder::~InputDiscarder() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputDiscarder::eventFilter(QObject *receiver, QEvent *event) {
    if (!isUserInput(*event))
        return false;
    if (receiver == window_.windowHandle())
        return true;
    const auto *widget = qobject_cast<const QWidget *>(receiver);
    return widget && widget->window() == &window_;
}

MessageButton showMessageBox(QWidget *parent, const Message &message) {
    if (gEnded)
        return MessageButton::Ok;
    const std::unique_ptr<QMessageBox> box = messageBoxFor(parent, message);
    const OpenBox open(*box);
    const auto chosen = [&box] {
        const QAbstractButton *clicked = box->clickedButton();
        return clicked && clicked != box->button(QMessageBox::Ok) ? MessageButton::Second
                                                                  : MessageButton::Ok;
    };
    if (!parent) {
        box->exec();
        return chosen();
    }
    box->setWindowModality(Qt::NonModal); // a message box makes itself modal to the program
    const InputDiscarder discard(*parent->window());
    QEventLoop loop;
    QObject::connect(box.get(), &QDialog::finished, &loop, &QEventLoop::quit);
    box->show();
    loop.exec();
    return chosen();
}

void endMessageBoxes() {
    gEnded = true;
    for (QMessageBox *box : openBoxes())
        box->button(QMessageBox::Ok)->click();
}

} // namespace fw::app
