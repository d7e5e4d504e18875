#include "e2e_window.h"
#include "messages.h"
#include "session_list_window.h"
#include "session_log.h"
#include "support/named_rows.h"
#include "support/window_system_input.h"
#include "update_observer.h"

#include <QCheckBox>
#include <QSignalSpy>
#include <QTimer>
#include <algorithm>
#include <chrono>

// Continuous runs in the real window on the simulated base station: where a run ends, what
// stops it, and that what the operator types meanwhile changes nothing.
namespace fw::app::e2e {
namespace {

using namespace std::chrono_literals;
using fw::testing::SimEnvironment;
using testing::MapStore;
using Texts = std::vector<std::string>;

enum class Act { Nothing, Escape, ClickStop, Close };

struct RunRow {
    const char *name;
    std::string fleet;
    std::string faults;
    bool continuous;
    int wakeMs;
    Act act;
    int actAfterUpdates; // the act is queued once this many updates were reported
    int actDelayMs;      // and this long after that
    Texts updates;       // "ID complete" or "ID failed", as reported
    std::vector<Message> boxes;
    std::string lastNote; // the status area once the run has ended
    int repeats = 0;      // rows of the session list marked as a module updated again
};

// Reports each update as it ends, and sets the row's act going at its point.
class Operator : public UpdateObserver {
public:
    std::function<void()> act;
    int actAfter = 0;
    int delayMs = 0;
    Texts updates;

    std::optional<Message> updateEnding(const UpdateReport &report) override {
        updates.push_back(report.moduleId + (report.complete ? " complete" : " failed"));
        if (act && int(updates.size()) == actAfter)
            QTimer::singleShot(delayMs, act);
        return std::nullopt;
    }
};

class RunInTheWindow : public ::testing::TestWithParam<RunRow> {
protected:
    SimEnvironment sim;
    MapStore store;
    Operator operatorAtTheWindow;
};

TEST_P(RunInTheWindow, EndsWhereItShouldAndTypingChangesNothing) {
    const RunRow &row = GetParam();
    sim.set("FLEETWRIGHT_SIM_FLEET", row.fleet);
    sim.set("FLEETWRIGHT_SIM_WAKE_MS", std::to_string(row.wakeMs));
    SimulatedWindow ui(store, &operatorAtTheWindow);
    ASSERT_TRUE(ui.load());
    ui.show();
    MainFrm &window = ui.window;
    ASSERT_EQ(fwsim_set_faults(row.faults.c_str()), 0);
    control<QCheckBox>(window, "NextModuleAutomatically").setChecked(row.continuous);
    auto &tx = control<QLineEdit>(window, "txInterval");
    tx.setFocus();

    QWidget &stop = control<QPushButton>(window, "Command1");
    QWindow *handle = window.windowHandle();
    operatorAtTheWindow.actAfter = row.actAfterUpdates;
    operatorAtTheWindow.delayMs = row.actDelayMs;
    operatorAtTheWindow.act = [&, act = row.act] {
        // Typed into the box that had the focus when Update was clicked.
        fw::testing::queueKeyPress(window, Qt::Key_9, QStringLiteral("9"));
        if (act == Act::Escape)
            fw::testing::queueKeyPress(window, Qt::Key_Escape, {});
        else if (act == Act::ClickStop)
            fw::testing::queueClick(window, stop);
        else if (act == Act::Close)
            fw::testing::queueClose(handle);
    };
    // While the first module is awaited.
    if (row.wakeMs > 0)
        QTimer::singleShot(row.wakeMs / 2, &window, [&window] {
            fw::testing::queueKeyPress(window, Qt::Key_9, QStringLiteral("9"));
        });
    QSignalSpy closed(&window, &MainFrm::closed);
    ui.clickUpdate();

    EXPECT_EQ(operatorAtTheWindow.updates, row.updates);
    EXPECT_EQ(ui.shown, row.boxes);
    EXPECT_EQ(tx.text(), "333");
    EXPECT_EQ(control<QLabel>(window, "RunNote").text().toStdString(), row.lastNote);
    const auto &rows = window.sessionLog().rows();
    EXPECT_EQ(rows.size(), row.updates.size());
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](const record::SessionRow &r) { return !repeatNote(r).empty(); }),
              row.repeats);
    // A run shows the list, and the close takes it along; a single update leaves it alone.
    const auto *list = window.findChild<SessionListWindow *>();
    EXPECT_EQ(list && list->isVisible(), row.continuous && row.act != Act::Close);
    EXPECT_EQ(window.controller().runningContinuously(), false);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    if (row.act == Act::Close) {
        EXPECT_EQ(closed.count(), 1);
        EXPECT_EQ(store.flushes, 1);
        return;
    }
    EXPECT_EQ(closed.count(), 0);
    EXPECT_EQ(stop.accessibleName(), "Update");
    EXPECT_TRUE(stop.isEnabled());
    EXPECT_TRUE(tx.isEnabled());
    EXPECT_TRUE(control<QCheckBox>(window, "NextModuleAutomatically").isEnabled());
    window.close();
}

const std::string kThree = "A:RX-LC:1;B:ZX-9:1;C:RX-VM:1";

INSTANTIATE_TEST_SUITE_P(
    Runs, RunInTheWindow,
    ::testing::Values(
        // A completes again once B has been dealt with: it is not the module just done.
        RunRow{"AFailedModuleDoesNotEndIt",
               "A:RX-LC:1;B:ZX-9:1",
               "",
               true,
               0,
               Act::Escape,
               3,
               0,
               {"A complete", "B failed", "A complete"},
               {},
               messages::runStopped(2, 1),
               1},
        RunRow{"StopIsTakenBetweenModules",
               kThree,
               "",
               true,
               0,
               Act::ClickStop,
               1,
               0,
               {"A complete"},
               {},
               messages::runStopped(1, 0)},
        // Esc comes while the next module is awaited: it pairs, and is left as it was.
        RunRow{"EscapeWhilePairingLeavesTheNextModuleAlone",
               kThree,
               "",
               true,
               1500,
               Act::Escape,
               1,
               700,
               {"A complete"},
               {},
               messages::stoppedBeforeUpdate(0xB).text + " " + messages::runStopped(1, 0)},
        RunRow{"TheStationFailingEndsItWithItsBox",
               kThree,
               "pair-status",
               true,
               0,
               Act::Nothing,
               0,
               0,
               {" failed"},
               {messages::communicationFailure("Injected fault: zdp_pair_module fails", -3)},
               ""},
        RunRow{"ThreeEmptyPairingWindowsEndIt",
               kThree,
               "nopair",
               true,
               0,
               Act::Nothing,
               0,
               0,
               {" failed", " failed", " failed"},
               {},
               messages::runEndedWithoutModules(3)},
        RunRow{"ACloseEndsItAndSavesTheEntries",
               kThree,
               "",
               true,
               0,
               Act::Close,
               1,
               0,
               {"A complete"},
               {},
               messages::runStopped(1, 0)},
        RunRow{"OneClickWithoutIt",
               kThree,
               "",
               false,
               1500,
               Act::Nothing,
               0,
               0,
               {"A complete"},
               {messages::updateComplete("RX-LC", 0xA)},
               ""}),
    fw::testing::RowName());

} // namespace
} // namespace fw::app::e2e
