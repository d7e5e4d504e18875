#include "message_box.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QStyle>

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

void showMessageBox(QWidget *parent, const Message &message) {
    messageBoxFor(parent, message)->exec();
}

} // namespace fw::app
