#include "app_setup.h"
#include "app_test_support.h"
#include "saved_entries.h"
#include "support/named_rows.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
    entries.verifyAfterWriting = true;
    writeEntries(store, entries);
    // The option goes in a section of its own; the six entries keep theirs as they are.
    const std::map<QString, QString> expected{{"Direction", "True"},
                                              {"RFChannel", "-1"},
                                              {"TXInterval", ""},
                                              {"SampleTime", "12"},
                                              {"SleepDelay", "9999"},
                                              {"LowPowerMode", "2"},
                                              {"Options/VerifyAfterWriting", "True"},
                                              {"Options/NextModuleAutomatically", "False"}};
    EXPECT_EQ(store.values, expected);

    entries.changeChannel = false;
    entries.verifyAfterWriting = false;
    writeEntries(store, entries);
    EXPECT_EQ(store.values["Direction"], "False");
    EXPECT_EQ(store.values["Options/VerifyAfterWriting"], "False");
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

TEST_F(UserSettings, KeepTheOptionsInAGroupBesideTheSixEntries) {
    Entries entries;
    entries.verifyAfterWriting = true;
    {
        QSettingsStore writer(QStringLiteral("fleetwright"));
        writeEntries(writer, entries);
        ASSERT_TRUE(writer.flush());
    }
    QSettings file(path(), QSettings::IniFormat);
    EXPECT_EQ(file.childGroups(), (QStringList{"Options", "Settings"}));
    file.beginGroup(QStringLiteral("Settings"));
    EXPECT_EQ(file.childKeys(), (QStringList{"Direction", "LowPowerMode", "RFChannel", "SampleTime",
                                             "SleepDelay", "TXInterval"}));
    file.endGroup();
    EXPECT_EQ(file.value(QStringLiteral("Options/VerifyAfterWriting")).toString(), "True");
    EXPECT_EQ(readEntries(QSettingsStore(QStringLiteral("fleetwright"))), entries);
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

mode_t modeOf(const QString &path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

void writeFile(const QString &path, const QByteArray &content, mode_t mode) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

struct FileCase {
    const char *name;
    bool link;
    mode_t mode; // of the file there is; 0: none
    mode_t saved;
};

class SavedFile : public ::testing::TestWithParam<FileCase> {};

// A link stays a link, the file behind it gets the entries and keeps its permissions, and
// nothing is left beside it.
TEST_P(SavedFile, KeepsLinksAndPermissions) {
    const FileCase &row = GetParam();
    QTemporaryDir home;
    const QString file = home.filePath(row.link ? "target/shared.conf" : "fleetwright.conf");
    const QString store = home.filePath("fleetwright.conf");
    if (row.link) {
        ASSERT_TRUE(QDir(home.path()).mkdir("target") && QFile::link(file, store));
    }
    if (row.mode) {
        writeFile(file, "[Other]\nkept=yes\n", row.mode);
    }
    QSettingsStore settings = QSettingsStore::inFile(store);
    settings.write("TXInterval", "4321");
    const FlushResult saved = settings.flush();
    ASSERT_TRUE(saved) << saved.reason.toStdString();
    EXPECT_EQ(QFileInfo(store).isSymLink(), row.link);
    EXPECT_EQ(modeOf(file), row.saved);
    EXPECT_EQ(QSettingsStore::inFile(file).read("TXInterval"), std::optional<QString>("4321"));
    EXPECT_EQ(contentOf(file).contains("kept=yes"), row.mode != 0);
    EXPECT_EQ(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Files, SavedFile,
                         ::testing::Values(FileCase{"NewFile", false, 0, 0600},
                                           FileCase{"ReadableByAll", false, 0644, 0644},
                                           FileCase{"LinkToFile", true, 0640, 0640},
                                           FileCase{"LinkToNothingYet", true, 0, 0600}),
                         [](const auto &row) { return std::string(row.param.name); });

// Runs body in a child process, as nobody when this one is root so that permissions hold,
// and returns what it reported, or how it ended when a signal ended it.
std::string inChildProcess(const std::function<std::string()> &body, const QString &folder) {
    const passwd *nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    if (nobody)
        for (const QString &name : {QStringLiteral("."), QStringLiteral("fleetwright.conf")})
            if (::chown(QFile::encodeName(QDir(folder).filePath(name)).constData(), nobody->pw_uid,
                        nobody->pw_gid) != 0)
                return "cannot hand the folder to nobody";
    int report[2];
    if (::pipe(report) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        const bool dropped =
            !nobody || (::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 &&
                        ::setuid(nobody->pw_uid) == 0);
        const std::string outcome = dropped ? body() : "cannot become nobody";
        _exit(::write(report[1], outcome.data(), outcome.size()) < 0);
    }
    ::close(report[1]);
    std::string outcome;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;)
        outcome.append(buffer, static_cast<size_t>(n));
    ::close(report[0]);
    int status = 0;
    if (waitpid(child, &status, 0) == child && WIFSIGNALED(status))
        outcome += "ended by signal " + std::to_string(WTERMSIG(status));
    return outcome;
}

struct KeptCase {
    const char *name;
    mode_t mode;
    rlim_t sizeLimit;
    const char *reason;
};

class KeptFile : public ::testing::TestWithParam<KeptCase> {};

// A file that cannot be read (root can, so the child runs as nobody), and a file size limit
// below the new file's size (the program must live on): the old file stays byte for byte.
TEST_P(KeptFile, StaysByteForByteAndAloneInItsFolder) {
    if (geteuid() == 0 && !getpwnam("nobody"))
        GTEST_SKIP() << "running as root without a user nobody to drop the rights to";
    QTemporaryDir home;
    const QString path = home.filePath("fleetwright.conf");
    const QByteArray stored = "[Notes]\nText=" + QByteArray(2000, 'x') + "\n[Settings]\nA=1\n";
    writeFile(path, stored, GetParam().mode);
    const std::string outcome = inChildProcess(
        [&path, limit = GetParam().sizeLimit] {
            ignoreFileSizeSignal();
            QSettingsStore store = QSettingsStore::inFile(path);
            writeEntries(store, Entries{});
            const rlimit small{limit, limit};
            if (limit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &small) != 0)
                return std::string("cannot limit the file size");
            const FlushResult saved = store.flush();
            return saved ? std::string("saved") : saved.reason.toStdString();
        },
        home.path());
    EXPECT_EQ(outcome, GetParam().reason);
    EXPECT_EQ(contentOf(path), stored);
    EXPECT_EQ(QDir(home.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList{"fleetwright.conf"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, KeptFile,
    ::testing::Values(KeptCase{"Unreadable", 0200, RLIM_INFINITY,
                               "it could not be read at start-up (Permission denied), and "
                               "saving would lose what it holds"},
                      KeptCase{"PastTheSizeLimit", 0600, 1024,
                               "no copy of it can be read beside it (a full disk or a file "
                               "size limit)"}),
    [](const auto &row) { return std::string(row.param.name); });

void makeSocket(const QString &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    ASSERT_LT(static_cast<size_t>(name.size()), sizeof address.sun_path);
    std::copy(name.begin(), name.end(), address.sun_path);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(socket);
}

struct NotAFileCase {
    const char *name;
    void (*make)(const QString &path); // puts something that is not a file at path
    const char *reason;
};

class NotAFile : public ::testing::TestWithParam<NotAFileCase> {};

// Opening a named pipe waits for a writer that never comes: start-up must not go there.
TEST_P(NotAFile, IsRefusedUnopenedAndNeverWritten) {
    QTemporaryDir home;
    const QString path = home.filePath("fleetwright.conf");
    GetParam().make(path);
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10); // a store that opens the pipe ends here
        QSettingsStore store = QSettingsStore::inFile(path);
        writeEntries(store, Entries{});
        const bool refused = store.unreadable() == QString::fromLatin1(GetParam().reason) &&
                             !store.flush() && store.location() == path;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "hung on the open" : "not refused");
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NotAFile,
    ::testing::Values(
        NotAFileCase{"NamedPipe",
                     [](const QString &path) {
                         ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
                     },
                     "it is not a regular file"},
        NotAFileCase{"LinkToAPipe",
                     [](const QString &path) {
                         const QString pipe = path + QStringLiteral(".pipe");
                         ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
                         ASSERT_TRUE(QFile::link(pipe, path));
                     },
                     "it is not a regular file"},
        NotAFileCase{"LinkToADevice",
                     [](const QString &path) {
                         ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), path));
                     },
                     "it is not a regular file"},
        NotAFileCase{"Socket", makeSocket, "it is not a regular file"},
        NotAFileCase{"Folder", [](const QString &path) { ASSERT_TRUE(QDir().mkpath(path)); },
                     "it is a folder"}),
    fw::testing::RowName());

} // namespace
} // namespace fw::app
