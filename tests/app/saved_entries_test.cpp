#include "app_setup.h"
#include "app_test_support.h"
#include "saved_entries.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

INSTANTIATE_TEST_SUITE_P(
    Forms, StoredDirection,
    ::testing::Values(DirectionCase{"True", true}, DirectionCase{"False", false},
                      DirectionCase{"true", true}, DirectionCase{"FALSE", false},
                      DirectionCase{"0", false}, DirectionCase{"1", true},
                      DirectionCase{"-1", true}, DirectionCase{"7", true},
                      // not a truth value: the default
                      DirectionCase{"", false}, DirectionCase{"Yes", false},
                      DirectionCase{"1.5", false}, DirectionCase{"True,False", false}));

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

// ---- the file on disk ---------------------------------------------------------------

QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &content, mode_t mode = 0644) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

mode_t modeOf(const QString &path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Every name in a folder: a save leaves no temporary or lock file behind.
QStringList namesIn(const QString &folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

enum class Link { None, ToFile, ToMissingFile, Chain };

struct FileCase {
    const char *name;
    Link link;
    mode_t mode; // of the existing file; 0: there is none
    mode_t saved;
};

void PrintTo(const FileCase &c, std::ostream *out) {
    *out << c.name;
}

class SavedFile : public ::testing::TestWithParam<FileCase> {};

// A link stays a link, the file behind it gets the entries, and it keeps its permissions.
TEST_P(SavedFile, KeepsLinksAndPermissions) {
    const FileCase &row = GetParam();
    QTemporaryDir home;
    QTemporaryDir elsewhere;
    const QString store = home.filePath("fleetwright.conf");
    const QString file = elsewhere.filePath("shared.conf");
    if (row.mode) {
        writeFile(file, "[Other]\nkept=yes\n", row.mode);
    }
    const QString linked = row.link == Link::None ? store : file;
    if (row.link == Link::None && row.mode) {
        ASSERT_TRUE(QFile::rename(file, store));
    }
    if (row.link == Link::Chain) {
        ASSERT_TRUE(QFile::link(file, elsewhere.filePath("middle.conf")));
        ASSERT_TRUE(QFile::link(elsewhere.filePath("middle.conf"), store));
    } else if (row.link != Link::None) {
        ASSERT_TRUE(QFile::link(file, store));
    }

    QSettingsStore settings = QSettingsStore::inFile(store);
    settings.write("TXInterval", "4321");
    const FlushResult saved = settings.flush();
    ASSERT_TRUE(saved) << saved.reason.toStdString();

    EXPECT_EQ(QFileInfo(store).isSymLink(), row.link != Link::None);
    EXPECT_EQ(modeOf(linked), row.saved);
    EXPECT_EQ(QSettingsStore::inFile(store).read("TXInterval"), std::optional<QString>("4321"));
    if (row.mode) {
        EXPECT_TRUE(contentOf(linked).contains("kept=yes")) << contentOf(linked).toStdString();
    }
    const QStringList left = row.link == Link::Chain ? QStringList{"middle.conf", "shared.conf"}
                                                     : QStringList{QFileInfo(linked).fileName()};
    EXPECT_EQ(namesIn(QFileInfo(linked).path()), left);
}

INSTANTIATE_TEST_SUITE_P(Files, SavedFile,
                         ::testing::Values(FileCase{"NewFile", Link::None, 0, 0600},
                                           FileCase{"ReadableByAll", Link::None, 0644, 0644},
                                           FileCase{"GroupShared", Link::None, 0660, 0660},
                                           FileCase{"LinkToFile", Link::ToFile, 0640, 0640},
                                           FileCase{"LinkToMissingFile", Link::ToMissingFile, 0,
                                                    0600},
                                           FileCase{"ChainOfLinks", Link::Chain, 0604, 0604}),
                         [](const auto &row) { return std::string(row.param.name); });

// Runs body in a child process, as the user nobody when this one is root, so that file
// permissions hold; ownFolder and what it holds become the child's. Returns what went wrong, empty
// when nothing did.
std::string inChildProcess(const std::function<std::string()> &body, const QString &ownFolder) {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (uid == 0) {
        const passwd *nobody = getpwnam("nobody");
        if (!nobody)
            return "skip: there is no user nobody to drop root's rights to";
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        const QStringList names = namesIn(ownFolder) << QStringLiteral(".");
        for (const QString &name : names)
            if (::chown(QFile::encodeName(QDir(ownFolder).filePath(name)).constData(), uid, gid) !=
                0)
                return "cannot hand the folder to nobody";
    }
    int report[2];
    if (::pipe(report) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        ::close(report[0]);
        std::string outcome;
        if (geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            outcome = "cannot become nobody";
        else
            outcome = body();
        [[maybe_unused]] const ssize_t ignored = ::write(report[1], outcome.data(), outcome.size());
        _exit(0);
    }
    ::close(report[1]);
    std::string outcome;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;)
        outcome.append(buffer, static_cast<size_t>(n));
    ::close(report[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return "no child process";
    if (WIFSIGNALED(status))
        return outcome + "the child was ended by signal " + std::to_string(WTERMSIG(status));
    return outcome;
}

// What a check in the child found wrong, in the words a failure message would use.
std::string differs(const char *what, const QString &actual, const QString &expected) {
    if (actual == expected)
        return {};
    return std::string(what) + ": \"" + actual.toStdString() + "\", expected \"" +
           expected.toStdString() + "\"; ";
}

TEST(SettingsFile, ThatCannotBeReadIsNeitherUsedNorReplaced) {
    QTemporaryDir home;
    const QString path = home.filePath("fleetwright.conf");
    const QByteArray stored = "[Settings]\nTXInterval=12\n[Other]\nkept=yes\n";
    writeFile(path, stored, 0200);
    const std::string outcome = inChildProcess(
        [&path] {
            QSettingsStore store = QSettingsStore::inFile(path);
            std::string found =
                differs("unreadable", store.unreadable().value_or("<readable>"),
                        "Permission denied") +
                differs("entry", store.read("TXInterval").value_or("<absent>"), "<absent>");
            writeEntries(store, Entries{});
            const FlushResult saved = store.flush();
            return found + differs("flush", saved ? "<saved>" : saved.reason,
                                   "it could not be read at start-up (Permission denied), and "
                                   "saving would lose what it holds");
        },
        home.path());
    if (outcome.starts_with("skip: "))
        GTEST_SKIP() << outcome.substr(6);
    EXPECT_EQ(outcome, "");
    EXPECT_EQ(contentOf(path), stored);
    EXPECT_EQ(modeOf(path), 0200u);
    EXPECT_EQ(namesIn(home.path()), QStringList{"fleetwright.conf"});
}

// A file size limit below the new file's size: the program lives on, the old file stays
// byte for byte, and nothing is left beside it.
TEST(SettingsFile, PastTheFileSizeLimitStaysAsItWas) {
    QTemporaryDir home;
    const QString path = home.filePath("fleetwright.conf");
    const QByteArray stored =
        "[Notes]\nText=" + QByteArray(2000, 'x') + "\n[Settings]\nTXInterval=12\n";
    writeFile(path, stored);
    const std::string outcome = inChildProcess(
        [&path] {
            ignoreFileSizeSignal();
            QSettingsStore store = QSettingsStore::inFile(path);
            store.write("TXInterval", "4321");
            const rlimit small{1024, 1024};
            if (setrlimit(RLIMIT_FSIZE, &small) != 0)
                return std::string("cannot limit the file size");
            const FlushResult saved = store.flush();
            return differs("flush", saved ? "<saved>" : saved.reason,
                           "the new file came out incomplete (a full disk or a file size limit)");
        },
        home.path());
    EXPECT_EQ(outcome, "");
    EXPECT_EQ(contentOf(path), stored);
    EXPECT_EQ(namesIn(home.path()), QStringList{"fleetwright.conf"});
}

} // namespace
} // namespace fw::app
