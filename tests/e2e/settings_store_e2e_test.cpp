#include "app_setup.h"
#include "e2e_window.h"
#include "messages.h"
#include "support/named_rows.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <map>
#include <sys/resource.h>
#include <unistd.h>

namespace fw {

// Found by the assertions on entries through their namespace.
void PrintTo(const Entries &entries, std::ostream *out) {
    *out << "{" << entries.changeChannel << ", " << entries.rfChannelPosition << ", "
         << entries.txInterval << ", " << entries.sampleTime << ", " << entries.sleepDelay << ", "
         << entries.lowPowerModePosition << ", " << entries.verifyAfterWriting << "}";
}

namespace app::e2e {
namespace {

using fw::testing::PrintTo;

using fw::testing::SimEnvironment;

QString configHome() {
    return qEnvironmentVariable("XDG_CONFIG_HOME");
}
QString settingsFolder() {
    return QDir(configHome()).filePath(QStringLiteral("fleetwright"));
}
QString settingsPath() {
    return QDir(settingsFolder()).filePath(QStringLiteral("fleetwright.conf"));
}

void writeFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
}

// Every file and folder under the config home with its bytes, to prove that nothing was
// touched, half-written or left behind.
std::map<QString, QByteArray> snapshot() {
    std::map<QString, QByteArray> entries;
    QDirIterator it(configHome(),
                    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        QFile file(info.filePath());
        entries[info.filePath()] = info.isDir()                     ? QByteArray("<folder>")
                                   : file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                    : QByteArray("<unreadable>");
    }
    return entries;
}

enum class Layout {
    File,          // the settings file holds content
    Unreadable,    // the same, with no permissions at all
    Folder,        // the settings file's path is a folder
    ParentIsAFile, // the program's settings folder is a regular file
    FileSizeLimit, // the file holds content; at shutdown no file may grow past 1 KiB
};

struct BadStore {
    const char *name;
    Layout layout;
    QByteArray content;
    Entries atStart;      // what start-up restores
    bool replacedOnClose; // false: shutdown cannot store, and must leave everything as it was
    const char *unreadable = nullptr; // the reason start-up gives, if it warns
    const char *notSaved = nullptr;   // the reason shutdown gives, if it warns
};

Entries restored(const char *tx, const char *sample, const char *sleep, int lowPower) {
    Entries entries;
    entries.txInterval = tx;
    entries.sampleTime = sample;
    entries.sleepDelay = sleep;
    entries.lowPowerModePosition = lowPower;
    return entries;
}

// Shutdown can take the busy second and a little more, never a stuck lock's wait.
constexpr qint64 kLongestShutdownMs = 5000;

class SettingsStoreUnderBadConditions : public ::testing::TestWithParam<BadStore> {
protected:
    void SetUp() override {
        clear();
        if (GetParam().layout == Layout::Unreadable && geteuid() == 0)
            GTEST_SKIP() << "permissions do not keep root from reading";
    }
    void TearDown() override {
        if (GetParam().layout == Layout::Unreadable)
            QFile(settingsPath()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        clear();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
    static void clear() {
        QDir(settingsFolder()).removeRecursively();
        QFile::remove(settingsFolder());
    }

    // Lays the store out as the row asks.
    static void prepare(const BadStore &row) {
        switch (row.layout) {
        case Layout::File:
        case Layout::FileSizeLimit:
            writeFile(settingsPath(), row.content);
            break;
        case Layout::Unreadable:
            writeFile(settingsPath(), row.content);
            QFile(settingsPath()).setPermissions({});
            break;
        case Layout::Folder:
            writeFile(QDir(settingsPath()).filePath("inside"), row.content);
            break;
        case Layout::ParentIsAFile:
            writeFile(settingsFolder(), row.content);
            break;
        }
    }

    SimEnvironment sim;
};

TEST_P(SettingsStoreUnderBadConditions, StartsWithSoundEntriesAndShutsDownCleanly) {
    const BadStore &row = GetParam();
    prepare(row);
    const auto before = snapshot();

    QSettingsStore store(QStringLiteral("fleetwright"));
    SimulatedWindow ui(store);
    ASSERT_TRUE(ui.load());
    ui.show();
    EXPECT_EQ(ui.window.entries(), row.atStart);
    std::vector<Message> warned;
    if (row.unreadable)
        warned.push_back(
            messages::settingsUnreadable(settingsPath().toStdString(), row.unreadable));
    EXPECT_EQ(ui.shown, warned);

    // Entries that differ from everything stored, so that any write would show.
    ui.window.Direction[1]->click();
    control<QLineEdit>(ui.window, "txInterval").setText("4321");
    control<QComboBox>(ui.window, "LowPowerMode").setCurrentIndex(1);
    const Entries closing = ui.window.entries();

    QSignalSpy closed(&ui.window, &MainFrm::closed);
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    if (row.layout == Layout::FileSizeLimit) {
        const rlimit small{1024, limit.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(ui.window.close());
    const qint64 shutdownMs = timer.elapsed();
    setrlimit(RLIMIT_FSIZE, limit.rlim_cur == RLIM_INFINITY ? &unlimited : &limit);
    std::signal(SIGXFSZ, oldSignal);

    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(ui.window.controller().provider(), nullptr);
    EXPECT_EQ(fwsim_is_open(), 0);
    EXPECT_LT(shutdownMs, kLongestShutdownMs);
    if (row.notSaved)
        warned.push_back(messages::entriesNotSaved(settingsPath().toStdString(), row.notSaved));
    EXPECT_EQ(ui.shown, warned);

    if (row.replacedOnClose)
        EXPECT_EQ(readEntries(QSettingsStore(QStringLiteral("fleetwright"))), closing);
    else
        EXPECT_EQ(snapshot(), before);
}

const QByteArray kStored = "[Settings]\nDirection=False\nRFChannel=4\nTXInterval=12\n"
                           "SampleTime=7\nSleepDelay=9\nLowPowerMode=2\n";

INSTANTIATE_TEST_SUITE_P(
    Stores, SettingsStoreUnderBadConditions,
    ::testing::Values(
        BadStore{"GarbageBytes", Layout::File,
                 QByteArray("\x00\xff\xfe[Sett\x01ings\n=\n@Variant(\x7f\x00\x00\x00\xff"
                            "\x00\n[\n]]\x80\x81=\xc3\x28\n\\\\\\",
                            42),
                 Entries{}, true},
        BadStore{"EntriesOfTheWrongType", Layout::File,
                 "[Settings]\nDirection=@Point(1 2)\nRFChannel=@Rect(1 2 3 4)\n"
                 "TXInterval=@Size(3 4)\nSampleTime=@Invalid()\n"
                 "SleepDelay=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x4junk)\n"
                 "LowPowerMode\\sub=2\n",
                 Entries{}, true},
        // Half a surrogate pair has no UTF-8 form: it must not keep every later save out.
        BadStore{"LoneSurrogateElsewhere", Layout::File,
                 "[General]\nx=\\xd800\n[Notes]\nlist=a,\\xdc00\n" + kStored,
                 restored("12", "7", "9", 2), true},
        BadStore{"Unreadable", Layout::Unreadable, kStored, Entries{}, false, "Permission denied",
                 "it could not be read at start-up (Permission denied), and saving would lose "
                 "what it holds"},
        BadStore{"PathIsAFolder", Layout::Folder, kStored, Entries{}, false, "it is a folder",
                 "it could not be read at start-up (it is a folder), and saving would lose what "
                 "it holds"},
        BadStore{"FolderCannotBeCreated", Layout::ParentIsAFile, kStored, Entries{}, false, nullptr,
                 "its folder cannot be created"},
        BadStore{"WriteFailsPartway", Layout::FileSizeLimit,
                 kStored + "[Notes]\nText=" + QByteArray(2000, 'x') + "\n",
                 restored("12", "7", "9", 2), false, nullptr,
                 "no copy of it can be read beside it (a full disk or a file size limit)"}),
    fw::testing::RowName());

// ---- job profiles ----------------------------------------------------------------------

const QByteArray kGarbage("\x00\xff\xfe[Sett\x01ings\n=\n@Variant(\x7f\x00\x00\x00\xff"
                          "\x00\n[\n]]\x80\x81=\xc3\x28\n\\\\\\",
                          42);

struct Profile {
    const char *name;
    std::optional<QByteArray> content; // nothing: the file does not exist yet
    Entries atStart;
};

void PrintTo(const Profile &profile, std::ostream *out) {
    *out << profile.name;
}

class ProfileRun : public ::testing::TestWithParam<Profile> {
protected:
    void TearDown() override { QDir(settingsFolder()).removeRecursively(); }
    SimEnvironment sim;
};

TEST_P(ProfileRun, KeepsTheEntriesInTheProfileAndLeavesThePerUserStoreAlone) {
    writeFile(settingsPath(), "[Settings]\nDirection=True\nTXInterval=999\nLowPowerMode=1\n");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bridge.conf"));
    if (GetParam().content)
        writeFile(path, *GetParam().content);
    const auto before = snapshot();
    CommandLine command;
    command.profile = path;

    QSettingsStore store = settingsStoreFor(command, QStringLiteral("fleetwright"));
    SimulatedWindow ui(store);
    ASSERT_TRUE(ui.load());
    ui.show();
    EXPECT_EQ(ui.window.entries(), GetParam().atStart);
    control<QLineEdit>(ui.window, "txInterval").setText("4321");
    const Entries closing = ui.window.entries();
    EXPECT_TRUE(ui.window.close());

    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(readEntries(QSettingsStore::inFile(path)), closing);
    EXPECT_EQ(snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProfileRun,
                         ::testing::Values(Profile{"NotThereYet", std::nullopt, Entries{}},
                                           Profile{"Garbage", kGarbage, Entries{}},
                                           Profile{"AnotherJob", kStored,
                                                   restored("12", "7", "9", 2)}),
                         fw::testing::RowName());

// ---- files changed by another program while the window is open -------------------------

enum class Change {
    GroupAppended, // another program adds a group of its own to the file
    KeyChanged,    // another program changes a key outside the entries
    RenamedOver,   // a newer file replaces it by rename (how editors and QSettings save)
};

struct Meanwhile {
    const char *name;
    bool asProfile; // else the per-user store
    Change change;
};

const QByteArray kNewer = "[Job]\nName=newer\n[Settings]\nTXInterval=55\nSampleTime=66\n";

// Makes the row's change to the file at path, as another program would.
void changeMeanwhile(const QString &path, Change change) {
    switch (change) {
    case Change::GroupAppended: {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("\n[Job]\nName=newer\n");
        break;
    }
    case Change::KeyChanged:
        writeFile(path, "[Job]\nName=newer\n" + kStored);
        break;
    case Change::RenamedOver: {
        const QString newer = path + QStringLiteral(".newer");
        writeFile(newer, kNewer);
        ASSERT_EQ(
            std::rename(QFile::encodeName(newer).constData(), QFile::encodeName(path).constData()),
            0);
        break;
    }
    }
}

class ChangedMeanwhile : public ::testing::TestWithParam<Meanwhile> {
protected:
    void TearDown() override { QDir(settingsFolder()).removeRecursively(); }
    SimEnvironment sim;
    QTemporaryDir dir;
};

TEST_P(ChangedMeanwhile, KeepsWhatTheOtherProgramWroteAndAddsTheEntries) {
    CommandLine command;
    if (GetParam().asProfile)
        command.profile = dir.filePath(QStringLiteral("bridge.conf"));
    const QString path = command.profile.value_or(settingsPath());
    writeFile(path, "[Job]\nName=older\n" + kStored);

    QSettingsStore store = settingsStoreFor(command, QStringLiteral("fleetwright"));
    SimulatedWindow ui(store);
    ASSERT_TRUE(ui.load());
    ui.show();
    EXPECT_EQ(ui.window.entries(), restored("12", "7", "9", 2));
    control<QLineEdit>(ui.window, "txInterval").setText("4321");
    const Entries closing = ui.window.entries();
    changeMeanwhile(path, GetParam().change);
    EXPECT_TRUE(ui.window.close());

    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(readEntries(QSettingsStore::inFile(path)), closing);
    const QSettings written(path, QSettings::IniFormat);
    EXPECT_EQ(written.value(QStringLiteral("Job/Name")).toString(), "newer");
    EXPECT_FALSE(QFileInfo(path).isSymLink());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedMeanwhile,
    ::testing::Values(Meanwhile{"GroupAppendedToTheUserStore", false, Change::GroupAppended},
                      Meanwhile{"KeyChangedInTheUserStore", false, Change::KeyChanged},
                      Meanwhile{"UserStoreRenamedOver", false, Change::RenamedOver},
                      Meanwhile{"GroupAppendedToTheProfile", true, Change::GroupAppended},
                      Meanwhile{"ProfileRenamedOver", true, Change::RenamedOver}),
    fw::testing::RowName());

// ---- a profile whose name the file system does not take --------------------------------

struct LongName {
    const char *name;
    int length; // of the file name, in bytes
};

class ProfileNamedTooLong : public ::testing::TestWithParam<LongName> {
protected:
    SimEnvironment sim;
    QTemporaryDir dir;
};

TEST_P(ProfileNamedTooLong, SaysSoAtTheCloseAndLeavesNothingBehind) {
    CommandLine command;
    command.profile = dir.filePath(QString(GetParam().length - 5, u'p') + QStringLiteral(".conf"));

    QSettingsStore store = settingsStoreFor(command, QStringLiteral("fleetwright"));
    SimulatedWindow ui(store);
    ASSERT_TRUE(ui.load());
    ui.show();
    EXPECT_EQ(ui.window.entries(), Entries{});
    EXPECT_TRUE(ui.window.close());

    EXPECT_EQ(ui.shown, std::vector<Message>{messages::entriesNotSaved(
                            command.profile->toStdString(),
                            "its name is longer than the file system takes")});
    EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

// The file systems the tests run on take names of up to 255 bytes.
INSTANTIATE_TEST_SUITE_P(Names, ProfileNamedTooLong,
                         ::testing::Values(LongName{"PastTheLimit", 300},
                                           // the name fits; the save's copies beside it do not
                                           LongName{"OnlyTheSaveCopiesPastTheLimit", 250}),
                         fw::testing::RowName());

} // namespace
} // namespace app::e2e
} // namespace fw
