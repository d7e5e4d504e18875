#include "x_tab.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QTabBar>

namespace fw::app {

namespace {

const QColor kActiveBack(255, 255, 255);
const QColor kActiveText(64, 64, 64);
constexpr int kTabPadding = 24;

// The desktop's 3D-light and grey-text colours.
QColor threeDLight(const QPalette &palette) {
    return palette.color(QPalette::Midlight);
}
QColor greyText(const QPalette &palette) {
    return palette.color(QPalette::Disabled, QPalette::WindowText);
}

// Draws every header itself: the active one white in its own font, the others on the
// strip colour in the grey-text colour.
class XTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override {
        const int width =
            std::max(QFontMetrics(XTab::activeTabFont()).horizontalAdvance(tabText(index)),
                     QFontMetrics(XTab::inactiveTabFont()).horizontalAdvance(tabText(index)));
        return {width + kTabPadding, XTab::kHeaderHeight};
    }

    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), threeDLight(palette()));
        for (int i = 0; i < count(); ++i) {
            const bool active = i == currentIndex();
            const QRect header = tabRect(i);
            painter.fillRect(header, active ? kActiveBack : threeDLight(palette()));
            painter.setFont(active ? XTab::activeTabFont() : XTab::inactiveTabFont());
            painter.setPen(active ? kActiveText : greyText(palette()));
            painter.drawText(header, Qt::AlignCenter, tabText(i));
            if (active && hasFocus()) {
                QStyleOptionFocusRect focus;
                focus.initFrom(this);
                focus.rect = header.adjusted(3, 3, -3, -3);
                style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
            }
        }
    }
};

} // namespace

XTab::XTab(QWidget *parent) : QWidget(parent), tabBar_(new XTabBar(this)) {
    tabBar_->setObjectName(QStringLiteral("XTabHeaders"));
    tabBar_->setDrawBase(false);
    tabBar_->setExpanding(false);
    tabBar_->setUsesScrollButtons(false);
    tabBar_->setAccessibleName(QStringLiteral("Tabs"));
    setFocusProxy(tabBar_);
    connect(tabBar_, &QTabBar::currentChanged, this, &XTab::showMembersOf);
}

void XTab::addTab(const QString &caption, const QList<QWidget *> &members) {
    members_.append(members);
    for (QWidget *member : members)
        member->setVisible(false);
    tabBar_->addTab(caption);
    showMembersOf(tabBar_->currentIndex());
}

int XTab::activeTab() const {
    return tabBar_->currentIndex();
}

void XTab::setActiveTab(int index) {
    tabBar_->setCurrentIndex(index);
}

QFont XTab::activeTabFont() {
    QFont font(QStringLiteral("Arial Narrow"));
    font.setPointSizeF(9.75);
    return font;
}

QFont XTab::inactiveTabFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    return font;
}

void XTab::showMembersOf(int index) {
    for (int tab = 0; tab < members_.size(); ++tab)
        for (QWidget *member : std::as_const(members_[tab]))
            member->setVisible(tab == index);
}

void XTab::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), kActiveBack);
}

void XTab::resizeEvent(QResizeEvent *event) {
    tabBar_->setGeometry(0, 0, width(), kHeaderHeight);
    QWidget::resizeEvent(event);
}

} // namespace fw::app
