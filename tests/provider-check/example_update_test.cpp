// The maker's example is only an example if the program works with it: whole updates on
// both tabs, through the program's loader and update sequence, twice in a row.
#include "data_provider.h"
#include "library_provider.h"
#include "module_protocol.h"
#include "support/named_rows.h"
#include "support/recording_window.h"
#include "update_sequence.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

using fw::testing::PrintTo;

const Message kComplete{"Model: RX-LC\r\nID: 1A2B3C\r\nCompleted OK", "Update Complete",
                        MessageIcon::None};

struct UpdateCase {
    const char *name;
    int tab; // 0 "General", 1 "Acquisition Modules"
    bool leaveChannel;
    std::string txInterval; // what the module holds after the update
};

class ExampleProvider : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(ExampleProvider, CompletesTwoUpdatesInARow) {
    const UpdateCase &c = GetParam();
    const std::unique_ptr<DataProvider> dp = createDataProvider(FW_EXAMPLE_PROVIDER);
    ASSERT_EQ(dp->OpenConnection(0, 0), 0);
    testing::RecordingWindow window;
    window.form.tab = c.tab;
    window.form.changeChannel = !c.leaveChannel;
    window.form.rfChannelPosition = 6; // channel 7
    window.form.txInterval = "333";
    window.form.lowPowerModePosition = 1; // "No"
    ModuleSession session;
    for (int update = 1; update <= 2; ++update) {
        window.messages.clear();
        UpdateSequence(*dp, window, session).run();
        EXPECT_EQ(window.messages, std::vector<Message>{kComplete}) << "update " << update;
    }
    EXPECT_EQ(dp->GetBaseChannel(kBaseStationArg), c.leaveChannel ? kChannelMin : 7);
    // Saved before the reset, so the module kept what was written.
    std::string answer;
    ASSERT_EQ(dp->ReadModuleCommand(kBaseStationArg, session.moduleId,
                                    code(CommandCode::TxInterval), answer),
              0);
    EXPECT_EQ(answerText(answer), c.txInterval);
    dp->CloseConnection();
}

INSTANTIATE_TEST_SUITE_P(
    Tabs, ExampleProvider,
    ::testing::Values(UpdateCase{"GeneralLeavingTheChannel", 0, true, "1000"},
                      UpdateCase{"AcquisitionLeavingTheChannel", 1, true, "333"},
                      UpdateCase{"AcquisitionChangingTheChannel", 1, false, "333"}),
    fw::testing::RowName());

} // namespace
} // namespace fw
