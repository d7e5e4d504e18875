#include "app_test_support.h"
#include "data_provider.h"
#include "dataprovider_abi.h"
#include "hosted_provider.h"
#include "library_provider.h"
#include "messages.h"
#include "startup.h"
#include "support/mock_provider.h"
#include "support/named_rows.h"
#include "support/recording_window.h"

#include <ctime>
#include <gtest/gtest.h>

namespace fw::app {
namespace {

using fw::testing::MockProvider;
using fw::testing::PrintTo;
using fw::testing::RecordingWindow;
using ::testing::InSequence;
using ::testing::Invoke;
using testing::MapStore;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrictMock;
using ::testing::Throw;

// The controls start-up fills, as plain fields; calls are logged in order.
struct RecordingTarget : EntryTarget {
    std::vector<std::string> calls;
    QString version;
    Entries entries;
    int channelPosition = -99;

    void setVersionText(const QString &text) override {
        version = text;
        calls.emplace_back("version");
    }
    void applyEntries(const Entries &restored) override {
        entries = restored;
        calls.emplace_back("entries");
    }
    void selectChannelPosition(int position) override {
        channelPosition = position;
        calls.emplace_back("channel");
    }
    void setSimulatedBaseStation(bool isSimulated) override {
        simulated = isSimulated;
        calls.emplace_back("simulated");
    }
    bool simulated = false;
};

// Hands the mock to start-up the way the real factory hands over a loaded library.
ProviderFactory handing(std::unique_ptr<MockProvider> &provider) {
    return [&provider]() -> std::unique_ptr<DataProvider> { return std::move(provider); };
}

class StartUp : public ::testing::Test {
protected:
    std::unique_ptr<MockProvider> provider = std::make_unique<StrictMock<MockProvider>>();
    MockProvider &dp = *provider;
    MapStore store;
    RecordingWindow window;
    RecordingTarget target;

    std::unique_ptr<DataProvider> run() {
        return startUp(handing(provider), store, "fleetwright", target, window);
    }
};

TEST_F(StartUp, ProbesOpensAndSelectsTheBaseChannelAfterRestoringTheEntries) {
    store.values["Direction"] = "True";
    store.values["RFChannel"] = "9";
    store.values["TXInterval"] = "";
    {
        InSequence order;
        EXPECT_CALL(dp, ProbeProvider());
        EXPECT_CALL(dp, OpenConnection(0, 0)).WillOnce(Return(0));
        EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(uint8_t{4}));
    }
    auto opened = run();
    EXPECT_EQ(opened.get(), &dp);
    EXPECT_EQ(target.calls,
              (std::vector<std::string>{"simulated", "version", "entries", "channel"}));
    EXPECT_FALSE(target.simulated);
    EXPECT_EQ(target.version, "v1.1.0");
    EXPECT_TRUE(target.entries.changeChannel);
    EXPECT_EQ(target.entries.txInterval, "");
    EXPECT_EQ(target.channelPosition, 3);
    // Start-up leaves the pointer, the status label and the store alone.
    EXPECT_TRUE(window.events.empty());
    EXPECT_EQ(store.flushes, 0);
}

struct ChannelCase {
    uint8_t channel;
    int position;
};

void PrintTo(const ChannelCase &c, std::ostream *out) {
    *out << "channel " << int(c.channel);
}

class BaseChannel : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(BaseChannel, SelectsItsListPositionOrNothing) {
    EXPECT_EQ(channelPosition(GetParam().channel), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(Channels, BaseChannel,
                         ::testing::Values(ChannelCase{1, 0}, ChannelCase{2, 1},
                                           ChannelCase{16, 15}, ChannelCase{0, -1},
                                           ChannelCase{17, -1}, ChannelCase{255, -1}));

struct StartingChannelCase {
    const char *name;
    EntrySource source;
    const char *direction;
    std::optional<QString> rfChannel; // the stored entry; none: absent
    uint8_t baseChannel;
    int position; // the list position start-up selects
};

class StartingChannel : public StartUp,
                        public ::testing::WithParamInterface<StartingChannelCase> {};

// A profile saved for a job on channel 7 must not forget it after one run on a base station
// left on channel 3, or the next update moves the modules to the wrong channel.
TEST_P(StartingChannel, IsTheBaseStationsUnlessAProfileMovesModulesToItsOwn) {
    const StartingChannelCase &row = GetParam();
    store.values["Direction"] = row.direction;
    if (row.rfChannel)
        store.values["RFChannel"] = *row.rfChannel;
    EXPECT_CALL(dp, ProbeProvider());
    EXPECT_CALL(dp, OpenConnection(0, 0)).WillOnce(Return(0));
    EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(row.baseChannel));
    ASSERT_NE(startUp(handing(provider), store, "fleetwright", target, window, row.source),
              nullptr);
    EXPECT_EQ(target.calls,
              (std::vector<std::string>{"simulated", "version", "entries", "channel"}));
    EXPECT_EQ(target.channelPosition, row.position);
    EXPECT_TRUE(window.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Stores, StartingChannel,
    ::testing::Values(StartingChannelCase{"ProfileMovingModulesKeepsItsChannel",
                                          EntrySource::Profile, "True", QStringLiteral("6"), 3, 6},
                      StartingChannelCase{"ProfileLeavingModulesTakesTheBaseChannel",
                                          EntrySource::Profile, "False", QStringLiteral("6"), 3, 2},
                      StartingChannelCase{"PerUserStoreMovingModulesTakesTheBaseChannel",
                                          EntrySource::PerUserStore, "True", QStringLiteral("6"), 3,
                                          2},
                      StartingChannelCase{"ProfileWithAChannelOffTheListTakesTheBaseChannel",
                                          EntrySource::Profile, "True", QStringLiteral("16"), 3, 2},
                      StartingChannelCase{"ProfileWithNoChannelSelectedTakesTheBaseChannel",
                                          EntrySource::Profile, "True", QStringLiteral("-1"), 3, 2},
                      StartingChannelCase{"ProfileWithoutAChannelTakesTheBaseChannel",
                                          EntrySource::Profile, "True", std::nullopt, 3, 2},
                      // Position 0 is a channel, not the default that an unreadable entry reads as.
                      StartingChannelCase{"ProfileKeepsTheFirstChannel", EntrySource::Profile,
                                          "True", QStringLiteral("0"), 9, 0}),
    fw::testing::RowName());

TEST_F(StartUp, ALibraryThatCannotBeLoadedIsReportedWithWhatToDoAndStopsThere) {
    const ProviderFactory failing = []() -> std::unique_ptr<DataProvider> {
        throw ProviderError(kLoaderCannotLoad, "libzarvik-dataprovider.so.1: cannot open");
    };
    EXPECT_EQ(startUp(failing, store, "fleetwright", target, window), nullptr);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0],
              (Message{"ZarvikDataProviderCOM.DLL possibly not registered!\r\nError: "
                       "libzarvik-dataprovider.so.1: cannot open [Code: 1]\r\nInstall the base "
                       "station maker's library, or start \"fleetwright --simulator\" to work "
                       "with the simulated base station.",
                       "fleetwright", MessageIcon::Critical}));
    EXPECT_TRUE(target.calls.empty());
}

// The simulator says what it is through its probe result, whatever its file is called.
TEST_F(StartUp, TheProbeResultTellsASimulatedBaseStation) {
    EXPECT_CALL(dp, ProbeProvider()).WillOnce(Return(int32_t(ZDP_PROBE_SIMULATED)));
    EXPECT_CALL(dp, OpenConnection(0, 0)).WillOnce(Return(0));
    EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(uint8_t{1}));
    EXPECT_NE(run(), nullptr);
    EXPECT_TRUE(target.simulated);
}

struct CaptionCase {
    const char *name;
    std::optional<QString> profile;
    bool simulated;
    QString caption;
};

class Caption : public ::testing::TestWithParam<CaptionCase> {};

TEST_P(Caption, NamesTheProfileFileAndTheSimulator) {
    EXPECT_EQ(windowCaption(GetParam().profile, GetParam().simulated), GetParam().caption);
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, Caption,
    ::testing::Values(
        CaptionCase{"MakersLibrary", std::nullopt, false, QStringLiteral("Fleetwright")},
        CaptionCase{"Simulator", std::nullopt, true,
                    QStringLiteral("Fleetwright (simulated base station)")},
        CaptionCase{"Profile", QStringLiteral("/home/op/jobs/bridge.conf"), false,
                    QStringLiteral("bridge.conf \u2014 Fleetwright")},
        CaptionCase{"ProfileOnTheSimulator", QStringLiteral("/home/op/jobs/bridge.conf"), true,
                    QStringLiteral("bridge.conf \u2014 Fleetwright (simulated base station)")}),
    fw::testing::RowName());

TEST_F(StartUp, AStoreThatCannotBeReadIsReportedOnceAndTheDefaultsAreUsed) {
    store.unreadableReason = "Permission denied";
    EXPECT_CALL(dp, ProbeProvider());
    EXPECT_CALL(dp, OpenConnection(0, 0)).WillOnce(Return(0));
    EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Return(uint8_t{2}));
    EXPECT_NE(run(), nullptr);
    EXPECT_EQ(window.messages, std::vector<Message>{messages::settingsUnreadable(
                                   "/config/fleetwright.conf", "Permission denied")});
    EXPECT_EQ(window.messages[0].text,
              "The saved entries in /config/fleetwright.conf cannot be read: Permission "
              "denied\r\nThe program starts with the default entries and leaves that file as "
              "it is.");
    EXPECT_EQ(store.flushes, 0);
}

// A library that answers with megabytes must not hold the window up for minutes while a
// message box lays the text out.
TEST_F(StartUp, AHugeCreationFailureTextIsCutBeforeItIsShown) {
    const std::string huge = std::string(size_t{10} * 1024 * 1024, 'e') + "\xff";
    const ProviderFactory failing = [&huge]() -> std::unique_ptr<DataProvider> {
        throw ProviderError(-7, huge);
    };
    EXPECT_EQ(startUp(failing, store, "fleetwright", target, window), nullptr);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0],
              (Message{"ZarvikDataProviderCOM.DLL possibly not registered!\r\nError: " +
                           std::string(999, 'e') + "\u2026 [Code: -7]",
                       "fleetwright", MessageIcon::Critical}));
}

struct CreationFailure {
    const char *name;
    const char *library;
    const char *status; // what the library's zdp_create answers
    Message shown;
};

class CreationFailureAtStartUp : public StartUp,
                                 public ::testing::WithParamInterface<CreationFailure> {};

// A library's status never reads as one of the loader's reasons, whatever its number: only
// a library that could not be loaded gets the advice to install one.
TEST_P(CreationFailureAtStartUp, ShowsTheLibrarysStatusApartFromTheLoadersReasons) {
    ::setenv("FW_TEST_CREATE_STATUS", GetParam().status, 1);
    const ProviderFactory hosted = [] {
        return createHostedProvider(FW_PROVIDER_HOST, GetParam().library);
    };
    EXPECT_EQ(startUp(hosted, store, "fleetwright", target, window), nullptr);
    ::unsetenv("FW_TEST_CREATE_STATUS");
    EXPECT_EQ(window.messages, std::vector<Message>{GetParam().shown});
}

Message libraryStatus(int code) {
    return {"ZarvikDataProviderCOM.DLL possibly not registered!\r\nError: Base station driver "
            "refused [Code: " +
                std::to_string(code) + "]",
            "fleetwright", MessageIcon::Critical};
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, CreationFailureAtStartUp,
    ::testing::Values(
        CreationFailure{"Status1", FW_CREATE_STATUS_PROVIDER, "1", libraryStatus(1)},
        CreationFailure{"Status2", FW_CREATE_STATUS_PROVIDER, "2", libraryStatus(2)},
        CreationFailure{"Status3", FW_CREATE_STATUS_PROVIDER, "3", libraryStatus(3)},
        CreationFailure{"Status4", FW_CREATE_STATUS_PROVIDER, "4", libraryStatus(4)},
        CreationFailure{
            "CannotLoad",
            "/nonexistent/libzarvik-dataprovider.so.1",
            "0",
            {"ZarvikDataProviderCOM.DLL possibly not registered!\r\nError: "
             "/nonexistent/libzarvik-dataprovider.so.1: cannot open shared object file: No such "
             "file or directory [Code: 1]\r\nInstall the base station maker's library, or start "
             "\"fleetwright --simulator\" to work with the simulated base station.",
             "fleetwright", MessageIcon::Critical}}),
    fw::testing::RowName());

TEST_F(StartUp, AMissingLibraryIsReportedWithTheLoadersOwnDescription) {
    const std::string library = "/nonexistent/libnothing-here.so";
    std::string description;
    int32_t code = 0;
    try {
        createDataProvider(library);
    } catch (const ProviderError &error) {
        description = error.description();
        code = error.code();
    }
    ASSERT_FALSE(description.empty());
    EXPECT_EQ(
        startUp([&] { return createDataProvider(library); }, store, "fleetwright", target, window),
        nullptr);
    EXPECT_EQ(window.messages,
              std::vector<Message>{messages::providerNotLoaded("fleetwright", description, code)});
}

TEST_F(StartUp, AProbeFailureIsReportedAndTheBaseStationNeverOpened) {
    EXPECT_CALL(dp, ProbeProvider())
        .WillOnce(Throw(ProviderError(-2147221164, "Class not registered")));
    EXPECT_EQ(run(), nullptr);
    EXPECT_EQ(window.messages, std::vector<Message>{messages::providerNotRegistered(
                                   "fleetwright", "Class not registered", -2147221164)});
    EXPECT_TRUE(target.calls.empty());
}

TEST_F(StartUp, ABaseStationThatWillNotOpenEndsItAfterTheEntriesWereRestored) {
    EXPECT_CALL(dp, ProbeProvider());
    EXPECT_CALL(dp, OpenConnection(0, 0)).WillOnce(Return(-1));
    EXPECT_EQ(run(), nullptr);
    EXPECT_EQ(window.messages, std::vector<Message>{messages::cannotOpenUsb()});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"simulated", "version", "entries"}));
    EXPECT_EQ(store.flushes, 0);
}

TEST_F(StartUp, AnOpenThatFailsOutrightGivesTheSameMessage) {
    EXPECT_CALL(dp, ProbeProvider());
    EXPECT_CALL(dp, OpenConnection(0, 0)).WillOnce(Throw(ProviderError(5, "No device")));
    EXPECT_EQ(run(), nullptr);
    EXPECT_EQ(window.messages, std::vector<Message>{messages::cannotOpenUsb()});
}

TEST_F(StartUp, ABaseStationThatCannotTellItsChannelIsClosedAndReported) {
    EXPECT_CALL(dp, ProbeProvider());
    EXPECT_CALL(dp, OpenConnection(0, 0)).WillOnce(Return(0));
    EXPECT_CALL(dp, GetBaseChannel(1)).WillOnce(Throw(ProviderError(7, "Timeout")));
    EXPECT_CALL(dp, CloseConnection());
    EXPECT_EQ(run(), nullptr);
    EXPECT_EQ(window.messages, std::vector<Message>{messages::communicationFailure("Timeout", 7)});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"simulated", "version", "entries"}));
}

class ShutDown : public ::testing::Test {
protected:
    std::unique_ptr<DataProvider> provider = std::make_unique<StrictMock<MockProvider>>();
    MockProvider &dp = static_cast<MockProvider &>(*provider);
    MapStore store;
    RecordingWindow window;
};

TEST_F(ShutDown, SavesTheEntriesBeforeClosingThenPausesAndReleases) {
    Entries entries;
    entries.changeChannel = true;
    entries.txInterval = "";
    entries.lowPowerModePosition = -1;
    EXPECT_CALL(dp, CloseConnection()).WillOnce(Invoke([&] {
        EXPECT_EQ(store.flushes, 1);
        EXPECT_EQ(store.values["Direction"], "True");
        EXPECT_EQ(store.values["TXInterval"], "");
        EXPECT_EQ(store.values["LowPowerMode"], "-1");
        window.events.emplace_back("close");
    }));
    shutDown(provider, store, entries, window);
    EXPECT_EQ(provider, nullptr);
    EXPECT_EQ(window.events,
              (std::vector<std::string>{"pointer:busy", "close", "pause:1000", "pointer:default"}));
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(ShutDown, GoesThroughWhenTheStoreOrTheBaseStationFails) {
    store.flushSucceeds = false;
    EXPECT_CALL(dp, CloseConnection()).WillOnce(Throw(ProviderError(3, "Device removed")));
    shutDown(provider, store, Entries{}, window);
    EXPECT_EQ(provider, nullptr);
    // The operator hears of the lost entries once, after the busy pointer is gone.
    EXPECT_EQ(window.events, (std::vector<std::string>{"pointer:busy", "pause:1000",
                                                       "pointer:default", "message:Warning"}));
    EXPECT_EQ(window.messages, std::vector<Message>{messages::entriesNotSaved(
                                   "/config/fleetwright.conf", "the disk is full")});
}

} // namespace
} // namespace fw::app
