#include "app_test_support.h"
#include "saved_entries.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace fw::app {
namespace {

using testing::MapStore;

TEST(ReadEntries, EmptyStoreGivesTheFirstRunDefaults) {
    const Entries entries = readEntries(MapStore{});
    EXPECT_FALSE(entries.changeChannel);
    EXPECT_EQ(entries.rfChannelPosition, 0);
    EXPECT_EQ(entries.txInterval, "333");
    EXPECT_EQ(entries.sampleTime, "5");
    EXPECT_EQ(entries.sleepDelay, "0");
    EXPECT_EQ(entries.lowPowerModePosition, 0);
}

struct DirectionCase {
    const char *stored;
    bool changeChannel;
};

void PrintTo(const DirectionCase &c, std::ostream *out) {
    *out << '"' << c.stored << '"';
}

class StoredDirection : public ::testing::TestWithParam<DirectionCase> {};

TEST_P(StoredDirection, ReadsTruthValuesAndNumbersAndFallsBackToLeave) {
    MapStore store;
    store.values["Direction"] = QString::fromUtf8(GetParam().stored);
    EXPECT_EQ(readEntries(store).changeChannel, GetParam().changeChannel);
}

INSTANTIATE_TEST_SUITE_P(Forms, StoredDirection,
                         ::testing::Values(DirectionCase{"True", true},
                                           DirectionCase{"False", false},
                                           DirectionCase{"true", true},
                                           DirectionCase{"FALSE", false}, DirectionCase{"0", false},
                                           DirectionCase{"1", true}, DirectionCase{"-1", true},
                                           DirectionCase{"7", true},
                                           // any number but zero is true, fractions included
                                           DirectionCase{"1.5", true}, DirectionCase{"-0.25", true},
                                           DirectionCase{"2e3", true}, DirectionCase{"0.0", false},
                                           DirectionCase{"-0", false},
                                           // not a truth value: the default
                                           DirectionCase{"", false}, DirectionCase{"Yes", false},
                                           DirectionCase{"1,5", false}, DirectionCase{"nan", false},
                                           DirectionCase{"True,False", false}));

struct PositionCase {
    const char *stored;
    int rfChannel;    // expected after reading "RFChannel"
    int lowPowerMode; // expected after reading "LowPowerMode"
};

void PrintTo(const PositionCase &c, std::ostream *out) {
    *out << '"' << c.stored << '"';
}

class StoredPosition : public ::testing::TestWithParam<PositionCase> {};

TEST_P(StoredPosition, KeepsPositionsInTheListAndDefaultsTheRest) {
    MapStore store;
    store.values["RFChannel"] = QString::fromUtf8(GetParam().stored);
    store.values["LowPowerMode"] = QString::fromUtf8(GetParam().stored);
    const Entries entries = readEntries(store);
    EXPECT_EQ(entries.rfChannelPosition, GetParam().rfChannel);
    EXPECT_EQ(entries.lowPowerModePosition, GetParam().lowPowerMode);
}

INSTANTIATE_TEST_SUITE_P(Forms, StoredPosition,
                         ::testing::Values(PositionCase{"-1", -1, -1}, PositionCase{"0", 0, 0},
                                           PositionCase{"2", 2, 2}, PositionCase{" 2 ", 2, 2},
                                           PositionCase{"3", 3, 0}, PositionCase{"15", 15, 0},
                                           PositionCase{"16", 0, 0}, PositionCase{"-2", 0, 0},
                                           PositionCase{"", 0, 0}, PositionCase{"two", 0, 0},
                                           PositionCase{"2.0", 0, 0},
                                           PositionCase{"99999999999", 0, 0}));

TEST(ReadEntries, TextsComeBackUnchangedAndEmptyIsNotMissing) {
    MapStore store;
    store.values["TXInterval"] = "";
    store.values["SampleTime"] = "1,2";
    store.values["SleepDelay"] = "abc";
    const Entries entries = readEntries(store);
    EXPECT_EQ(entries.txInterval, "");
    EXPECT_EQ(entries.sampleTime, "1,2");
    EXPECT_EQ(entries.sleepDelay, "abc");
}

TEST(WriteEntries, WritesEveryEntryAsText) {
    MapStore store;
    Entries entries;
    entries.changeChannel = true;
    entries.rfChannelPosition = -1;
    entries.txInterval = "";
    entries.sampleTime = "12";
    entries.sleepDelay = "9999";
    entries.lowPowerModePosition = 2;
    writeEntries(store, entries);
    const std::map<QString, QString> expected{{"Direction", "True"},  {"RFChannel", "-1"},
                                              {"TXInterval", ""},     {"SampleTime", "12"},
                                              {"SleepDelay", "9999"}, {"LowPowerMode", "2"}};
    EXPECT_EQ(store.values, expected);

    entries.changeChannel = false;
    writeEntries(store, entries);
    EXPECT_EQ(store.values["Direction"], "False");
    EXPECT_EQ(readEntries(store), entries);
}

class UserSettings : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(path()); }
    void TearDown() override { QFile::remove(path()); }
    static QString path() {
        return QDir(qEnvironmentVariable("XDG_CONFIG_HOME"))
            .filePath(QStringLiteral("fleetwright/fleetwright.conf"));
    }
};

TEST_F(UserSettings, LiveInTheUserConfigFileNamedAfterTheProgram) {
    QSettingsStore store(QStringLiteral("fleetwright"));
    EXPECT_EQ(store.fileName(), path());
    store.write("TXInterval", "333");
    EXPECT_TRUE(store.flush());
    QFile file(path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.contains("[Settings]")) << content.toStdString();
    EXPECT_TRUE(content.contains("TXInterval=333")) << content.toStdString();
}

TEST_F(UserSettings, AwkwardTextsSurviveTheRoundTrip) {
    const QStringList texts{"1,2", "", " 5 ", "a=b;c", "@Invalid()", "\"q\"", "-1", "ü"};
    for (const QString &text : texts) {
        {
            QSettingsStore writer(QStringLiteral("fleetwright"));
            writer.write("SampleTime", text);
            ASSERT_TRUE(writer.flush());
        }
        const QSettingsStore reader(QStringLiteral("fleetwright"));
        EXPECT_EQ(reader.read("SampleTime"), std::optional<QString>(text));
        EXPECT_EQ(reader.read("SleepDelay"), std::nullopt);
    }
}

TEST_F(UserSettings, HandEditedListsAndEmptyEntriesReadAsText) {
    QDir().mkpath(QFileInfo(path()).path());
    QFile file(path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Settings]\nTXInterval=1,2\nSampleTime=\nLowPowerMode=2\n");
    file.close();

    const QSettingsStore store(QStringLiteral("fleetwright"));
    EXPECT_EQ(store.read("TXInterval"), std::optional<QString>("1,2"));
    EXPECT_EQ(store.read("SampleTime"), std::optional<QString>(""));
    const Entries entries = readEntries(store);
    EXPECT_EQ(entries.txInterval, "1,2");
    EXPECT_EQ(entries.sampleTime, "");
    EXPECT_EQ(entries.sleepDelay, "0");
    EXPECT_EQ(entries.lowPowerModePosition, 2);
}

TEST(SettingsFile, ThatCannotBeWrittenReportsFailureWithoutThrowing) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath("not-a-directory"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettingsStore store = QSettingsStore::inFile(dir.filePath("not-a-directory/settings.conf"));
    writeEntries(store, Entries{});
    EXPECT_FALSE(store.flush());
}

} // namespace
} // namespace fw::app
