#include "simulator_harness.h"
#include "support/named_rows.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fw::testing {
namespace {

using fw::testing::PrintTo;

using namespace std::string_literals;

constexpr uint8_t kModel = 51, kReset = 54, kSave = 55, kLowPower = 75, kTx = 76, kSleep = 77,
                  kSample = 78;

// ---- settings ----------------------------------------------------------------------

struct BadSetting {
    const char *name;
    const char *variable;
    const char *value;
    const char *error;
};

class MalformedSetting : public ::testing::TestWithParam<BadSetting> {
protected:
    SimEnvironment env;
};

TEST_P(MalformedSetting, FailsCreationNamingTheBadPart) {
    env.set(GetParam().variable, GetParam().value);
    zdp_provider *dp = reinterpret_cast<zdp_provider *>(0x1);
    EXPECT_EQ(zdp_create(&dp), FWSIM_ERR_BAD_SETTING);
    EXPECT_EQ(dp, reinterpret_cast<zdp_provider *>(0x1));
    EXPECT_STREQ(zdp_error_text(nullptr), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, MalformedSetting,
    ::testing::Values(
        BadSetting{"TooFewFields", "FLEETWRIGHT_SIM_FLEET", "12AB:GHMTX",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"12AB:GHMTX\": expected ID:MODEL:CHANNEL or "
                   "ID:MODEL:CHANNEL:TX:SAMPLE:SLEEP:LOWPOWER, found 2 fields"},
        BadSetting{"FiveFields", "FLEETWRIGHT_SIM_FLEET", "12AB:GHMTX:3:1000:10",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"12AB:GHMTX:3:1000:10\": expected "
                   "ID:MODEL:CHANNEL or ID:MODEL:CHANNEL:TX:SAMPLE:SLEEP:LOWPOWER, found 5 "
                   "fields"},
        BadSetting{"IdNotHex", "FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:3;XYZ:GHMTX:5",
                   "FLEETWRIGHT_SIM_FLEET: module 2 \"XYZ:GHMTX:5\": ID \"XYZ\" is not a "
                   "non-zero hexadecimal number of up to 8 digits"},
        BadSetting{"IdZero", "FLEETWRIGHT_SIM_FLEET", "0:RX-LC:3",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"0:RX-LC:3\": ID \"0\" is not a non-zero "
                   "hexadecimal number of up to 8 digits"},
        BadSetting{"IdTooLong", "FLEETWRIGHT_SIM_FLEET", "123456789:RX-LC:3",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"123456789:RX-LC:3\": ID \"123456789\" is "
                   "not a non-zero hexadecimal number of up to 8 digits"},
        BadSetting{"DuplicateId", "FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:3;1a:GHMTX:4",
                   "FLEETWRIGHT_SIM_FLEET: module 2 \"1a:GHMTX:4\": ID \"1a\" is already used "
                   "by another module"},
        BadSetting{"EmptyModel", "FLEETWRIGHT_SIM_FLEET", "1A::3",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"1A::3\": model \"\" is not 1 to 4096 "
                   "printable characters"},
        BadSetting{"ChannelAbove16", "FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:17",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"1A:RX-LC:17\": radio channel \"17\" is "
                   "not a number from 1 to 16"},
        BadSetting{"ChannelZero", "FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:0",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"1A:RX-LC:0\": radio channel \"0\" is not "
                   "a number from 1 to 16"},
        BadSetting{"EmptyModule", "FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:3;;2B:GHMTX:4",
                   "FLEETWRIGHT_SIM_FLEET: module 2 is empty (two ';' in a row, or one at an "
                   "end)"},
        BadSetting{"TrailingSemicolon", "FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:3;",
                   "FLEETWRIGHT_SIM_FLEET: module 2 is empty (two ';' in a row, or one at an "
                   "end)"},
        BadSetting{"BlankInParameter", "FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:3:1000:10:6 0:0",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"1A:RX-LC:3:1000:10:6 0:0\": sleep delay "
                   "\"6 0\" is not 1 to 32 printable characters without blanks"},
        BadSetting{"EmptyParameter", "FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:3:1000:10:60:",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"1A:RX-LC:3:1000:10:60:\": low power mode "
                   "\"\" is not 1 to 32 printable characters without blanks"},
        BadSetting{"BaseChannel17", "FLEETWRIGHT_SIM_CHANNEL", "17",
                   "FLEETWRIGHT_SIM_CHANNEL: \"17\" is not a number from 1 to 16"},
        BadSetting{"BaseChannelSigned", "FLEETWRIGHT_SIM_CHANNEL", "+3",
                   "FLEETWRIGHT_SIM_CHANNEL: \"+3\" is not a number from 1 to 16"},
        BadSetting{"WakeNotNumber", "FLEETWRIGHT_SIM_WAKE_MS", "fast",
                   "FLEETWRIGHT_SIM_WAKE_MS: \"fast\" is not a number of milliseconds from 0 "
                   "to 600000"},
        BadSetting{"WakeTooLong", "FLEETWRIGHT_SIM_WAKE_MS", "600001",
                   "FLEETWRIGHT_SIM_WAKE_MS: \"600001\" is not a number of milliseconds from 0 "
                   "to 600000"},
        BadSetting{"UnknownFault", "FLEETWRIGHT_SIM_FAULTS", "open, bogus",
                   "FLEETWRIGHT_SIM_FAULTS: fault \"bogus\": unknown fault"},
        BadSetting{"UnknownCodedFault", "FLEETWRIGHT_SIM_FAULTS", "reed:76",
                   "FLEETWRIGHT_SIM_FAULTS: fault \"reed:76\": unknown fault \"reed\" (read, "
                   "read-status, write, write-status or clamp take a code)"},
        BadSetting{"MissingCode", "FLEETWRIGHT_SIM_FAULTS", "read:",
                   "FLEETWRIGHT_SIM_FAULTS: fault \"read:\": command code \"\" is not a number "
                   "from 0 to 255"},
        BadSetting{"CodeAbove255", "FLEETWRIGHT_SIM_FAULTS", "write-status:256",
                   "FLEETWRIGHT_SIM_FAULTS: fault \"write-status:256\": command code \"256\" is "
                   "not a number from 0 to 255"},
        BadSetting{"ControlByteInModel", "FLEETWRIGHT_SIM_FLEET", "1A:RX\x01LC:3",
                   "FLEETWRIGHT_SIM_FLEET: module 1 \"1A:RX\\x01LC:3\": model \"RX\\x01LC\" is "
                   "not 1 to 4096 printable characters"},
        BadSetting{"EmptyFault", "FLEETWRIGHT_SIM_FAULTS", "open,,probe",
                   "FLEETWRIGHT_SIM_FAULTS: empty fault (two ',' in a row, or one at an end)"}),
    fw::testing::RowName());

TEST_F(SimulatorTest, DefaultFleetHoldsEverySupportedModelAndOthers) {
    create();
    std::set<std::string> models;
    for (int i = 0; i < fwsim_module_count(); ++i)
        models.insert(moduleValue(fwsim_module_id(i), kModel, false));
    for (const char *model :
         {"RX-LC", "GHMTX", "GH-K410", "GH-K520", "RX-VM", "RX,IM", "RX-RM", "RX-TM", "rx-lc"})
        EXPECT_TRUE(models.contains(model)) << model;
    EXPECT_TRUE(models.contains("RX-IM") || models.contains("ZX-9"));
}

TEST_F(SimulatorTest, FleetSettingGivesIdsModelsChannelsAndParameters) {
    env.set("FLEETWRIGHT_SIM_FLEET", "0x1A2B3C:RX,IM:3;12ab:GHMTX:5:333:5:0:1");
    env.set("FLEETWRIGHT_SIM_CHANNEL", "16");
    createAndOpen();
    EXPECT_EQ(baseChannel(), 16);
    ASSERT_EQ(pair(), 0x1A2B3Cu);
    EXPECT_EQ(readText(0x1A2B3C, kModel), "RX,IM");
    EXPECT_EQ(fwsim_module_channel(0x1A2B3C), 3);
    EXPECT_EQ(readText(0x1A2B3C, kTx), "1000");
    EXPECT_EQ(readText(0x1A2B3C, kSample), "10");
    EXPECT_EQ(readText(0x1A2B3C, kSleep), "60");
    EXPECT_EQ(readText(0x1A2B3C, kLowPower), "0");
    ASSERT_EQ(pair(), 0x12ABu);
    EXPECT_EQ(readText(0x12AB, kTx), "333");
    EXPECT_EQ(readText(0x12AB, kSample), "5");
    EXPECT_EQ(readText(0x12AB, kSleep), "0");
    EXPECT_EQ(readText(0x12AB, kLowPower), "1");
}

// The base station keeps its channel from one run to the next, as the hardware does; the
// setting wins, and a kept file that holds no channel (or is no file) counts as none.
struct KeptChannel {
    const char *name;
    const char *setInTheEarlierRun; // empty: the kept file is written by hand
    const char *keptFile;           // nullptr: a named pipe in its place
    const char *setting;            // FLEETWRIGHT_SIM_CHANNEL at the next start; empty: unset
    uint8_t expected;
};

class ChannelBetweenRuns : public SimulatorTest,
                           public ::testing::WithParamInterface<KeptChannel> {};

TEST_P(ChannelBetweenRuns, StartsTheNextRunOnTheKeptChannel) {
    const KeptChannel &row = GetParam();
    if (*row.setInTheEarlierRun != '\0') {
        ASSERT_NO_FATAL_FAILURE(createAndOpen());
        ASSERT_EQ(zdp_set_base_channel(dp, 1, uint8_t(std::stoi(row.setInTheEarlierRun))), 0);
        zdp_destroy(dp);
        dp = nullptr;
    } else if (row.keptFile == nullptr) {
        ASSERT_EQ(::mkfifo(env.channelPath().c_str(), 0600), 0);
    } else {
        std::ofstream(env.channelPath()) << row.keptFile;
    }
    if (*row.setting != '\0')
        env.set("FLEETWRIGHT_SIM_CHANNEL", row.setting);
    ASSERT_NO_FATAL_FAILURE(createAndOpen());
    EXPECT_EQ(baseChannel(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Simulator, ChannelBetweenRuns,
                         ::testing::Values(KeptChannel{"SetInTheEarlierRun", "7", "", "", 7},
                                           KeptChannel{"SettingWins", "7", "", "3", 3},
                                           KeptChannel{"ChannelOutOfRange", "", "17\n", "", 1},
                                           KeptChannel{"NotANumber", "", "seven", "", 1},
                                           KeptChannel{"NamedPipeInItsPlace", "", nullptr, "", 1}),
                         RowName());

// ---- module memory -----------------------------------------------------------------

TEST_F(SimulatorTest, SaveKeepsWritesAndResetDropsUnsavedOnes) {
    env.set("FLEETWRIGHT_SIM_FLEET", "12AB:GHMTX:5");
    createAndOpen();
    const uint32_t id = pair();

    ASSERT_EQ(write(id, kTx, "333"), 0);
    EXPECT_EQ(readText(id, kTx), "333");
    EXPECT_EQ(moduleValue(id, kTx, true), "1000");
    ASSERT_EQ(write(id, kReset, ""), 0);
    EXPECT_EQ(readText(id, kTx), "1000");

    ASSERT_EQ(write(id, kTx, "333"), 0);
    ASSERT_EQ(write(id, kSave, ""), 0);
    EXPECT_EQ(moduleValue(id, kTx, true), "333");
    ASSERT_EQ(write(id, kTx, "444"), 0);
    ASSERT_EQ(write(id, kReset, ""), 0);
    EXPECT_EQ(readText(id, kTx), "333");
    EXPECT_EQ(moduleValue(id, kTx, false), "333");
}

TEST_F(SimulatorTest, PowerCycleForPairingDropsUnsavedWrites) {
    env.set("FLEETWRIGHT_SIM_FLEET", "12AB:GHMTX:5");
    createAndOpen();
    const uint32_t id = pair();
    ASSERT_EQ(write(id, kSample, "20"), 0);
    ASSERT_EQ(write(id, kSleep, "5"), 0);
    ASSERT_EQ(write(id, kSave, ""), 0);
    ASSERT_EQ(write(id, kSample, "30"), 0);
    ASSERT_EQ(pair(), id);
    EXPECT_EQ(readText(id, kSample), "20");
    EXPECT_EQ(readText(id, kSleep), "5");
}

TEST_F(SimulatorTest, ModelAnswerIsTheTextThenNulThenPadding) {
    env.set("FLEETWRIGHT_SIM_FLEET", "12AB:rx-lc:5");
    createAndOpen();
    const Answer answer = read(pair(), kModel);
    ASSERT_EQ(answer.flag, 0);
    ASSERT_GT(answer.bytes.size(), 6u);
    EXPECT_EQ(answer.bytes.substr(0, 6), "rx-lc\0"s);
}

struct BadWrite {
    const char *name;
    uint8_t command;
    std::string payload;
};

class MalformedWrite : public SimulatorTest, public ::testing::WithParamInterface<BadWrite> {};

TEST_P(MalformedWrite, GetsAFailureFlagAndChangesNothing) {
    env.set("FLEETWRIGHT_SIM_FLEET", "12AB:GHMTX:5");
    createAndOpen();
    const uint32_t id = pair();
    ASSERT_EQ(write(id, kSample, "20"), 0); // unsaved, so a stray save or reset shows

    EXPECT_EQ(writeRaw(id, GetParam().command, GetParam().payload), 1);
    EXPECT_EQ(moduleValue(id, kTx, false), "1000");
    EXPECT_EQ(moduleValue(id, kSample, false), "20");
    EXPECT_EQ(moduleValue(id, kSample, true), "10");
    EXPECT_EQ(moduleValue(id, kModel, false), "GHMTX");
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, MalformedWrite,
    ::testing::Values(
        BadWrite{"NoNul", kTx, "333"}, BadWrite{"OneNul", kTx, "333\0"s},
        BadWrite{"Empty", kTx, ""}, BadWrite{"LoneNul", kTx, "\0"s},
        BadWrite{"NulInsideValue", kTx, "3\0003\0\0"s}, BadWrite{"EmptyValue", kTx, "\0\0"s},
        BadWrite{"BlankInValue", kTx, "3 3\0\0"s},
        BadWrite{"ValueTooLong", kTx, std::string(33, '1') + "\0\0"s},
        BadWrite{"SaveWithValue", kSave, "1\0\0"s}, BadWrite{"ResetWithValue", kReset, "1\0\0"s},
        BadWrite{"ModelIsReadOnly", kModel, "RX-LC\0\0"s}, BadWrite{"UnknownCode", 99, "\0\0"s}),
    fw::testing::RowName());

TEST_F(SimulatorTest, OnlyThePairedModuleAnswersKnownCodes) {
    env.set("FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:1;2B:GHMTX:1");
    createAndOpen();
    EXPECT_EQ(read(0x1A, kTx).flag, 1) << "nothing paired yet";
    EXPECT_EQ(write(0x1A, kTx, "333"), 1);
    ASSERT_EQ(pair(), 0x1Au);
    EXPECT_EQ(read(0x2B, kTx).flag, 1);
    EXPECT_EQ(write(0x2B, kTx, "333"), 1);
    EXPECT_EQ(read(0, kTx).flag, 1);
    EXPECT_EQ(read(0x77, kTx).flag, 1);
    for (const uint8_t command : {uint8_t{0}, kSave, kReset, uint8_t{99}, uint8_t{255}}) {
        const Answer answer = read(0x1A, command);
        EXPECT_EQ(answer.flag, 1) << int(command);
        EXPECT_TRUE(answer.bytes.empty());
    }
    EXPECT_EQ(moduleValue(0x2B, kTx, false), "1000");
}

// ---- pairing and channels ----------------------------------------------------------

TEST_F(SimulatorTest, EachPairingWakesTheNextModuleInTurn) {
    env.set("FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:1;2B:GHMTX:1;3C:RX-VM:1");
    createAndOpen();
    EXPECT_EQ(pair(), 0x1Au);
    EXPECT_EQ(pair(), 0x2Bu);
    EXPECT_EQ(pair(), 0x3Cu);
    EXPECT_EQ(pair(), 0x1Au);
    EXPECT_EQ(fwsim_paired_module(), 0x1Au);
}

struct ChannelModeCase {
    const char *name;
    int32_t mode;
    int moduleChannelAfter;
};

class ChannelMode : public SimulatorTest, public ::testing::WithParamInterface<ChannelModeCase> {};

TEST_P(ChannelMode, PairsAndMovesTheModuleOnlyInMode0) {
    env.set("FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:9");
    env.set("FLEETWRIGHT_SIM_CHANNEL", "3");
    createAndOpen();
    uint32_t id = 0;
    int32_t extra = 0;
    int32_t result = 0;
    ASSERT_EQ(zdp_pair_module(dp, 1, GetParam().mode, 10, &id, &extra, &result), 0);
    EXPECT_EQ(id, 0x1Au);
    EXPECT_EQ(fwsim_module_channel(0x1A), GetParam().moduleChannelAfter);
    EXPECT_EQ(baseChannel(), 3);
    EXPECT_EQ(readText(id, kModel), "RX-LC");
}

INSTANTIATE_TEST_SUITE_P(Modes, ChannelMode,
                         ::testing::Values(ChannelModeCase{"MoveToBase", 0, 3},
                                           ChannelModeCase{"LeaveAsIs", 1, 9}),
                         fw::testing::RowName());

TEST_F(SimulatorTest, PairingRefusesAnUnknownChannelMode) {
    createAndOpen();
    uint32_t id = 7;
    int32_t extra = 0;
    int32_t result = 0;
    EXPECT_EQ(zdp_pair_module(dp, 1, 2, 10, &id, &extra, &result), FWSIM_ERR_BAD_ARGUMENT);
    EXPECT_STREQ(zdp_error_text(dp), "zdp_pair_module takes channel mode 0 or 1");
    EXPECT_EQ(id, 7u);
}

TEST_F(SimulatorTest, ModuleWakingAfterTheWindowIsMissed) {
    env.set("FLEETWRIGHT_SIM_WAKE_MS", "2500");
    env.set("FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:1");
    createAndOpen();
    uint32_t id = 0x1A;
    int32_t extra = 0;
    int32_t result = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(zdp_pair_module(dp, 1, 1, 1, &id, &extra, &result), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1000)) << "the whole window passes";
    EXPECT_LT(waited, std::chrono::milliseconds(2000)) << "not until the module would wake";
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(fwsim_paired_module(), 0u);

    ASSERT_EQ(zdp_pair_module(dp, 1, 1, 3, &id, &extra, &result), 0);
    EXPECT_EQ(id, 0x1Au) << "the module still wakes in a longer window";

    id = 0x1A;
    ASSERT_EQ(zdp_pair_module(dp, 1, 1, 0, &id, &extra, &result), 0);
    EXPECT_EQ(id, 0u) << "no module wakes in an empty window";
}

TEST_F(SimulatorTest, BaseChannelTakesOnly1To16) {
    env.set("FLEETWRIGHT_SIM_CHANNEL", "4");
    createAndOpen();
    const std::pair<int, int> steps[] = {{16, 16}, {0, 16}, {17, 16}, {255, 16}, {1, 1}, {9, 9}};
    for (const auto &[asked, expected] : steps) {
        EXPECT_EQ(zdp_set_base_channel(dp, 1, static_cast<uint8_t>(asked)), 0);
        EXPECT_EQ(baseChannel(), expected) << "after asking for " << asked;
    }
}

TEST_F(SimulatorTest, CallsNeedAnOpenBaseStation) {
    create();
    uint8_t channel = 0;
    EXPECT_EQ(zdp_get_base_channel(dp, 1, &channel), FWSIM_ERR_NOT_OPEN);
    EXPECT_STREQ(zdp_error_text(dp), "The base station is not open");
    int16_t flag = 0;
    ASSERT_EQ(zdp_open_connection(dp, 0, 0, &flag), 0);
    ASSERT_EQ(zdp_close_connection(dp), 0);
    EXPECT_EQ(zdp_set_base_channel(dp, 1, 3), FWSIM_ERR_NOT_OPEN);
    EXPECT_EQ(zdp_close_connection(dp), 0) << "closing a closed station does nothing";
}

// ---- exclusive open ----------------------------------------------------------------

// Opens the simulator in a child process; returns its failure flag, or -1.
int openInAnotherProcess() {
    const pid_t child = fork();
    if (child == 0) {
        zdp_provider *other = nullptr;
        int16_t flag = -1;
        if (zdp_create(&other) != 0 || zdp_open_connection(other, 0, 0, &flag) != 0)
            _exit(100);
        zdp_destroy(other);
        _exit(flag);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status) == 100 ? -1 : WEXITSTATUS(status);
}

TEST_F(SimulatorTest, SecondProcessCannotOpenUntilTheFirstLetsGo) {
    createAndOpen();
    EXPECT_EQ(openInAnotherProcess(), 1);
    ASSERT_EQ(zdp_close_connection(dp), 0);
    EXPECT_EQ(openInAnotherProcess(), 0);

    int16_t flag = -1;
    ASSERT_EQ(zdp_open_connection(dp, 0, 0, &flag), 0);
    ASSERT_EQ(flag, 0);
    EXPECT_EQ(openInAnotherProcess(), 1);
    zdp_destroy(dp);
    dp = nullptr;
    EXPECT_EQ(openInAnotherProcess(), 0) << "destroying closes";
}

TEST_F(SimulatorTest, OpeningTwiceInOneProviderKeepsItOpen) {
    createAndOpen();
    int16_t flag = -1;
    ASSERT_EQ(zdp_open_connection(dp, 0, 0, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(openInAnotherProcess(), 1);
}

// ---- injected faults ---------------------------------------------------------------

enum class Step { Probe, Open, Close, GetChannel, SetChannel, Pair, Read, Write };

struct FaultCase {
    const char *name;
    const char *faults;
    Step step;
    uint8_t command; // for Read and Write
    int32_t status;
    const char *text; // zdp_error_text after a failing status
    int16_t flag;     // failure flag when the status is 0
};

class InjectedFault : public SimulatorTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    // Runs the call the case is about; returns its status and sets flag.
    int32_t run(const FaultCase &c, int16_t &flag) {
        flag = 0;
        switch (c.step) {
        case Step::Probe: {
            int32_t result = 0;
            return zdp_probe_provider(dp, &result);
        }
        case Step::Open:
            return zdp_open_connection(dp, 0, 0, &flag);
        case Step::Close:
            return zdp_close_connection(dp);
        case Step::GetChannel: {
            uint8_t channel = 0;
            return zdp_get_base_channel(dp, 1, &channel);
        }
        case Step::SetChannel: {
            const int32_t status = zdp_set_base_channel(dp, 1, 9);
            flag = status == 0 && fwsim_base_channel() != 9 ? 1 : 0;
            return status;
        }
        case Step::Pair: {
            uint32_t id = 0x1A;
            int32_t extra = 0;
            int32_t result = 0;
            const int32_t status = zdp_pair_module(dp, 1, 1, 10, &id, &extra, &result);
            flag = id == 0 ? 1 : 0;
            return status;
        }
        case Step::Read: {
            char value[ZDP_MIN_READ_CAPACITY];
            size_t length = 0;
            return zdp_read_module_command(dp, 1, 0x1A, c.command, value, sizeof value, &length,
                                           &flag);
        }
        case Step::Write: {
            const std::string payload = c.command == kTx ? "333\0\0"s : "\0\0"s;
            return zdp_write_module_command(dp, 1, 0x1A, c.command, payload.data(), payload.size(),
                                            &flag);
        }
        }
        return 0;
    }
};

TEST_P(InjectedFault, FailsExactlyItsCall) {
    const FaultCase &c = GetParam();
    env.set("FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:1;2B:GHMTX:1");
    env.set("FLEETWRIGHT_SIM_FAULTS", c.faults);
    ASSERT_NO_FATAL_FAILURE(create());
    if (c.step != Step::Probe && c.step != Step::Open) {
        int16_t open = -1;
        ASSERT_EQ(zdp_open_connection(dp, 0, 0, &open), 0);
        ASSERT_EQ(open, 0);
    }
    if (c.step == Step::Read || c.step == Step::Write) {
        ASSERT_EQ(pair(), 0x1Au);
    }

    int16_t flag = 0;
    const int32_t status = run(c, flag);
    EXPECT_EQ(status, c.status);
    if (status != 0) {
        EXPECT_STREQ(zdp_error_text(dp), c.text);
    } else {
        EXPECT_EQ(flag, c.flag);
    }

    // The same call without the fault passes: a second provider with no faults.
    zdp_destroy(dp);
    dp = nullptr;
    env.set("FLEETWRIGHT_SIM_FAULTS", ""); // empty counts as unset
    ASSERT_NO_FATAL_FAILURE(create());
    if (c.step != Step::Probe && c.step != Step::Open) {
        int16_t open = -1;
        ASSERT_EQ(zdp_open_connection(dp, 0, 0, &open), 0);
    }
    if (c.step == Step::Read || c.step == Step::Write) {
        ASSERT_EQ(pair(), 0x1Au);
    }
    EXPECT_EQ(run(c, flag), 0);
    EXPECT_EQ(flag, 0);
}

constexpr int32_t kInjected = FWSIM_ERR_INJECTED;

INSTANTIATE_TEST_SUITE_P(
    Faults, InjectedFault,
    ::testing::Values(
        FaultCase{"Probe", "probe", Step::Probe, 0, kInjected,
                  "Injected fault: zdp_probe_provider fails", 0},
        FaultCase{"OpenByFlag", "open", Step::Open, 0, 0, "", 1},
        FaultCase{"OpenByStatus", "open-status", Step::Open, 0, kInjected,
                  "Injected fault: zdp_open_connection fails", 0},
        FaultCase{"Close", "close-status", Step::Close, 0, kInjected,
                  "Injected fault: zdp_close_connection fails", 0},
        FaultCase{"GetChannel", "get-channel-status", Step::GetChannel, 0, kInjected,
                  "Injected fault: zdp_get_base_channel fails", 0},
        FaultCase{"SetChannel", "set-channel-status", Step::SetChannel, 0, kInjected,
                  "Injected fault: zdp_set_base_channel fails", 0},
        FaultCase{"RefuseChannel", "refuse-channel", Step::SetChannel, 0, 0, "", 1},
        FaultCase{"NoModuleWakes", "nopair", Step::Pair, 0, 0, "", 1},
        FaultCase{"PairByStatus", "pair-status", Step::Pair, 0, kInjected,
                  "Injected fault: zdp_pair_module fails", 0},
        FaultCase{"ReadByFlag", "read:76", Step::Read, kTx, 0, "", 1},
        FaultCase{"ReadModelByFlag", "read:51", Step::Read, kModel, 0, "", 1},
        FaultCase{"ReadByStatus", "read-status:51", Step::Read, kModel, kInjected,
                  "Injected fault: zdp_read_module_command fails for command code 51", 0},
        FaultCase{"WriteByFlag", "write:55", Step::Write, kSave, 0, "", 1},
        FaultCase{"WriteByStatus", "write-status:54", Step::Write, kReset, kInjected,
                  "Injected fault: zdp_write_module_command fails for command code 54", 0},
        FaultCase{"WriteTxByStatus", "write:55, write-status:76", Step::Write, kTx, kInjected,
                  "Injected fault: zdp_write_module_command fails for command code 76", 0}),
    fw::testing::RowName());

TEST_F(SimulatorTest, CodeFaultsLeaveOtherCodesAlone) {
    env.set("FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:1");
    env.set("FLEETWRIGHT_SIM_FAULTS", "read:76,write-status:55");
    createAndOpen();
    const uint32_t id = pair();
    EXPECT_EQ(read(id, kTx).flag, 1);
    EXPECT_EQ(readText(id, kSample), "10");
    EXPECT_EQ(write(id, kTx, "333"), 0);
    EXPECT_EQ(write(id, kReset, ""), 0);
}

// A module that does not become what the host asked for, while every call succeeds.
struct MisbehaviourCase {
    const char *name;
    std::string faults;
    int32_t channelMode;
    std::string written; // to the TX interval, after the pairing
    int channelAfter;    // the module's, which *extra reports as well
    std::string held;    // the TX interval the module keeps
};

class Misbehaviour : public SimulatorTest,
                     public ::testing::WithParamInterface<MisbehaviourCase> {};

TEST_P(Misbehaviour, TakesEveryCallButKeepsItsOwn) {
    const MisbehaviourCase &c = GetParam();
    env.set("FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:3");
    env.set("FLEETWRIGHT_SIM_CHANNEL", "7");
    env.set("FLEETWRIGHT_SIM_FAULTS", c.faults);
    createAndOpen();
    uint32_t id = 0;
    int32_t extra = 0;
    int32_t result = 0;
    ASSERT_EQ(zdp_pair_module(dp, 1, c.channelMode, 10, &id, &extra, &result), 0);
    EXPECT_EQ(extra, c.channelAfter);
    EXPECT_EQ(fwsim_module_channel(id), c.channelAfter);
    EXPECT_EQ(write(id, kTx, c.written), 0);
    EXPECT_EQ(readText(id, kTx), c.held);
    EXPECT_EQ(write(id, kSample, "500"), 0);
    EXPECT_EQ(readText(id, kSample), "500") << "other codes are kept as written";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Misbehaviour,
    ::testing::Values(MisbehaviourCase{"None", "", 0, "333", 7, "333"},
                      MisbehaviourCase{"IgnoresChannelModeZero", "ignore-channel", 0, "333", 3,
                                       "333"},
                      MisbehaviourCase{"ClampsALargerNumber", "clamp:76", 1, "333", 3, "100"},
                      MisbehaviourCase{"KeepsASmallerNumber", "clamp:76", 1, "99.5", 3, "99.5"},
                      MisbehaviourCase{"KeepsWhatIsNoNumber", "clamp:76", 1, "x", 3, "x"}),
    fw::testing::RowName());

TEST(SimulatorCreate, InjectedCreationFailureLeavesNoProvider) {
    SimEnvironment env;
    env.set("FLEETWRIGHT_SIM_FAULTS", "create");
    zdp_provider *dp = nullptr;
    EXPECT_EQ(zdp_create(&dp), FWSIM_ERR_INJECTED);
    EXPECT_EQ(dp, nullptr);
    EXPECT_STREQ(zdp_error_text(nullptr), "Injected fault: zdp_create fails");
}

// ---- state file --------------------------------------------------------------------

std::map<std::string, std::string> readState(const std::string &path) {
    std::map<std::string, std::string> state;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const size_t equals = line.find('=');
        state[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return state;
}

TEST_F(SimulatorTest, StateFileFollowsEveryChange) {
    const std::string path = ::testing::TempDir() + "fwsim-state-" + std::to_string(getpid());
    env.set("FLEETWRIGHT_SIM_STATE", path);
    env.set("FLEETWRIGHT_SIM_FLEET", "12AB:RX,IM:5");
    env.set("FLEETWRIGHT_SIM_CHANNEL", "2");
    create();
    auto state = readState(path);
    EXPECT_EQ(state["base_channel"], "2");
    EXPECT_EQ(state["open"], "0");
    EXPECT_EQ(state["module.12AB.model"], "RX,IM");
    EXPECT_EQ(state["module.12AB.channel"], "5");

    int16_t flag = -1;
    ASSERT_EQ(zdp_open_connection(dp, 0, 0, &flag), 0);
    ASSERT_EQ(zdp_set_base_channel(dp, 1, 7), 0);
    const uint32_t id = pair(0);
    ASSERT_EQ(write(id, kTx, "333"), 0);
    state = readState(path);
    EXPECT_EQ(state["open"], "1");
    EXPECT_EQ(state["base_channel"], "7");
    EXPECT_EQ(state["paired"], "12AB");
    EXPECT_EQ(state["module.12AB.channel"], "7");
    EXPECT_EQ(state["module.12AB.working.76"], "333");
    EXPECT_EQ(state["module.12AB.saved.76"], "1000");

    ASSERT_EQ(write(id, kSave, ""), 0);
    EXPECT_EQ(readState(path)["module.12AB.saved.76"], "333");
    std::remove(path.c_str());
}

TEST_F(SimulatorTest, UnwritableStateFileFailsCreation) {
    env.set("FLEETWRIGHT_SIM_STATE", "/nonexistent-dir/state");
    zdp_provider *other = nullptr;
    EXPECT_EQ(zdp_create(&other), FWSIM_ERR_SYSTEM);
    EXPECT_STREQ(zdp_error_text(nullptr),
                 "Cannot write the state file /nonexistent-dir/state: No such file or directory");
}

// A link to the state file stays a link: the file it leads to, or will lead to once the
// simulator has made it, gets the state.
TEST_F(SimulatorTest, StateFileThroughALinkKeepsTheLink) {
    for (const bool targetExists : {true, false}) {
        SCOPED_TRACE(targetExists ? "link to a file" : "link to nothing yet");
        char folder[] = "/tmp/fwsim-link-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        const std::string link = std::string(folder) + "/state";
        const std::string target = std::string(folder) + "/kept/state.txt";
        ASSERT_EQ(mkdir((std::string(folder) + "/kept").c_str(), 0700), 0);
        if (targetExists)
            std::ofstream(target) << "old\n";
        ASSERT_EQ(symlink("kept/state.txt", link.c_str()), 0);
        env.set("FLEETWRIGHT_SIM_STATE", link);
        env.set("FLEETWRIGHT_SIM_CHANNEL", "4");
        zdp_provider *other = nullptr;
        ASSERT_EQ(zdp_create(&other), 0) << zdp_error_text(nullptr);
        zdp_destroy(other);
        struct stat status {};
        ASSERT_EQ(lstat(link.c_str(), &status), 0);
        EXPECT_TRUE(S_ISLNK(status.st_mode));
        EXPECT_EQ(readState(target)["base_channel"], "4");
        std::filesystem::remove_all(folder);
    }
}

// ---- paths the simulator must not use ----------------------------------------------

enum class Layout { Pipe, Folder, MissingFolder, LinkToNothing, LinkToDevice, LinkIntoNoFolder };

struct BadPath {
    const char *name;
    const char *variable;
    Layout layout;
    const char *reason;
};

void PrintTo(const BadPath &c, std::ostream *os) {
    *os << c.name;
}

class UnusablePath : public ::testing::TestWithParam<BadPath> {
protected:
    SimEnvironment env;
};

// Creation fails naming the path and why, and leaves what the path names as it was. A
// device is reached through a link, so that a regression on a machine that runs the tests
// as root replaces the link and not /dev/null.
TEST_P(UnusablePath, FailsCreationNamingThePathAndLeavesItAlone) {
    const BadPath &row = GetParam();
    char folder[] = "/tmp/fwsim-paths-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path =
        std::string(folder) + (row.layout == Layout::MissingFolder ? "/missing/x" : "/x");
    switch (row.layout) {
    case Layout::Pipe:
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
    case Layout::Folder:
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        break;
    case Layout::MissingFolder:
        break;
    case Layout::LinkToNothing:
        ASSERT_EQ(symlink("nowhere", path.c_str()), 0);
        break;
    case Layout::LinkToDevice:
        ASSERT_EQ(symlink("/dev/null", path.c_str()), 0);
        break;
    case Layout::LinkIntoNoFolder:
        ASSERT_EQ(symlink("missing/state", path.c_str()), 0);
        break;
    }
    struct stat before {};
    const bool existed = lstat(path.c_str(), &before) == 0;
    env.set(row.variable, path);
    zdp_provider *other = nullptr;
    EXPECT_EQ(zdp_create(&other), FWSIM_ERR_SYSTEM);
    const bool state = std::string(row.variable) == "FLEETWRIGHT_SIM_STATE";
    EXPECT_EQ(zdp_error_text(nullptr),
              (state ? "Cannot write the state file " : "Cannot use the lock file ") + path + ": " +
                  row.reason);
    struct stat after {};
    EXPECT_EQ(lstat(path.c_str(), &after) == 0, existed);
    EXPECT_EQ(after.st_ino, before.st_ino);
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UnusablePath,
    ::testing::Values(
        BadPath{"StateIsAPipe", "FLEETWRIGHT_SIM_STATE", Layout::Pipe, "it is not a regular file"},
        BadPath{"StateIsAFolder", "FLEETWRIGHT_SIM_STATE", Layout::Folder,
                "it is not a regular file"},
        BadPath{"StateIsADevice", "FLEETWRIGHT_SIM_STATE", Layout::LinkToDevice,
                "it is not a regular file"},
        BadPath{"StateLinksIntoAMissingFolder", "FLEETWRIGHT_SIM_STATE", Layout::LinkIntoNoFolder,
                "No such file or directory"},
        BadPath{"LockInAMissingFolder", "FLEETWRIGHT_SIM_LOCK", Layout::MissingFolder,
                "No such file or directory"},
        BadPath{"LockIsAFolder", "FLEETWRIGHT_SIM_LOCK", Layout::Folder, "Is a directory"},
        BadPath{"LockLinksToNothing", "FLEETWRIGHT_SIM_LOCK", Layout::LinkToNothing,
                "it is a symbolic link to nothing"},
        BadPath{"LockIsAPipe", "FLEETWRIGHT_SIM_LOCK", Layout::Pipe, "it is not a regular file"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(SimulatorTest, CountsCallsByFunctionName) {
    createAndOpen();
    baseChannel();
    baseChannel();
    EXPECT_EQ(fwsim_call_count("zdp_open_connection"), 1);
    EXPECT_EQ(fwsim_call_count("zdp_get_base_channel"), 2);
    EXPECT_EQ(fwsim_call_count("zdp_pair_module"), 0);
    EXPECT_EQ(fwsim_call_count("zdp_create"), -1);
    EXPECT_EQ(fwsim_call_count(nullptr), -1);
}

} // namespace
} // namespace fw::testing
