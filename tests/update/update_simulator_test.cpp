#include "device/sim_environment.h"
#include "fwsim.h"
#include "library_provider.h"
#include "read_sequence.h"
#include "support/named_rows.h"
#include "support/recording_window.h"
#include "update_sequence.h"

#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// The update and the Read against the simulated base station, loaded as the program loads a
// library, with the simulator's own view of its module to check what they left behind.
namespace fw {
namespace {

using fw::testing::PrintTo;
using fw::testing::RecordingWindow;
using fw::testing::SimEnvironment;

constexpr uint32_t kModule = 0x1A2B3C;
// The base station, the module and the channel the operator picks all differ.
constexpr int kModuleChannel = 3;
constexpr int kChosenPosition = 6; // channel 7

const Message kComplete{"Model: RX-LC\r\nID: 1A2B3C\r\nCompleted OK", "Update Complete",
                        MessageIcon::None};

// The module's four parameters, working or saved, in the order an update uses them.
using Values = std::array<std::string, 4>;

class OnTheSimulator : public ::testing::Test {
protected:
    void start(const std::string &faults) {
        sim.set("FLEETWRIGHT_SIM_FLEET", "1A2B3C:RX-LC:3:1000:10:60:0");
        sim.set("FLEETWRIGHT_SIM_CHANNEL", "1");
        dp = createDataProvider(FW_SIMULATOR);
        ASSERT_EQ(dp->OpenConnection(0, 0), 0);
        ASSERT_EQ(fwsim_set_faults(faults.c_str()), 0) << faults;
        window.form.rfChannelPosition = kChosenPosition;
    }

    static Values values(bool saved) {
        Values held;
        for (size_t i = 0; i < held.size(); ++i) {
            char buffer[64] = {};
            EXPECT_GE(fwsim_module_value(kModule, code(kParameterCommands[i]), saved ? 1 : 0,
                                         buffer, sizeof buffer),
                      0);
            held[i] = buffer;
        }
        return held;
    }

    static long writes() { return fwsim_call_count("zdp_write_module_command"); }

    SimEnvironment sim;
    std::unique_ptr<DataProvider> dp;
    RecordingWindow window;
    ModuleSession session;
};

struct ChannelCase {
    const char *name;
    std::string faults;
    Message message;
    int channelAfter;
    Values savedAfter;
};

class ModuleMovedOnTheSimulator : public OnTheSimulator,
                                  public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(ModuleMovedOnTheSimulator, IsCompleteOnlyOnTheChosenChannel) {
    const ChannelCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(c.faults));
    window.form.changeChannel = true;
    UpdateSequence(*dp, window, session).run();

    EXPECT_EQ(window.messages, std::vector<Message>{c.message});
    EXPECT_EQ(fwsim_module_channel(kModule), c.channelAfter);
    EXPECT_EQ(values(true), c.savedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, ModuleMovedOnTheSimulator,
    ::testing::Values(
        ChannelCase{"MovesModules", "", kComplete, 7, {"333", "5", "0", "0"}},
        ChannelCase{"CannotMoveModules",
                    "ignore-channel",
                    {"The module did not take channel 7: it is on channel 3.\r\nPower-cycle it and "
                     "click Update to try again. If it stays on its channel, the base station "
                     "maker's library may not support moving modules.",
                     "Warning", MessageIcon::Warning},
                    kModuleChannel,
                    {"1000", "10", "60", "0"}}),
    fw::testing::RowName());

TEST_F(OnTheSimulator, AModuleLeftOnItsChannelIsSentNothing) {
    ASSERT_NO_FATAL_FAILURE(start("ignore-channel"));
    window.form.changeChannel = true;
    const long before = writes();
    UpdateSequence(*dp, window, session).run();
    EXPECT_EQ(writes(), before);
    EXPECT_EQ(fwsim_call_count("zdp_read_module_command"), 0);
}

struct ClampCase {
    const char *name;
    std::string faults;
    bool verify;
    Message message;
    Values savedAfter;
};

class ClampingModule : public OnTheSimulator, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(ClampingModule, IsCaughtOnlyWhenTheValuesAreReadBack) {
    const ClampCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(c.faults));
    UpdateSequence(*dp, window, session).run({.verifyWrites = c.verify});

    EXPECT_EQ(window.messages, std::vector<Message>{c.message});
    EXPECT_EQ(values(true), c.savedAfter);
}

Message verifiedComplete() {
    Message message = kComplete;
    message.text += "\r\nVerified";
    return message;
}

INSTANTIATE_TEST_SUITE_P(
    Modules, ClampingModule,
    ::testing::Values(
        ClampCase{"KeepsWhatWasWritten", "", true, verifiedComplete(), {"333", "5", "0", "0"}},
        ClampCase{"ClampsAndIsCaught",
                  "clamp:76",
                  true,
                  {"The module did not keep the TX Interval: 333 was written, it holds 100.\r\nThe "
                   "module was neither saved nor reset: a power cycle brings back its saved "
                   "values.\r\nClick Update to try again.",
                   "Verification Failed", MessageIcon::Warning},
                  {"1000", "10", "60", "0"}},
        // What verification is for: without it the clamped value is saved as complete.
        ClampCase{"ClampsUnseenWithoutVerification",
                  "clamp:76",
                  false,
                  kComplete,
                  {"100", "5", "0", "0"}}),
    fw::testing::RowName());

struct ReadCase {
    const char *name;
    int tab;
    bool leaveChannel;
};

class ReadOnTheSimulator : public OnTheSimulator, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadOnTheSimulator, ShowsTheModuleAndLeavesItAsItCame) {
    ASSERT_NO_FATAL_FAILURE(start(""));
    window.form.tab = GetParam().tab;
    window.form.changeChannel = !GetParam().leaveChannel;
    const Values working = values(false);
    const Values saved = values(true);
    fwsim_clear_call_log();
    ReadSequence(*dp, window, session).run();

    const Message shown{
        "Model: RX-LC\r\nID: 1A2B3C\r\nChannel: 3\r\nTX Interval: 1000 ms\r\nSample "
        "Time: 10 ms\r\nSleep Delay: 60 s\r\nLow Power Mode: No",
        "Module Settings", MessageIcon::Information, "Use These Values"};
    EXPECT_EQ(window.messages, std::vector<Message>{shown});
    EXPECT_EQ(values(false), working);
    EXPECT_EQ(values(true), saved);
    EXPECT_EQ(fwsim_module_channel(kModule), kModuleChannel);
    EXPECT_EQ(fwsim_base_channel(), 1);
    std::string log(4096, '\0');
    log.resize(static_cast<size_t>(fwsim_call_log(log.data(), log.size())));
    EXPECT_EQ(log, "zdp_pair_module 1\nzdp_read_module_command 51\nzdp_read_module_command 76\n"
                   "zdp_read_module_command 78\nzdp_read_module_command 77\n"
                   "zdp_read_module_command 75\nzdp_write_module_command 54\n");
}

INSTANTIATE_TEST_SUITE_P(Windows, ReadOnTheSimulator,
                         ::testing::Values(ReadCase{"GeneralLeavingTheChannel", 0, true},
                                           ReadCase{"GeneralChangingTheChannel", 0, false},
                                           ReadCase{"AcquisitionLeavingTheChannel", 1, true},
                                           ReadCase{"AcquisitionChangingTheChannel", 1, false}),
                         fw::testing::RowName());

} // namespace
} // namespace fw
