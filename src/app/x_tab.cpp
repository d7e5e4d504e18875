#include "x_tab.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QTabBar>
#include <algorithm>
#include <cmath>

namespace fw::app {

namespace {

const QColor kActiveBack(255, 255, 255);
const QColor kActiveText(64, 64, 64);
constexpr int kTabPadding = 24;

// The contrast that text needs to stay readable for most eyes (WCAG AA).
constexpr double kReadableContrast = 4.5;

double relativeLuminance(const QColor &colour) {
    const auto linear = [](float channel) {
        return channel <= 0.04045f ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor &one, const QColor &other) {
    const double a = relativeLuminance(one);
    const double b = relativeLuminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor mixed(const QColor &from, const QColor &to, double share) {
    const auto channel = [share](int a, int b) { return qRound(a + (b - a) * share); };
    return {channel(from.red(), to.red()), channel(from.green(), to.green()),
            channel(from.blue(), to.blue())};
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
        const XTab::HeaderColours inactive = XTab::inactiveTabColours(palette());
        QPainter painter(this);
        painter.fillRect(rect(), inactive.back);
        for (int i = 0; i < count(); ++i) {
            const bool active = i == currentIndex();
            const QRect header = tabRect(i);
            painter.fillRect(header, active ? kActiveBack : inactive.back);
            painter.setFont(active ? XTab::activeTabFont() : XTab::inactiveTabFont());
            painter.setPen(active ? kActiveText : inactive.text);
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

XTab::HeaderColours XTab::inactiveTabColours(const QPalette &palette) {
    const QColor back = palette.color(QPalette::Midlight);
    const QColor grey = palette.color(QPalette::Disabled, QPalette::WindowText);
    // Black or white, whichever stands out more, reads at 4.58:1 at least on any face.
    const QColor extreme = contrast(Qt::black, back) >= contrast(Qt::white, back)
                               ? QColor(Qt::black)
                               : QColor(Qt::white);
    QColor text = grey;
    for (int step = 1; contrast(text, back) < kReadableContrast && step <= 20; ++step)
        text = mixed(grey, extreme, step / 20.0);
    return {text, back};
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
