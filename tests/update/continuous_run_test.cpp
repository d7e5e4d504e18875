#include "continuous_run.h"
#include "device/sim_environment.h"
#include "fwsim.h"
#include "library_provider.h"
#include "messages.h"
#include "parameter_rules.h"
#include "support/named_rows.h"
#include "support/recording_window.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// Continuous runs against the simulated base station, whose modules wake one after another
// at once: what the operator sees of each module, and where the run ends.
namespace fw {
namespace {

using fw::testing::RecordingWindow;
using fw::testing::SimEnvironment;
using Texts = std::vector<std::string>;

struct RunCase {
    const char *name;
    std::string fleet;
    std::string faults;
    Entries entries;
    int stopAfterNotes; // the operator clicks Stop once this many notes were shown; 0 never
    Texts notes;
    std::vector<Message> boxes;
};

class ContinuousRunOnTheSimulator : public ::testing::TestWithParam<RunCase> {
protected:
    SimEnvironment sim;
    RecordingWindow window;
    ModuleSession session;
};

TEST_P(ContinuousRunOnTheSimulator, GoesOnAfterTheModulesOwnEndingsOnly) {
    const RunCase &c = GetParam();
    sim.set("FLEETWRIGHT_SIM_FLEET", c.fleet);
    sim.set("FLEETWRIGHT_SIM_CHANNEL", "1");
    const std::unique_ptr<DataProvider> dp = createDataProvider(FW_SIMULATOR);
    ASSERT_EQ(dp->OpenConnection(0, 0), 0);
    ASSERT_EQ(fwsim_set_faults(c.faults.c_str()), 0);
    window.form = c.entries;
    UpdateSequence update(*dp, window, session);
    ContinuousRun run(update, window,
                      [](const UpdateReport &r) { return r.moduleId == "B" ? "marked" : ""; });
    // Input is taken only where the run processes events: the entries must be guarded there.
    int leastGuardWhileTakingInput = 1;
    window.onProcessEvents = [&] {
        leastGuardWhileTakingInput = std::min(leastGuardWhileTakingInput, window.guardDepth);
        if (c.stopAfterNotes != 0 && int(window.notes.size()) >= c.stopAfterNotes + 1)
            run.stop();
    };
    run.run();

    // The first note clears the last run's.
    ASSERT_FALSE(window.notes.empty());
    EXPECT_EQ(window.notes.front(), "");
    EXPECT_EQ(Texts(window.notes.begin() + 1, window.notes.end()), c.notes);
    EXPECT_EQ(window.messages, c.boxes);
    EXPECT_EQ(window.runChanges, (Texts{"started", "ended"}));
    EXPECT_EQ(window.guardDepth, 0);
    EXPECT_EQ(leastGuardWhileTakingInput, 1);
    EXPECT_EQ(window.status, "");
    EXPECT_FALSE(run.running());
}

Entries lowPower(const std::string &tx, const std::string &sample = "5") {
    Entries entries;
    entries.txInterval = tx;
    entries.sampleTime = sample;
    entries.lowPowerModePosition = 2;
    return entries;
}

Entries onChannel(int position) {
    Entries entries;
    entries.changeChannel = true;
    entries.rfChannelPosition = position;
    return entries;
}

const std::string kThree = "A:RX-LC:1;B:ZX-9:1;C:RX-VM:1";

INSTANTIATE_TEST_SUITE_P(
    Runs, ContinuousRunOnTheSimulator,
    ::testing::Values(
        RunCase{"AFailedModuleDoesNotEndIt",
                kThree,
                "",
                {},
                3,
                {"+ID: A (RX-LC): Update Complete",
                 "!ID: B (ZX-9): The paired module is a ZX-9 which is not supported by this "
                 "software! (marked)",
                 "+ID: C (RX-VM): Update Complete", "Run stopped: 2 complete, 1 failed."},
                {}},
        RunCase{"TheBaseStationFailingEndsItWithItsBox",
                kThree,
                "pair-status",
                {},
                0,
                {""},
                {messages::communicationFailure("Injected fault: zdp_pair_module fails", -3)}},
        RunCase{"AChannelTheStationWillNotTakeEndsItWithItsBox",
                kThree,
                "refuse-channel",
                onChannel(6),
                0,
                {""},
                {messages::channelNotSet()}},
        RunCase{"EntriesNoModuleCanRunEndItWithTheirBox",
                kThree,
                "",
                lowPower("15"),
                0,
                {""},
                {messages::incompatible(compatibilityWarning({"15", "5", "0", "1"}))}},
        // The same entries pass with one module's sample time and fail with another's.
        RunCase{"EntriesOneModuleCannotRunDoNotEndIt",
                "A:RX-LC:1:1000:80:60:0;C:RX-VM:1",
                "",
                lowPower("100", ""),
                2,
                {"!ID: A (RX-LC): WARNING: The Sample Time is too large for the selected TX "
                 "Interval. The maximum Sample Time is 75 mS",
                 "+ID: C (RX-VM): Update Complete", "Run stopped: 1 complete, 1 failed."},
                {}},
        RunCase{"ThreeEmptyPairingWindowsEndIt",
                kThree,
                "nopair",
                {},
                0,
                {messages::noModuleNote(1, 3), messages::noModuleNote(2, 3),
                 messages::runEndedWithoutModules(3)},
                {}},
        // A one-module fleet wakes the same module each time, as a module restarting after
        // its reset would pair again.
        RunCase{"TheModuleJustUpdatedIsLeftAlone",
                "A:RX-LC:1",
                "",
                {},
                0,
                {"+ID: A (RX-LC): Update Complete", messages::pairedAgain(0xA).text,
                 messages::pairedAgain(0xA).text, messages::runEndedWithoutModules(3)},
                {}}),
    fw::testing::RowName());

} // namespace
} // namespace fw
