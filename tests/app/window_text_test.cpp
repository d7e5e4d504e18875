#include "app_test_support.h"
#include "main_frm.h"
#include "message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <gtest/gtest.h>

// Runs at the scale the environment sets: ctest runs this suite at QT_SCALE_FACTOR 1 and 1.5.
namespace fw::app {
namespace {

// What a text needs, measured with the control's own font metrics and word wrap.
QString overflowOf(const QLabel &label) {
    const int margin = label.margin();
    const QRect room = label.contentsRect().adjusted(margin, margin, -margin, -margin);
    const int flags = int(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0);
    const QRect needed = label.fontMetrics().boundingRect(room, flags, label.text());
    if (room.contains(needed))
        return {};
    return QStringLiteral("needs %1x%2 (%5 on one line), has %3x%4")
        .arg(needed.width())
        .arg(needed.height())
        .arg(room.width())
        .arg(room.height())
        .arg(label.fontMetrics().horizontalAdvance(label.text()));
}

QString overflowOf(const QAbstractButton &button) {
    QSize needed;
    if (qobject_cast<const QRadioButton *>(&button)) {
        needed = button.sizeHint();
    } else {
        const int frame = button.style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        needed = button.fontMetrics().size(Qt::TextShowMnemonic, button.text()) +
                 QSize(2 * frame, 2 * frame);
    }
    if (needed.width() <= button.width() && needed.height() <= button.height())
        return {};
    return QStringLiteral("needs %1x%2, has %3x%4")
        .arg(needed.width())
        .arg(needed.height())
        .arg(button.width())
        .arg(button.height());
}

QString overflowOf(const QComboBox &list) {
    // A line edit keeps two pixels of margin on either side of its text.
    const int room = list.lineEdit()->width() - 4;
    for (int i = 0; i < list.count(); ++i) {
        const int needed = list.lineEdit()->fontMetrics().horizontalAdvance(list.itemText(i));
        if (needed > room)
            return QStringLiteral("\"%1\" needs %2, has %3")
                .arg(list.itemText(i))
                .arg(needed)
                .arg(room);
    }
    return {};
}

class TextFits : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override { window.hide(); }

    testing::MapStore store;
    MainFrm window{store, [](QWidget *, const Message &) { return MessageButton::Ok; }};
};

TEST_F(TextFits, EveryLabelButtonAndListShowsItsTextWhole) {
    QStringList cut;
    const auto check = [&] {
        for (const QLabel *label : window.findChildren<QLabel *>())
            if (const QString overflow = overflowOf(*label); !overflow.isEmpty())
                cut << label->objectName() + ": " + overflow;
        for (const QAbstractButton *button : window.findChildren<QAbstractButton *>())
            if (const QString overflow = overflowOf(*button); !overflow.isEmpty())
                cut << button->objectName() + ": " + overflow;
        for (const QComboBox *list : window.findChildren<QComboBox *>())
            if (const QString overflow = overflowOf(*list); !overflow.isEmpty())
                cut << list->objectName() + ": " + overflow;
    };
    check();
    for (const char *status : {"Waiting...", "ID: FFFFFFFF"}) {
        window.setStatus(status);
        check();
    }
    cut.removeDuplicates();
    EXPECT_TRUE(cut.isEmpty()) << cut.join(QLatin1String("\n")).toStdString();
}

TEST(MessageBoxFits, ALongTitleGetsAWideEnoughBox) {
    for (const char *title : {"Update Complete", "Incompatible Parameter Values",
                              "A title far longer than any text of its message box"}) {
        const std::unique_ptr<QMessageBox> box =
            messageBoxFor(nullptr, {"OK", title, MessageIcon::None});
        box->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
        QFont bold = box->font();
        bold.setBold(true);
        const int titleWidth = QFontMetrics(bold).horizontalAdvance(QString::fromUtf8(title));
        EXPECT_GE(box->width(), titleWidth + titleBarButtonsWidth(*box)) << title;
        box->hide();
    }
}

} // namespace
} // namespace fw::app
