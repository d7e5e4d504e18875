#pragma once

#include <QList>
#include <QWidget>

class QTabBar;

namespace fw::app {

// The window's own tab control: a header strip of tabs and, below it, the controls of
// the active tab. Member controls are children of XTab, placed relative to its top-left
// corner; those of the inactive tab are hidden.
class XTab : public QWidget {
    Q_OBJECT
public:
    // The tab headers fit above the highest member control (480 twips).
    static constexpr int kHeaderHeight = 28;

    explicit XTab(QWidget *parent = nullptr);

    void addTab(const QString &caption, const QList<QWidget *> &members);
    int activeTab() const;
    void setActiveTab(int index);
    QTabBar *tabBar() const { return tabBar_; }

    // Header fonts: the active tab's and the others'.
    static QFont activeTabFont();
    static QFont inactiveTabFont();

    // An inactive header: the desktop's grey-text colour on its 3D-light face, the grey
    // deepened (or lightened on a dark face) until the caption reads at 4.5:1 at least.
    struct HeaderColours {
        QColor text;
        QColor back;
    };
    static HeaderColours inactiveTabColours(const QPalette &palette);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showMembersOf(int index);

    QTabBar *tabBar_;
    QList<QList<QWidget *>> members_;
};

} // namespace fw::app
