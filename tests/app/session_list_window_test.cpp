#include "app_test_support.h"
#include "session_list_window.h"
#include "session_log.h"
#include "support/named_rows.h"
#include "support/time_zone.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace fw::app {
namespace {

using fw::testing::PrintTo;

constexpr std::time_t k1403 = 1796738607; // 2026-12-08 14:03:27 UTC

class SessionList : public ::testing::Test {
protected:
    void SetUp() override { QApplication::clipboard()->setText(QStringLiteral("before")); }
    void TearDown() override { QApplication::clipboard()->clear(); }

    // An update of module that ended minutes after 14:03:27.
    void end(const std::string &module, bool complete, int minutes) {
        UpdateReport report;
        report.moduleId = module;
        report.model = "RX-LC";
        report.complete = complete;
        report.message.text = complete ? "Update Complete" : "Cannot Save!\r\nTry again.";
        now = k1403 + std::time_t{minutes} * 60;
        (void)log.updateEnding(report);
    }

    QTableView &table(const SessionListWindow &window) const {
        return control<QTableView>(window, "updates");
    }
    static QString cell(const QTableView &view, int row, int column, int role = Qt::DisplayRole) {
        return view.model()->index(row, column).data(role).toString();
    }
    static QStringList column(const QTableView &view, int column) {
        QStringList texts;
        for (int row = 0; row < view.model()->rowCount(); ++row)
            texts << cell(view, row, column);
        return texts;
    }
    void show(SessionListWindow &window) const {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    fw::testing::TimeZone utc{"UTC0"};
    std::time_t now = k1403;
    record::SessionLog log{[this] { return now; }};
};

constexpr int kTime = 0;
constexpr int kModuleId = 1;
constexpr int kOutcome = 5;

TEST_F(SessionList, ShowsTheNewestFirstAndFollowsTheLog) {
    end("12AB", true, 0);
    end("34CD", false, 2);
    const SessionListWindow window(log);
    const QTableView &view = table(window);
    const QLabel &counts = control<QLabel>(window, "counts");
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Modules This Session"));
    EXPECT_EQ(window.accessibleName(), QStringLiteral("Modules This Session"));
    EXPECT_TRUE(window.isWindow());
    EXPECT_EQ(column(view, kModuleId), (QStringList{"34CD", "12AB"}));
    EXPECT_EQ(column(view, kTime), (QStringList{"14:05:27", "14:03:27"}));
    EXPECT_EQ(counts.text(), QStringLiteral("Complete: 1   Failed: 1"));

    end("12AB", true, 9);
    EXPECT_EQ(column(view, kModuleId), (QStringList{"12AB", "34CD", "12AB"}));
    EXPECT_EQ(column(view, kOutcome),
              (QStringList{"Complete - updated again; first at 14:03", "Failed", "Complete"}));
    EXPECT_EQ(cell(view, 0, kModuleId, Qt::ToolTipRole),
              QStringLiteral("updated again; first at 14:03"));
    EXPECT_EQ(cell(view, 2, kModuleId, Qt::ToolTipRole), QString());
    EXPECT_EQ(counts.text(), QStringLiteral("Complete: 2   Failed: 1"));
    EXPECT_EQ(counts.accessibleName(), counts.text());
}

struct CellsCase {
    const char *name;
    std::function<void(UpdateReport &)> arrange;
    QStringList cells; // every column, left to right
};

class SessionCells : public SessionList, public ::testing::WithParamInterface<CellsCase> {};

// A failed update of 12AB on the General tab that wrote nothing, changed by each row.
TEST_P(SessionCells, ShowEveryColumnInItsPlace) {
    UpdateReport report;
    report.moduleId = "12AB";
    report.model = "RX-LC";
    report.message.text = "Cannot Save!\r\nTry again.\nLater.";
    GetParam().arrange(report);
    (void)log.updateEnding(report);
    const SessionListWindow window(log);
    const QTableView &view = table(window);
    ASSERT_EQ(view.model()->rowCount(), 1);
    QStringList cells;
    for (int c = 0; c < view.model()->columnCount(); ++c)
        cells << cell(view, 0, c);
    EXPECT_EQ(cells, GetParam().cells);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, SessionCells,
    ::testing::Values(CellsCase{"FailedOnOneLine",
                                [](UpdateReport &r) { r.channel = 7; },
                                {"14:03:27", "12AB", "RX-LC", "7", "", "Failed",
                                 "Cannot Save! / Try again. / Later."}},
                      CellsCase{"ChannelKeptAndVerified",
                                [](UpdateReport &r) {
                                    r.channelKept = true;
                                    r.channel = 4;
                                    r.written = {"100", "5", "0", "1"};
                                    r.verified = true;
                                    r.complete = true;
                                    r.message.text = "Update Complete";
                                },
                                {"14:03:27", "12AB", "RX-LC", "kept",
                                 "TX 100 ms, sample 5 ms, sleep 0 s, low power 1 (verified)",
                                 "Complete", "Update Complete"}}),
    fw::testing::RowName());

struct CopyCase {
    const char *name;
    std::function<void(SessionListWindow &)> copy;
};

class SessionCopy : public SessionList, public ::testing::WithParamInterface<CopyCase> {};

// The selection stays on the updates chosen while new ones arrive on top, and goes out oldest
// first, as the record has them.
TEST_P(SessionCopy, PutsTheSelectedRowsOnTheClipboardAsTheRecordsCsv) {
    end("12AB", true, 0);
    end("34CD", false, 1);
    end("56EF", true, 2);
    SessionListWindow window(log);
    show(window);
    QTableView &view = table(window);
    view.setFocus();
    const auto select = [&view](int row) {
        view.selectionModel()->select(view.model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    select(0); // 56EF
    select(2); // 12AB
    end("12AB", true, 5);

    GetParam().copy(window);
    // An access key clicks its button after a short press animation.
    (void)QTest::qWaitFor(
        [] { return QApplication::clipboard()->text() != QStringLiteral("before"); });
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), log.csv({0, 2}));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SessionCopy,
    ::testing::Values(CopyCase{"CopyKeyInTheTable",
                               [](SessionListWindow &w) {
                                   QTest::keyClick(&control<QTableView>(w, "updates"), Qt::Key_C,
                                                   Qt::ControlModifier);
                               }},
                      CopyCase{"CopyKeyOnTheButton",
                               [](SessionListWindow &w) {
                                   auto &button = control<QPushButton>(w, "copyAsCsv");
                                   button.setFocus();
                                   QTest::keyClick(&button, Qt::Key_C, Qt::ControlModifier);
                               }},
                      CopyCase{"ButtonAccessKey",
                               [](SessionListWindow &w) {
                                   QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
                               }},
                      CopyCase{"ContextMenuEntry",
                               [](SessionListWindow &w) {
                                   const QList<QAction *> entries =
                                       control<QTableView>(w, "updates").actions();
                                   ASSERT_EQ(entries.size(), 1);
                                   EXPECT_EQ(entries[0]->text(), QStringLiteral("Copy as CSV"));
                                   entries[0]->trigger();
                               }}),
    fw::testing::RowName());

// Runs at the scale the environment sets: ctest runs it at QT_SCALE_FACTOR 1 and 1.5.
// The widest rows come once the window shows, as in a run.
TEST_F(SessionList, FitsTheWidestRowWholeAtItsFirstSize) {
    SessionListWindow window(log);
    show(window);
    UpdateReport report;
    report.moduleId = "12AB";
    report.model = "RX-IM2";
    report.channel = 12;
    report.written = {"1000", "15.5", "60", "1"};
    report.verified = true;
    report.message.text = "Update Complete";
    (void)log.updateEnding(report);
    (void)log.updateEnding(report);
    now += 3600;
    report.complete = true;
    (void)log.updateEnding(report);
    (void)log.updateEnding(report); // "Complete - updated again; first at 15:03"
    QCoreApplication::processEvents();
    const QTableView &view = table(window);
    const QAbstractItemView &cells = view; // where the size a column's texts need is public
    for (int c = 0; c < view.model()->columnCount(); ++c)
        EXPECT_GE(view.horizontalHeader()->sectionSize(c), cells.sizeHintForColumn(c))
            << view.model()->headerData(c, Qt::Horizontal).toString().toStdString();
    EXPECT_LE(view.horizontalHeader()->length(), view.viewport()->width());
}

// The table's own Copy would put the current cell's text there.
TEST_F(SessionList, WithNothingSelectedNothingIsCopied) {
    end("12AB", true, 0);
    SessionListWindow window(log);
    show(window);
    QTableView &view = table(window);
    view.setFocus();
    view.setCurrentIndex(view.model()->index(0, kModuleId));
    view.clearSelection();
    EXPECT_FALSE(control<QPushButton>(window, "copyAsCsv").isEnabled());
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST_F(SessionList, OpensOnTheRowsAndEscapeClosesIt) {
    SessionListWindow window(log);
    show(window);
    ASSERT_EQ(QApplication::focusWidget(), &table(window));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
}

} // namespace
} // namespace fw::app
