#include "support/recording_window.h"
#include "support/row_name.h"
#include "update_record.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fw::record {
namespace {

const std::string kHeaderLine(kHeader);

std::string readAll(const std::string &path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<unreadable>";
}

void writeFile(const std::string &path, const std::string &content) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content.data(), static_cast<qint64>(content.size()));
}

struct FieldCase {
    const char *name;
    std::string text;
    std::string field;
};

void PrintTo(const FieldCase &c, std::ostream *out) {
    *out << c.name;
}

class CsvField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CsvField, StaysOnOneLineAndIsQuotedOnlyWhenItMustBe) {
    EXPECT_EQ(csvField(GetParam().text), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CsvField,
    ::testing::Values(FieldCase{"Plain", "RX-LC", "RX-LC"}, FieldCase{"Empty", "", ""},
                      FieldCase{"Comma", "RX,IM", "\"RX,IM\""},
                      FieldCase{"Quotes", "say \"hi\"", "\"say \"\"hi\"\"\""},
                      FieldCase{"LineBreaks", "Model: RX-LC\r\nID: 12AB\r\nCompleted OK",
                                "Model: RX-LC / ID: 12AB / Completed OK"},
                      FieldCase{"LoneBreaks", "a\nb\rc", "a / b / c"},
                      FieldCase{"BreakAndComma", "Cannot Save!\r\nTry again, please",
                                "\"Cannot Save! / Try again, please\""},
                      FieldCase{"OuterBlanks", " RX ", "\" RX \""}),
    fw::testing::RowName());

struct ZoneCase {
    const char *name;
    const char *tz; // POSIX form: the offset's sign is west of Greenwich
    const char *time;
};

void PrintTo(const ZoneCase &c, std::ostream *out) {
    *out << c.name;
}

class LocalTime : public ::testing::TestWithParam<ZoneCase> {
protected:
    void SetUp() override {
        const char *tz = std::getenv("TZ");
        saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        setenv("TZ", GetParam().tz, 1);
        tzset();
    }
    void TearDown() override {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST_P(LocalTime, IsWrittenToTheSecondWithItsOffset) {
    EXPECT_EQ(isoLocalTime(1796738607), GetParam().time);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, LocalTime,
    ::testing::Values(ZoneCase{"Utc", "UTC0", "2026-12-08T14:03:27+00:00"},
                      ZoneCase{"East", "CET-1", "2026-12-08T15:03:27+01:00"},
                      ZoneCase{"WestHalfHour", "NST+3:30", "2026-12-08T10:33:27-03:30"},
                      ZoneCase{"EastQuarterHour", "NPT-5:45", "2026-12-08T19:48:27+05:45"}),
    fw::testing::RowName());

const std::string kTime = "2026-12-08T14:03:27+01:00";

UpdateReport completedGeneral() {
    return {"12AB",
            "RX-LC",
            UpdateTab::General,
            true,
            0,
            {},
            true,
            {"Model: RX-LC\r\nID: 12AB\r\nCompleted OK", "Update Complete", MessageIcon::None}};
}

TEST(RecordLine, HasEveryColumnInOrder) {
    UpdateReport acquisition = completedGeneral();
    acquisition.model = "RX,IM";
    acquisition.tab = UpdateTab::Acquisition;
    acquisition.channelKept = false;
    acquisition.channel = 7;
    acquisition.written = {"333", "", "60", "1"};
    acquisition.message.text = "Model: RX,IM\r\nID: 12AB\r\nCompleted OK";

    UpdateReport unpaired;
    unpaired.tab = UpdateTab::Acquisition;
    unpaired.channel = 16;
    unpaired.message = {"Did not pair with a remote module!", "Error", MessageIcon::Warning};

    EXPECT_EQ(recordLine(completedGeneral(), kTime),
              kTime + ",12AB,RX-LC,general,kept,,,,,complete,"
                      "Model: RX-LC / ID: 12AB / Completed OK\n");
    EXPECT_EQ(recordLine(acquisition, kTime),
              kTime + ",12AB,\"RX,IM\",acquisition,7,333,,60,1,complete,"
                      "\"Model: RX,IM / ID: 12AB / Completed OK\"\n");
    EXPECT_EQ(recordLine(unpaired, kTime),
              kTime + ",,,acquisition,16,,,,,failed,Did not pair with a remote module!\n");
}

class AppendLine : public ::testing::Test {
protected:
    std::string path(const char *name) const { return dir.filePath(name).toStdString(); }
    QTemporaryDir dir;
};

TEST_F(AppendLine, StartsANewFileWithTheHeaderAndAddsLinesBelowIt) {
    const std::string file = path("updates.csv");
    EXPECT_EQ(appendLine(file, "a,1\n"), std::nullopt);
    EXPECT_EQ(appendLine(file, "b,2\n"), std::nullopt);
    EXPECT_EQ(readAll(file), kHeaderLine + "a,1\nb,2\n");
}

TEST_F(AppendLine, AnEmptyFileGetsTheHeaderToo) {
    const std::string file = path("updates.csv");
    writeFile(file, "");
    EXPECT_EQ(appendLine(file, "a,1\n"), std::nullopt);
    EXPECT_EQ(readAll(file), kHeaderLine + "a,1\n");
}

TEST_F(AppendLine, ALineCutShortEarlierIsKeptAndTheNewOneStartsOnItsOwnLine) {
    const std::string file = path("updates.csv");
    writeFile(file, kHeaderLine + "a,1\n2026-12-08T14:0");
    EXPECT_EQ(appendLine(file, "b,2\n"), std::nullopt);
    EXPECT_EQ(readAll(file), kHeaderLine + "a,1\n2026-12-08T14:0\nb,2\n");
}

struct Unwritable {
    const char *name;
    void (*prepare)(const QTemporaryDir &dir); // makes dir/x/updates.csv unusable
    const char *reason;
};

void PrintTo(const Unwritable &c, std::ostream *out) {
    *out << c.name;
}

class UnwritableRecord : public AppendLine, public ::testing::WithParamInterface<Unwritable> {};

// Root may write anywhere, so every case is one that permissions do not decide.
TEST_P(UnwritableRecord, SaysWhyWithoutWaiting) {
    GetParam().prepare(dir);
    EXPECT_EQ(appendLine(path("x/updates.csv"), "a,1\n"), std::string(GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(
    Places, UnwritableRecord,
    ::testing::Values(
        Unwritable{"FolderIsAFile",
                   [](const QTemporaryDir &d) { writeFile(d.filePath("x").toStdString(), ""); },
                   "Not a directory"},
        Unwritable{"FolderMissing", [](const QTemporaryDir &) {}, "No such file or directory"},
        Unwritable{"RecordIsAFolder",
                   [](const QTemporaryDir &d) { QDir(d.path()).mkpath("x/updates.csv"); },
                   "Is a directory"},
        Unwritable{"RecordIsAPipeWithoutReader",
                   [](const QTemporaryDir &d) {
                       QDir(d.path()).mkpath("x");
                       ::mkfifo(QFile::encodeName(d.filePath("x/updates.csv")).constData(), 0600);
                   },
                   "Not a regular file"}),
    fw::testing::RowName());

TEST_F(AppendLine, TwoProgramsAppendingAtOnceNeverMixTheirLines) {
    const std::string file = path("updates.csv");
    constexpr int kLines = 300;
    const auto lineOf = [](char who, int n) {
        return std::string(1, who) + "," + std::to_string(n) + "," + std::string(200, who) + "\n";
    };
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            for (int n = 0; n < kLines; ++n)
                if (appendLine(file, lineOf(c == 0 ? 'a' : 'b', n)))
                    ::_exit(1);
            ::_exit(0);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::istringstream lines(readAll(file));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line + "\n", kHeaderLine);
    int next[2] = {0, 0};
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        const int who = line[0] == 'a' ? 0 : 1;
        ASSERT_EQ(line + "\n", lineOf(line[0], next[who])) << "a mixed or lost line";
        ++next[who];
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

TEST_F(AppendLine, MissingFoldersAreMadeForTheOwnerOnly) {
    const std::string file = path("state/fleetwright/updates.csv");
    EXPECT_EQ(makeFolders(file), std::nullopt);
    EXPECT_EQ(makeFolders(file), std::nullopt); // already there
    for (const char *folder : {"state", "state/fleetwright"}) {
        struct stat status {};
        ASSERT_EQ(::stat(path(folder).c_str(), &status), 0) << folder;
        EXPECT_EQ(status.st_mode & 0777, 0700u) << folder;
    }
}

struct PathCase {
    const char *name;
    const char *stateHome;
    std::string path;
};

void PrintTo(const PathCase &c, std::ostream *out) {
    *out << c.name;
}

class DefaultPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(DefaultPath, FollowsTheBaseDirectoryRules) {
    EXPECT_EQ(defaultRecordPath(GetParam().stateHome, "/home/op"), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    StateHomes, DefaultPath,
    ::testing::Values(PathCase{"Set", "/var/st", "/var/st/fleetwright/updates.csv"},
                      PathCase{"Unset", nullptr, "/home/op/.local/state/fleetwright/updates.csv"},
                      PathCase{"Empty", "", "/home/op/.local/state/fleetwright/updates.csv"},
                      PathCase{"Relative", "st", "/home/op/.local/state/fleetwright/updates.csv"}),
    fw::testing::RowName());

TEST_F(AppendLine, TheRecordWritesEachUpdateWithTheTimeItEnded) {
    const std::string file = path("state/fleetwright/updates.csv");
    std::ostringstream errors;
    UpdateRecord record(file, true, errors, [] { return std::time_t{1796738607}; });
    EXPECT_EQ(record.updateEnding(completedGeneral()), std::nullopt);
    EXPECT_EQ(readAll(file),
              kHeaderLine + recordLine(completedGeneral(), isoLocalTime(1796738607)));
    EXPECT_EQ(errors.str(), "");
}

TEST_F(AppendLine, ARecordThatCannotBeWrittenIsToldOncePerRun) {
    writeFile(path("blocked"), "");
    const std::string file = path("blocked/updates.csv");
    std::ostringstream errors;
    UpdateRecord record(file, false, errors, [] { return std::time_t{0}; });

    const auto first = record.updateEnding(completedGeneral());
    const auto second = record.updateEnding(completedGeneral());

    EXPECT_EQ(first, (Message{"Cannot write the update record " + file +
                                  "\r\nNot a directory\r\nUpdates go on without it; this warning "
                                  "is not repeated until the next start.",
                              "Update record", MessageIcon::Warning}));
    EXPECT_EQ(second, std::nullopt);
    EXPECT_EQ(errors.str(),
              "fleetwright: cannot write the update record " + file + ": Not a directory\n");
}

} // namespace
} // namespace fw::record
