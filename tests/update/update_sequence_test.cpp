#include "data_provider.h"
#include "read_sequence.h"
#include "support/mock_provider.h"
#include "support/named_rows.h"
#include "support/recording_window.h"
#include "update_observer.h"
#include "update_sequence.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace fw {

void PrintTo(const UpdateReport &r, std::ostream *out) {
    *out << "{id=" << r.moduleId << " model=" << r.model
         << " tab=" << (r.tab == UpdateTab::General ? "general" : "acquisition")
         << " kept=" << r.channelKept << " channel=" << r.channel << " written={"
         << r.written.txInterval << "," << r.written.sampleTime << "," << r.written.sleepDelay
         << "," << r.written.lowPowerMode << "} complete=" << r.complete << " " << r.message << "}";
}

namespace {

using fw::testing::PrintTo;

using fw::testing::MockProvider;
using fw::testing::RecordingWindow;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Eq;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::StrictMock;
using ::testing::Throw;
using ::testing::WithParamInterface;
using Events = std::vector<std::string>;
using Messages = std::vector<Message>;

const std::string kTwoNuls("\0\0", 2);

const Message kChannelNotSet{"Could not set base station RF channel! Please try again.", "Error",
                             MessageIcon::Warning};
const Message kNotPaired{"Did not pair with a remote module!", "Error", MessageIcon::Warning};

Message completed(const std::string &model, const std::string &id) {
    return {"Model: " + model + "\r\nID: " + id + "\r\nCompleted OK", "Update Complete",
            MessageIcon::None};
}

Message refused(const std::string &description) {
    return {description + "\r\nTry again.", "Error", MessageIcon::Critical};
}

// What the operator sees of an update that ended with one box after the hourglass.
const Events kEndedEarly{"pointer:busy", "status:Waiting...", "pointer:default", "message:Error",
                         "status:"};

auto pairs(uint32_t id) {
    return SetArgReferee<3>(id);
}
auto answers(const std::string &text) {
    return DoAll(SetArgReferee<3>(text), Return(0));
}

// Every provider call is expected exactly, in order.
class UpdateCalls : public ::testing::Test {
protected:
    UpdateCalls() { window.form.tab = 0; }

    void expectModuleToFinish(uint32_t id, const std::string &model) {
        EXPECT_CALL(dp, ReadModuleCommand(1, id, 51, _)).WillOnce(answers(model));
        EXPECT_CALL(dp, WriteModuleCommand(1, id, 55, kTwoNuls)).WillOnce(Return(0));
        EXPECT_CALL(dp, WriteModuleCommand(1, id, 54, kTwoNuls)).WillOnce(Return(0));
    }

    StrictMock<MockProvider> dp;
    RecordingWindow window;
    ModuleSession session;
    UpdateSequence update{dp, window, session};
};

TEST_F(UpdateCalls, LeavingTheChannelOnlyPairsInModeOneThenReadsSavesAndResets) {
    session.moduleId = 0x77; // the last pairing's ID goes in as it is
    {
        InSequence order;
        EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(3));
        EXPECT_CALL(dp, PairModule(1, 1, 10, Eq(0x77u), _)).WillOnce(pairs(0x12AB));
        expectModuleToFinish(0x12AB, "RX-LC");
    }
    update.run();

    EXPECT_EQ(window.events,
              (Events{"pointer:busy", "status:Waiting...", "status:ID: 12AB", "pause:500", "events",
                      "pause:1000", "pointer:default", "message:Update Complete", "status:"}));
    EXPECT_EQ(window.messages, Messages{completed("RX-LC", "12AB")});
    EXPECT_EQ(window.messages[0].text, "Model: RX-LC\r\nID: 12AB\r\nCompleted OK");
    EXPECT_EQ(session.moduleId, 0x12ABu);
    EXPECT_FALSE(update.running());
}

// The window counts the pairing window down only while the pairing call waits.
TEST_F(UpdateCalls, ThePairingWaitIsAnnouncedAroundThePairingCallOnly) {
    std::vector<std::string> aidsDuringPairing;
    EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(3));
    EXPECT_CALL(dp, PairModule(1, 1, 10, _, _))
        .WillOnce(DoAll(Invoke([&] { aidsDuringPairing = window.aids; }), pairs(0)));
    update.run();

    EXPECT_EQ(aidsDuringPairing, (Events{"pairing:10"}));
    EXPECT_EQ(window.aids, (Events{"pairing:10", "paired"}));
}

TEST_F(UpdateCalls, APairingCallThatFailsStillEndsTheWait) {
    window.form.changeChannel = true;
    window.form.rfChannelPosition = 2;
    EXPECT_CALL(dp, GetBaseChannel(1)).WillRepeatedly(Return(3));
    EXPECT_CALL(dp, PairModule(1, 0, 10, _, _)).WillOnce(Throw(ProviderError(-5, "gone")));
    update.run();

    EXPECT_EQ(window.aids, (Events{"pairing:10", "paired"}));
    EXPECT_EQ(window.messages.size(), 1u);
}

struct ChannelCase {
    const char *name;
    uint8_t baseChannel;
    int listPosition;
    bool sendsChannel;
};

class ChangingTheChannel : public UpdateCalls, public WithParamInterface<ChannelCase> {};

TEST_P(ChangingTheChannel, SetsItOnlyWhenDifferentAndAlwaysReadsItBack) {
    const ChannelCase &c = GetParam();
    const auto target = static_cast<uint8_t>(c.listPosition + 1);
    window.form.changeChannel = true;
    window.form.rfChannelPosition = c.listPosition;
    {
        InSequence order;
        EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(c.baseChannel));
        if (c.sendsChannel)
            EXPECT_CALL(dp, SetBaseChannel(1, target));
        EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(target));
        EXPECT_CALL(dp, PairModule(1, 0, 10, _, _)).WillOnce(pairs(0x12AB));
        expectModuleToFinish(0x12AB, "GH-K410");
    }
    update.run();

    EXPECT_EQ(window.messages, Messages{completed("GH-K410", "12AB")});
}

INSTANTIATE_TEST_SUITE_P(Channels, ChangingTheChannel,
                         ::testing::Values(ChannelCase{"Different", 3, 6, true},
                                           ChannelCase{"AlreadyThere", 7, 6, false},
                                           ChannelCase{"FirstChannel", 16, 0, true},
                                           ChannelCase{"LastChannel", 1, 15, true}),
                         fw::testing::RowName());

TEST_F(UpdateCalls, AChannelTheBaseStationDidNotTakeEndsBeforePairing) {
    window.form.changeChannel = true;
    window.form.rfChannelPosition = 6;
    {
        InSequence order;
        EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(3));
        EXPECT_CALL(dp, SetBaseChannel(1, 7));
        EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(3));
    }
    update.run();

    EXPECT_EQ(window.messages, Messages{kChannelNotSet});
    EXPECT_EQ(window.events, kEndedEarly);
}

TEST_F(UpdateCalls, NoChosenChannelSendsNoChannelAndEndsBeforePairing) {
    window.form.changeChannel = true;
    window.form.rfChannelPosition = -1; // channel 0 would be the result, and it is no channel
    EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(3));
    update.run();

    EXPECT_EQ(window.messages, Messages{kChannelNotSet});
    EXPECT_EQ(window.events, kEndedEarly);
}

TEST_F(UpdateCalls, NoModulePairedEndsWithoutTalkingToAModule) {
    EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(3));
    EXPECT_CALL(dp, PairModule(1, 1, 10, _, _)).WillOnce(pairs(0));
    update.run();

    EXPECT_EQ(window.messages, Messages{kNotPaired});
    EXPECT_EQ(window.events, kEndedEarly);
}

struct RefusalCase {
    const char *name;
    uint8_t refusedCommand;
    std::string description;
    Events events;
};

class ModuleRefusal : public UpdateCalls, public WithParamInterface<RefusalCase> {};

TEST_P(ModuleRefusal, EndsWithTheReportOfTheRefusedCommandOnly) {
    const uint8_t refusedCommand = GetParam().refusedCommand;
    auto flag = [&](uint8_t command) { return Return(command == refusedCommand ? 1 : 0); };
    {
        InSequence order;
        EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(3));
        EXPECT_CALL(dp, PairModule(1, 1, 10, _, _)).WillOnce(pairs(5));
        EXPECT_CALL(dp, ReadModuleCommand(1, 5, 51, _))
            .WillOnce(DoAll(SetArgReferee<3>(std::string("RX-LC")), flag(51)));
        if (refusedCommand != 51)
            EXPECT_CALL(dp, WriteModuleCommand(1, 5, 55, kTwoNuls)).WillOnce(flag(55));
        if (refusedCommand == 54)
            EXPECT_CALL(dp, WriteModuleCommand(1, 5, 54, kTwoNuls)).WillOnce(flag(54));
    }
    update.run();

    EXPECT_EQ(window.messages, Messages{refused(GetParam().description)});
    EXPECT_EQ(window.events, GetParam().events);
    EXPECT_FALSE(window.busy);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ModuleRefusal,
    ::testing::Values(RefusalCase{"Model",
                                  51,
                                  "Cannot read Model!",
                                  {"pointer:busy", "status:Waiting...", "status:ID: 5", "pause:500",
                                   "pointer:default", "message:Error", "status:"}},
                      RefusalCase{"Save",
                                  55,
                                  "Cannot Save!",
                                  {"pointer:busy", "status:Waiting...", "status:ID: 5", "pause:500",
                                   "pointer:default", "message:Error", "status:"}},
                      RefusalCase{"Reset",
                                  54,
                                  "Cannot Reset!",
                                  {"pointer:busy", "status:Waiting...", "status:ID: 5", "pause:500",
                                   "events", "pause:1000", "pointer:default", "message:Error",
                                   "status:"}}),
    fw::testing::RowName());

struct IdCase {
    const char *name;
    uint32_t id;
    std::string shown;
};

class ModuleIdShown : public UpdateCalls, public WithParamInterface<IdCase> {};

TEST_P(ModuleIdShown, InUpperCaseHexWithoutSignOrLeadingZeros) {
    EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(3));
    EXPECT_CALL(dp, PairModule(1, 1, 10, _, _)).WillOnce(pairs(GetParam().id));
    expectModuleToFinish(GetParam().id, "rx-lc");
    update.run();

    EXPECT_EQ(window.events.at(2), "status:ID: " + GetParam().shown);
    // On the General tab the model is shown exactly as the module reported it.
    EXPECT_EQ(window.messages, Messages{completed("rx-lc", GetParam().shown)});
}

INSTANTIATE_TEST_SUITE_P(Ids, ModuleIdShown,
                         ::testing::Values(IdCase{"Small", 5, "5"}, IdCase{"Mixed", 0x12AB, "12AB"},
                                           IdCase{"TopBitSet", 0x8000000Au, "8000000A"}),
                         fw::testing::RowName());

TEST_F(UpdateCalls, AClickWhileTheModuleSavesStartsNoSecondUpdate) {
    EXPECT_CALL(dp, GetBaseChannel(1)).Times(2).WillRepeatedly(Return(3));
    EXPECT_CALL(dp, PairModule(1, 1, 10, _, _)).Times(2).WillRepeatedly(pairs(0x12AB));
    EXPECT_CALL(dp, ReadModuleCommand(1, 0x12AB, 51, _)).Times(2).WillRepeatedly(answers("RX-RM"));
    EXPECT_CALL(dp, WriteModuleCommand(1, 0x12AB, 55, kTwoNuls)).Times(2).WillRepeatedly(Return(0));
    EXPECT_CALL(dp, WriteModuleCommand(1, 0x12AB, 54, kTwoNuls)).Times(2).WillRepeatedly(Return(0));
    int clicks = 0;
    window.onProcessEvents = [&] {
        if (++clicks > 2)
            return; // keeps a broken guard from recursing without end
        EXPECT_TRUE(update.running());
        update.run();
    };

    update.run();
    EXPECT_FALSE(update.running());
    update.run(); // the guard is down again: the next click updates the next module

    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(window.messages, (Messages{completed("RX-RM", "12AB"), completed("RX-RM", "12AB")}));
}

// A healthy base station and module behind the mock. Every provider call is logged in
// order, and the call numbered failAt fails as an unplugged base station would.
struct Station {
    explicit Station(MockProvider &dp) {
        ON_CALL(dp, GetBaseChannel).WillByDefault([this](int32_t) {
            call("GetBaseChannel");
            return channel;
        });
        ON_CALL(dp, SetBaseChannel).WillByDefault([this](int32_t, uint8_t newChannel) {
            call("SetBaseChannel " + std::to_string(newChannel));
            channel = newChannel;
        });
        ON_CALL(dp, PairModule)
            .WillByDefault([this](int32_t, int32_t mode, int32_t, uint32_t &id, int32_t &extra) {
                call("PairModule " + std::to_string(mode));
                id = moduleId;
                extra = reportedChannel.value_or(mode == 0 ? channel : moduleChannel);
            });
        ON_CALL(dp, ReadModuleCommand)
            .WillByDefault([this](uint8_t, uint32_t, uint8_t command, std::string &value) {
                call("read " + std::to_string(command));
                value = answers[command];
                return flag(command);
            });
        ON_CALL(dp, WriteModuleCommand)
            .WillByDefault([this](uint8_t, uint32_t, uint8_t command, const std::string &payload) {
                std::string shown;
                for (char c : payload)
                    shown += c == '\0' ? std::string("\\0") : std::string(1, c);
                call("write " + std::to_string(command) + " " + shown);
                if (flag(command) == 0 && payload.size() > 2 && answers.contains(command))
                    answers[command] = kept.contains(command)
                                           ? kept[command]
                                           : payload.substr(0, payload.size() - 2);
                return flag(command);
            });
    }

    void call(std::string what) {
        log.push_back(std::move(what));
        if (static_cast<int>(log.size()) == failAt)
            throw ProviderError(7, "The base station was unplugged");
    }
    int16_t flag(uint8_t command) const { return command == refusedCommand ? 1 : 0; }

    uint8_t channel = 3;
    uint32_t moduleId = 0x12AB;
    // The module's channel as the pairing reports it: the base station's after moving it,
    // else moduleChannel, unless reportedChannel says otherwise.
    uint8_t moduleChannel = 9;
    std::optional<int32_t> reportedChannel;
    std::map<uint8_t, std::string> answers{
        {51, "RX-LC"}, {76, "500"}, {78, "5"}, {77, "10"}, {75, "0"}};
    // A parameter the module takes a write of but holds this value instead.
    std::map<uint8_t, std::string> kept;
    uint8_t refusedCommand = 0;
    int failAt = 0;
    Events log;
};

// The window starts on the "Acquisition Modules" tab with TX interval 333, sample time 5,
// sleep delay 0 and low power "Leave As Is".
class UpdateRun : public ::testing::Test {
protected:
    void expectIdleAfter(const Message &message) {
        EXPECT_EQ(window.messages, Messages{message});
        EXPECT_FALSE(window.busy);
        EXPECT_EQ(window.status, "");
        EXPECT_FALSE(update.running());
    }

    NiceMock<MockProvider> dp;
    Station station{dp};
    RecordingWindow window;
    ModuleSession session;
    UpdateSequence update{dp, window, session};
};

struct ErrorPoint {
    const char *name;
    int tab;
    int failAt;
    std::string failingCall;
};

class ProviderErrorAt : public UpdateRun, public WithParamInterface<ErrorPoint> {};

TEST_P(ProviderErrorAt, ReportsTheCommunicationFailureAndLeavesTheWindowUsable) {
    window.form.tab = GetParam().tab;
    window.form.txInterval = ""; // read from the module on the "Acquisition Modules" tab
    window.form.lowPowerModePosition = 2;
    window.form.changeChannel = true;
    window.form.rfChannelPosition = 6;
    station.failAt = GetParam().failAt;
    update.run();

    ASSERT_EQ(station.log.size(), static_cast<size_t>(GetParam().failAt));
    EXPECT_EQ(station.log.back(), GetParam().failingCall);
    expectIdleAfter({"Communication with the base station failed!\r\nThe base station was "
                     "unplugged [Code: 7]",
                     "Error", MessageIcon::Critical});
    EXPECT_EQ(window.events.back(), "status:");

    station.failAt = 0;
    window.messages.clear();
    update.run();
    EXPECT_EQ(window.messages, Messages{completed("RX-LC", "12AB")});
}

INSTANTIATE_TEST_SUITE_P(Calls, ProviderErrorAt,
                         ::testing::Values(ErrorPoint{"FirstChannelRead", 0, 1, "GetBaseChannel"},
                                           ErrorPoint{"ChannelSet", 0, 2, "SetBaseChannel 7"},
                                           ErrorPoint{"ChannelReadBack", 0, 3, "GetBaseChannel"},
                                           ErrorPoint{"Pairing", 0, 4, "PairModule 0"},
                                           ErrorPoint{"ModelRead", 0, 5, "read 51"},
                                           ErrorPoint{"Save", 0, 6, "write 55 \\0\\0"},
                                           ErrorPoint{"Reset", 0, 7, "write 54 \\0\\0"},
                                           ErrorPoint{"ParameterRead", 1, 6, "read 76"},
                                           ErrorPoint{"ParameterWrite", 1, 7, "write 78 5\\0\\0"}),
                         fw::testing::RowName());

TEST_F(UpdateRun, AnEntryOutOfRangeShowsOnlyItsMessageAndSendsNothing) {
    window.form.txInterval = "4";
    window.form.sampleTime = "0"; // also out of range; only the first field is reported
    update.run();

    EXPECT_EQ(window.aids, (Events{"refused:0"})) << "the refused box is named after the message";

    EXPECT_TRUE(station.log.empty());
    EXPECT_EQ(window.events, Events{"message:Invalid Parameter Values"});
    EXPECT_EQ(window.messages, (Messages{{"The valid range for the TX Interval is 5 to 60000 ms",
                                          "Invalid Parameter Values", MessageIcon::Warning}}));
    EXPECT_EQ(window.status, "Ready");
}

TEST_F(UpdateRun, TheRefusedBoxIsTheFirstOneOutOfRange) {
    window.form.sampleTime = "70000";
    window.form.sleepDelay = "3601";
    update.run();

    EXPECT_EQ(window.messages, (Messages{{"The valid range for the Sample Time is 5 to 60000 ms",
                                          "Invalid Parameter Values", MessageIcon::Warning}}));
    EXPECT_EQ(window.aids, (Events{"refused:1"}));
}

TEST_F(UpdateRun, BlankFieldsAreReadInOrderAndNeverWrittenBack) {
    window.form.txInterval = window.form.sampleTime = window.form.sleepDelay = "";
    update.run();

    EXPECT_EQ(station.log,
              (Events{"GetBaseChannel", "PairModule 1", "read 51", "read 76", "read 78", "read 77",
                      "read 75", "write 55 \\0\\0", "write 54 \\0\\0"}));
    EXPECT_EQ(session.staged, (StagedParameters{"500", "5", "10", "0"}));
    expectIdleAfter(completed("RX-LC", "12AB"));
}

struct WriteCase {
    const char *name;
    int lowPowerPosition;
    std::string lowPowerWritten;
};

class EnteredParameters : public UpdateRun, public WithParamInterface<WriteCase> {};

TEST_P(EnteredParameters, AreWrittenInOrderAsTheirStagedText) {
    window.form.txInterval = "0333";
    window.form.sleepDelay = "12";
    window.form.lowPowerModePosition = GetParam().lowPowerPosition;
    update.run();

    EXPECT_EQ(station.log, (Events{"GetBaseChannel", "PairModule 1", "read 51",
                                   "write 76 333\\0\\0", "write 78 5\\0\\0", "write 77 12\\0\\0",
                                   "write 75 " + GetParam().lowPowerWritten + "\\0\\0",
                                   "write 55 \\0\\0", "write 54 \\0\\0"}));
    expectIdleAfter(completed("RX-LC", "12AB"));
}

INSTANTIATE_TEST_SUITE_P(LowPower, EnteredParameters,
                         ::testing::Values(WriteCase{"No", 1, "0"}, WriteCase{"Yes", 2, "1"}),
                         fw::testing::RowName());

class LowPowerFromTheModule : public UpdateRun, public WithParamInterface<int> {};

TEST_P(LowPowerFromTheModule, IsCheckedButNeverWritten) {
    window.form.lowPowerModePosition = GetParam();
    station.answers[75] = "1";
    update.run();

    EXPECT_EQ(station.log, (Events{"GetBaseChannel", "PairModule 1", "read 51", "read 75",
                                   "write 76 333\\0\\0", "write 78 5\\0\\0", "write 77 0\\0\\0",
                                   "write 55 \\0\\0", "write 54 \\0\\0"}));
    expectIdleAfter(completed("RX-LC", "12AB"));
}

TEST_P(LowPowerFromTheModule, AppliesTheLowPowerRules) {
    window.form.lowPowerModePosition = GetParam();
    window.form.txInterval = "35";
    station.answers[75] = "1";
    update.run();

    EXPECT_EQ(station.log.back(), "read 75");
    expectIdleAfter({"WARNING: In low power mode the TX Interval cannot be less than 41 mS!",
                     "Incompatible Parameter Values", MessageIcon::Warning});
}

// No selection at all leaves the module's mode as "Leave As Is" does.
INSTANTIATE_TEST_SUITE_P(Positions, LowPowerFromTheModule, ::testing::Values(0, -1),
                         [](const auto &row) {
                             return std::string(row.param == 0 ? "LeaveAsIs" : "NoSelection");
                         });

TEST_F(UpdateRun, IncompatibleValuesAreRefusedBeforeAnyWrite) {
    window.form.txInterval = "";
    window.form.sampleTime = "600";
    window.form.lowPowerModePosition = 1;
    update.run();

    EXPECT_EQ(station.log.back(), "read 76");
    expectIdleAfter({"WARNING: The Sample Time is too large for the selected TX Interval. The "
                     "maximum Sample Time is 500 mS\r\n",
                     "Incompatible Parameter Values", MessageIcon::Warning});
}

TEST_F(UpdateRun, AFailedWriteStopsWithEarlierWritesDoneAndNoSaveOrReset) {
    station.refusedCommand = 78;
    update.run();

    EXPECT_EQ(station.log, (Events{"GetBaseChannel", "PairModule 1", "read 51", "read 75",
                                   "write 76 333\\0\\0", "write 78 5\\0\\0"}));
    expectIdleAfter(refused("Cannot write Sample Time!"));
}

TEST_F(UpdateRun, AnUnsupportedModelIsRefusedInUpperCaseBeforeAnyParameter) {
    station.answers[51] = "rx-im";
    update.run();

    EXPECT_EQ(station.log.back(), "read 51");
    EXPECT_EQ(session.model, "RX-IM");
    expectIdleAfter({"The paired module is a RX-IM which is not supported by this software!",
                     "Warning", MessageIcon::Warning});
}

TEST_F(UpdateRun, ALowerCaseModelIsSupportedAndShownInUpperCase) {
    station.answers[51] = "rx-lc";
    update.run();

    EXPECT_EQ(session.model, "RX-LC");
    expectIdleAfter(completed("RX-LC", "12AB"));
}

struct BadAnswer {
    const char *name;
    uint8_t command;
    std::string answer;
    std::string description;
};

class NonNumericAnswer : public UpdateRun, public WithParamInterface<BadAnswer> {};

TEST_P(NonNumericAnswer, CountsAsAFailedReadAndWritesNothing) {
    window.form.txInterval = window.form.sampleTime = window.form.sleepDelay = "";
    session.staged.txInterval = "old";
    station.answers[GetParam().command] = GetParam().answer;
    update.run();

    EXPECT_EQ(station.log.back(), "read " + std::to_string(GetParam().command));
    EXPECT_EQ(session.staged.txInterval, GetParam().command == 76 ? "old" : "500");
    expectIdleAfter(refused(GetParam().description));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NonNumericAnswer,
    ::testing::Values(BadAnswer{"Letters", 76, "abc", "Cannot read TX Interval!"},
                      BadAnswer{"Empty", 76, "", "Cannot read TX Interval!"},
                      BadAnswer{"BlanksOnly", 78, "  ", "Cannot read Sample Time!"},
                      BadAnswer{"LowPowerWord", 75, "on", "Cannot read Low Power Mode!"}),
    fw::testing::RowName());

// A window whose entries change during the update's pauses, as a timer or an accessibility
// action could change them.
class EntriesChangedWhileWaiting : public RecordingWindow {
public:
    Entries later;
    void pause(std::chrono::milliseconds duration) override {
        RecordingWindow::pause(duration);
        form = later;
    }
};

struct ChangeWhileWaiting {
    const char *name;
    Entries atTheClick;
    Entries inThePauses;
    Events calls;
    std::string model; // as the completion message shows it
};

const Events kGeneralCalls{"GetBaseChannel", "PairModule 1", "read 51", "write 55 \\0\\0",
                           "write 54 \\0\\0"};
const Events kDefaultParameterCalls{"GetBaseChannel",   "PairModule 1",       "read 51",
                                    "read 75",          "write 76 333\\0\\0", "write 78 5\\0\\0",
                                    "write 77 0\\0\\0", "write 55 \\0\\0",    "write 54 \\0\\0"};

class ChangedWhileWaiting : public UpdateRun, public WithParamInterface<ChangeWhileWaiting> {};

// The parameters written are those staged at the click, and only while the tab read again
// after the model is still the one they were staged on: never an earlier update's.
TEST_P(ChangedWhileWaiting, TheUpdateWritesTheParametersOfItsClickOnTheTabStillActive) {
    EntriesChangedWhileWaiting changing;
    changing.form = GetParam().atTheClick;
    changing.later = GetParam().inThePauses;
    ModuleSession fresh;
    UpdateSequence changed(dp, changing, fresh);
    station.answers[51] = "rx-lc";
    changed.run();

    EXPECT_EQ(station.log, GetParam().calls);
    EXPECT_EQ(changing.messages, Messages{completed(GetParam().model, "12AB")});
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ChangedWhileWaiting,
    ::testing::Values(
        ChangeWhileWaiting{"GeneralThenAcquisition", {.tab = 0}, {}, kGeneralCalls, "rx-lc"},
        ChangeWhileWaiting{"AcquisitionThenGeneral", {}, {.tab = 0}, kGeneralCalls, "rx-lc"},
        ChangeWhileWaiting{"OtherParameters",
                           {},
                           {.txInterval = "", .sampleTime = "9", .lowPowerModePosition = 2},
                           kDefaultParameterCalls,
                           "RX-LC"}),
    fw::testing::RowName());

// Keeps every report together with what the operator had seen when it came.
class ReportKeeper : public UpdateObserver {
public:
    explicit ReportKeeper(const RecordingWindow &window) : window_(window) {}

    std::optional<Message> updateEnding(const UpdateReport &report) override {
        reports.push_back(report);
        seenBefore = window_.events;
        return notice;
    }

    std::vector<UpdateReport> reports;
    Events seenBefore;
    std::optional<Message> notice;

private:
    const RecordingWindow &window_;
};

class UpdateReports : public UpdateRun {
protected:
    ReportKeeper keeper{window};
    UpdateSequence observed{dp, window, session, &keeper};
};

struct ReportCase {
    const char *name;
    std::function<void(RecordingWindow &, Station &)> arrange;
    UpdateReport report;
};

class ReportedUpdate : public UpdateReports, public WithParamInterface<ReportCase> {};

TEST_P(ReportedUpdate, IsReportedOnceBeforeItsMessageIsShown) {
    session.moduleId = 0x77; // an earlier update's module, which must not leak into the report
    session.model = "OLD";
    GetParam().arrange(window, station);
    observed.run();

    ASSERT_EQ(keeper.reports, std::vector<UpdateReport>{GetParam().report});
    EXPECT_EQ(window.messages, Messages{GetParam().report.message});
    ASSERT_LT(keeper.seenBefore.size(), window.events.size());
    EXPECT_EQ(window.events[keeper.seenBefore.size()],
              "message:" + GetParam().report.message.title);
}

const StagedParameters kNothingWritten{};
const Message kUnplugged{"Communication with the base station failed!\r\nThe base station was "
                         "unplugged [Code: 7]",
                         "Error", MessageIcon::Critical};

INSTANTIATE_TEST_SUITE_P(
    Endings, ReportedUpdate,
    ::testing::Values(
        ReportCase{"AcquisitionTabOnAChosenChannel",
                   [](RecordingWindow &w, Station &st) {
                       w.form.changeChannel = true;
                       w.form.rfChannelPosition = 6;
                       w.form.lowPowerModePosition = 2;
                       st.answers[51] = "rx-lc";
                   },
                   {"12AB",
                    "RX-LC",
                    UpdateTab::Acquisition,
                    false,
                    7,
                    {"333", "5", "0", "1"},
                    true,
                    completed("RX-LC", "12AB")}},
        ReportCase{"AWriteRefusedMidway",
                   [](RecordingWindow &w, Station &st) {
                       w.form.lowPowerModePosition = 1;
                       st.refusedCommand = 77;
                   },
                   {"12AB",
                    "RX-LC",
                    UpdateTab::Acquisition,
                    true,
                    0,
                    {"333", "5", "", ""},
                    false,
                    refused("Cannot write Sleep Delay!")}},
        ReportCase{"AnUnsupportedModel",
                   [](RecordingWindow &, Station &st) { st.answers[51] = "zx-9"; },
                   {"12AB",
                    "ZX-9",
                    UpdateTab::Acquisition,
                    true,
                    0,
                    kNothingWritten,
                    false,
                    {"The paired module is a ZX-9 which is not supported by this software!",
                     "Warning", MessageIcon::Warning}}},
        ReportCase{"TheBaseStationFailsBeforePairing",
                   [](RecordingWindow &w, Station &st) {
                       w.form.changeChannel = true;
                       w.form.rfChannelPosition = 6;
                       st.failAt = 1;
                   },
                   {"", "", UpdateTab::Acquisition, false, 0, kNothingWritten, false, kUnplugged}}),
    fw::testing::RowName());

TEST_F(UpdateReports, AnEntryOutOfRangeIsNotReported) {
    window.form.txInterval = "4";
    observed.run();
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(keeper.reports.empty());
}

TEST_F(UpdateReports, TheObserversNoticeFollowsTheUpdatesOwnMessage) {
    const Message notice{"record trouble", "Update record", MessageIcon::Warning};
    keeper.notice = notice;
    observed.run();

    EXPECT_EQ(window.messages, (Messages{completed("RX-LC", "12AB"), notice}));
    EXPECT_EQ(
        Events(window.events.end() - 4, window.events.end()),
        (Events{"pointer:default", "message:Update Complete", "status:", "message:Update record"}));

    keeper.notice.reset();
    observed.run();
    EXPECT_EQ(keeper.reports.size(), 2u);
    EXPECT_EQ(window.messages.back(), completed("RX-LC", "12AB"));
}

// ---- the module's channel after a pairing that should have moved it -------------------

Message notTaken(int wanted, int reported) {
    return {"The module did not take channel " + std::to_string(wanted) + ": it is on channel " +
                std::to_string(reported) +
                ".\r\nPower-cycle it and click Update to try again. If it stays on its channel, "
                "the base station maker's library may not support moving modules.",
            "Warning", MessageIcon::Warning};
}

struct PairedChannelCase {
    const char *name;
    bool leaveChannel;
    std::optional<int32_t> reported; // nothing: the channel the module really went to
    bool completes;
};

class PairedChannel : public UpdateReports, public WithParamInterface<PairedChannelCase> {};

TEST_P(PairedChannel, AModuleLeftOnAnotherChannelIsNeverReportedComplete) {
    const PairedChannelCase &c = GetParam();
    window.form.changeChannel = !c.leaveChannel;
    window.form.rfChannelPosition = 6; // channel 7
    station.reportedChannel = c.reported;
    observed.run();

    ASSERT_EQ(keeper.reports.size(), 1u);
    if (c.completes) {
        expectIdleAfter(completed("RX-LC", "12AB"));
        return;
    }
    EXPECT_EQ(station.log,
              (Events{"GetBaseChannel", "SetBaseChannel 7", "GetBaseChannel", "PairModule 0"}));
    EXPECT_EQ(window.events, (Events{"pointer:busy", "status:Waiting...", "status:ID: 12AB",
                                     "pointer:default", "message:Warning", "status:"}));
    expectIdleAfter(notTaken(7, *c.reported));
    const UpdateReport &report = keeper.reports[0];
    EXPECT_FALSE(report.complete);
    EXPECT_EQ(report.moduleId, "12AB");
    EXPECT_EQ(report.written, kNothingWritten);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, PairedChannel,
    ::testing::Values(PairedChannelCase{"MovedAsAsked", false, std::nullopt, true},
                      PairedChannelCase{"LeftOnItsOwn", false, 5, false},
                      PairedChannelCase{"LeftOnTheLastChannel", false, 16, false},
                      PairedChannelCase{"NoWordIsZero", false, 0, true},
                      PairedChannelCase{"NoWordIsOutsideTheRadio", false, 17, true},
                      PairedChannelCase{"NoWordIsNegative", false, -1, true},
                      PairedChannelCase{"KeptChannelIsNotChecked", true, 5, true}),
    fw::testing::RowName());

// ---- reading the written values back ---------------------------------------------------

Message verifiedComplete() {
    Message message = completed("RX-LC", "12AB");
    message.text += "\r\nVerified";
    return message;
}

Message notKept(const std::string &parameter, const std::string &written, const std::string &held) {
    return {"The module did not keep the " + parameter + ": " + written +
                " was written, it holds " + held +
                ".\r\nThe module was neither saved nor reset: a power cycle brings back its "
                "saved values.\r\nClick Update to try again.",
            "Verification Failed", MessageIcon::Warning};
}

const Events kWrites{"GetBaseChannel",     "PairModule 1",     "read 51",
                     "write 76 333\\0\\0", "write 78 5\\0\\0", "write 77 0\\0\\0",
                     "write 75 1\\0\\0"};
const Events kReadBack{"read 76", "read 78", "read 77", "read 75"};
const Events kSaveAndReset{"write 55 \\0\\0", "write 54 \\0\\0"};

Events joined(std::initializer_list<Events> parts) {
    Events all;
    for (const Events &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct VerifyCase {
    const char *name;
    bool verify;
    std::function<void(RecordingWindow &, Station &)> arrange;
    Events log;
    Message message;
    bool verified;
};

class Verification : public UpdateReports, public WithParamInterface<VerifyCase> {};

TEST_P(Verification, ReadsEveryWrittenValueBackBeforeTheSave) {
    const VerifyCase &c = GetParam();
    window.form.lowPowerModePosition = 2;
    c.arrange(window, station);
    observed.run({.verifyWrites = c.verify});

    EXPECT_EQ(station.log, c.log);
    expectIdleAfter(c.message);
    ASSERT_EQ(keeper.reports.size(), 1u);
    EXPECT_EQ(keeper.reports[0].verified, c.verified);
}

const auto kAsItIs = [](RecordingWindow &, Station &) {};

INSTANTIATE_TEST_SUITE_P(
    Writes, Verification,
    ::testing::Values(
        VerifyCase{"KeptAsWritten", true, kAsItIs, joined({kWrites, kReadBack, kSaveAndReset}),
                   verifiedComplete(), true},
        VerifyCase{"TheSameNumberWrittenOtherwise", true,
                   [](RecordingWindow &, Station &st) { st.kept[76] = "333.0"; },
                   joined({kWrites, kReadBack, kSaveAndReset}), verifiedComplete(), true},
        VerifyCase{"AClampedValueStopsBeforeTheSave", true,
                   [](RecordingWindow &, Station &st) { st.kept[76] = "100"; },
                   joined({kWrites, {"read 76"}}), notKept("TX Interval", "333", "100"), false},
        VerifyCase{"TheLastParameterIsCheckedToo", true,
                   [](RecordingWindow &, Station &st) { st.kept[75] = "0"; },
                   joined({kWrites, kReadBack}), notKept("Low Power Mode", "1", "0"), false},
        VerifyCase{"AnAnswerThatIsNoNumberIsAFailedRead", true,
                   [](RecordingWindow &, Station &st) { st.kept[78] = "fast"; },
                   joined({kWrites, {"read 76", "read 78"}}), refused("Cannot read Sample Time!"),
                   false},
        VerifyCase{"OnlyTheWrittenAreReadBack",
                   true,
                   [](RecordingWindow &w, Station &) {
                       w.form.sampleTime = w.form.sleepDelay = "";
                       w.form.lowPowerModePosition = 0;
                   },
                   {"GetBaseChannel", "PairModule 1", "read 51", "read 78", "read 77", "read 75",
                    "write 76 333\\0\\0", "read 76", "write 55 \\0\\0", "write 54 \\0\\0"},
                   verifiedComplete(),
                   true},
        VerifyCase{
            "NothingWrittenNothingVerified", true,
            [](RecordingWindow &w, Station &) {
                w.form.txInterval = w.form.sampleTime = w.form.sleepDelay = "";
                w.form.lowPowerModePosition = 0;
            },
            joined({{"GetBaseChannel", "PairModule 1", "read 51"}, kReadBack, kSaveAndReset}),
            completed("RX-LC", "12AB"), false},
        VerifyCase{"TheGeneralTabWritesNothing", true,
                   [](RecordingWindow &w, Station &) { w.form.tab = 0; },
                   joined({{"GetBaseChannel", "PairModule 1", "read 51"}, kSaveAndReset}),
                   completed("RX-LC", "12AB"), false},
        VerifyCase{"OffTrustsTheModule", false,
                   [](RecordingWindow &, Station &st) { st.kept[76] = "100"; },
                   joined({kWrites, kSaveAndReset}), completed("RX-LC", "12AB"), false}),
    fw::testing::RowName());

// ---- Read ------------------------------------------------------------------------------

const Events kWholeRead{"PairModule 1", "read 51", "read 76",        "read 78",
                        "read 77",      "read 75", "write 54 \\0\\0"};

Message settings(const std::string &channel, const std::string &lowPower) {
    return {"Model: RX-LC\r\nID: 12AB\r\nChannel: " + channel +
                "\r\nTX Interval: 500 ms\r\nSample Time: 5 ms\r\nSleep Delay: 10 s\r\nLow Power "
                "Mode: " +
                lowPower,
            "Module Settings", MessageIcon::Information, "Use These Values"};
}

class ReadRun : public UpdateReports {
protected:
    ReadSequence read{dp, window, session, &keeper};
};

struct ReadCase {
    const char *name;
    std::function<void(RecordingWindow &, Station &)> arrange;
    Events log;
    Message message;
};

class ReadEnding : public ReadRun, public WithParamInterface<ReadCase> {};

TEST_P(ReadEnding, PairsWithoutMovingTheModuleAndNeverSaves) {
    const ReadCase &c = GetParam();
    window.form.changeChannel = true; // a Read leaves the module's channel whatever the strategy
    window.form.rfChannelPosition = 6;
    c.arrange(window, station);
    read.run();

    EXPECT_EQ(station.log, c.log);
    expectIdleAfter(c.message);
    ASSERT_EQ(keeper.reports.size(), 1u);
    const UpdateReport &report = keeper.reports[0];
    EXPECT_EQ(report.tab, UpdateTab::Read);
    EXPECT_TRUE(report.channelKept);
    EXPECT_EQ(report.complete, c.message.title == "Module Settings");
    EXPECT_EQ(report.written, kNothingWritten);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ReadEnding,
    ::testing::Values(
        ReadCase{"ShowsTheModulesSettings", kAsItIs, kWholeRead, settings("9", "No")},
        ReadCase{"LowPowerOnInWords",
                 [](RecordingWindow &, Station &st) {
                     st.answers[75] = "2";
                     st.answers[51] = "rx-lc";
                 },
                 kWholeRead, settings("9", "Yes")},
        ReadCase{"NoWordOnTheChannel",
                 [](RecordingWindow &, Station &st) { st.reportedChannel = 0; }, kWholeRead,
                 settings("not reported by the library", "No")},
        ReadCase{"NoModule",
                 [](RecordingWindow &, Station &st) { st.moduleId = 0; },
                 {"PairModule 1"},
                 kNotPaired},
        ReadCase{"AnUnsupportedModel",
                 [](RecordingWindow &, Station &st) { st.answers[51] = "zx-9"; },
                 {"PairModule 1", "read 51"},
                 {"The paired module is a ZX-9 which is not supported by this software!", "Warning",
                  MessageIcon::Warning}},
        ReadCase{"AParameterRefused",
                 [](RecordingWindow &, Station &st) { st.refusedCommand = 78; },
                 {"PairModule 1", "read 51", "read 76", "read 78"},
                 refused("Cannot read Sample Time!")},
        ReadCase{"TheResetRefused", [](RecordingWindow &, Station &st) { st.refusedCommand = 54; },
                 kWholeRead, refused("Cannot Reset!")},
        ReadCase{"TheBaseStationFails",
                 [](RecordingWindow &, Station &st) { st.failAt = 3; },
                 {"PairModule 1", "read 51", "read 76"},
                 kUnplugged}),
    fw::testing::RowName());

TEST_F(ReadRun, ShowsTheSameStepsAsAnUpdateUpToItsEnd) {
    read.run();
    EXPECT_EQ(window.events,
              (Events{"pointer:busy", "status:Waiting...", "status:ID: 12AB", "pause:500",
                      "pointer:default", "message:Module Settings", "status:"}));
    EXPECT_EQ(window.aids, (Events{"pairing:10", "paired"}));
    EXPECT_EQ(session.model, "RX-LC");
    EXPECT_EQ(keeper.reports.at(0).readValues, (StagedParameters{"500", "5", "10", "0"}));
}

struct UseCase {
    const char *name;
    MessageButton answer;
    std::map<uint8_t, std::string> answers;
    std::vector<Entries> entries;
};

class UseTheseValues : public ReadRun, public WithParamInterface<UseCase> {};

TEST_P(UseTheseValues, PutsTheValuesReadIntoTheEntriesOnlyWhenChosen) {
    window.answer = GetParam().answer;
    for (const auto &[command, answer] : GetParam().answers)
        station.answers[command] = answer;
    read.run();
    EXPECT_EQ(window.entriesSet, GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UseTheseValues,
    ::testing::Values(UseCase{"Ok", MessageButton::Ok, {}, {}},
                      UseCase{"Chosen", MessageButton::Second, {}, {{"500", "5", "10", 1}}},
                      UseCase{"InTheProgramsOwnForm",
                              MessageButton::Second,
                              {{76, "0333"}, {78, "5.0"}, {77, "1e1"}, {75, "7"}},
                              {{"333", "5", "10", 2}}},
                      UseCase{"NeverAfterAFailure", MessageButton::Second, {{77, "none"}}, {}}),
    fw::testing::RowName());

TEST_F(ReadRun, AndUpdateExcludeEachOther) {
    window.onProcessEvents = [&] { read.run(); }; // Read clicked while the module saves
    observed.run();
    EXPECT_EQ(station.log, (Events{"GetBaseChannel", "PairModule 1", "read 51", "read 75",
                                   "write 76 333\\0\\0", "write 78 5\\0\\0", "write 77 0\\0\\0",
                                   "write 55 \\0\\0", "write 54 \\0\\0"}));
    EXPECT_EQ(window.messages, Messages{completed("RX-LC", "12AB")});

    // An Update clicked while a Read holds the module, as a second Read would be.
    session.busy = true;
    station.log.clear();
    observed.run();
    read.run();
    EXPECT_TRUE(station.log.empty());
}

} // namespace
} // namespace fw
