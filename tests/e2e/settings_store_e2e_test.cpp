#include "e2e_window.h"
#include "support/named_rows.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <csignal>
#include <map>
#include <sys/resource.h>
#include <unistd.h>

namespace fw::app {

// Found by the assertions on entries through their namespace.
void PrintTo(const Entries &entries, std::ostream *out) {
    *out << "{" << entries.changeChannel << ", " << entries.rfChannelPosition << ", "
         << entries.txInterval.toStdString() << ", " << entries.sampleTime.toStdString() << ", "
         << entries.sleepDelay.toStdString() << ", " << entries.lowPowerModePosition << "}";
}

namespace e2e {
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
    EXPECT_TRUE(ui.shown.empty());

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
    EXPECT_EQ(ui.window.DP, nullptr);
    EXPECT_EQ(fwsim_is_open(), 0);
    EXPECT_LT(shutdownMs, kLongestShutdownMs);
    EXPECT_TRUE(ui.shown.empty());

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
        BadStore{"Unreadable", Layout::Unreadable, kStored, Entries{}, false},
        BadStore{"PathIsAFolder", Layout::Folder, kStored, Entries{}, false},
        BadStore{"FolderCannotBeCreated", Layout::ParentIsAFile, kStored, Entries{}, false},
        BadStore{"WriteFailsPartway", Layout::FileSizeLimit,
                 kStored + "[Notes]\nText=" + QByteArray(2000, 'x') + "\n",
                 restored("12", "7", "9", 2), false}),
    fw::testing::RowName());

} // namespace
} // namespace e2e
} // namespace fw::app
