#include "support/named_rows.h"
#include "support/recording_window.h"
#include "update_record.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fw::record {
namespace {

const std::string kHeaderLine(kHeader);

std::string readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<unreadable>";
}

void writeFile(const QString &path, const std::string &content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content.data(), static_cast<qint64>(content.size()));
}

struct FieldCase {
    const char *name;
    std::string text;
    std::string field;
};

class CsvField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CsvField, StaysOnOneLineAndIsQuotedOnlyWhenItMustBe) {
    EXPECT_EQ(csvField(GetParam().text), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(Texts, CsvField,
                         ::testing::Values(FieldCase{"Plain", "RX-LC", "RX-LC"},
                                           FieldCase{"Comma", "RX,IM", "\"RX,IM\""},
                                           FieldCase{"Quotes", "say \"hi\"", "\"say \"\"hi\"\"\""},
                                           FieldCase{"LineBreaks", "Cannot Save!\r\nTry again.",
                                                     "Cannot Save! / Try again."},
                                           FieldCase{"LoneBreaksAndComma", "a\nb\rc,",
                                                     "\"a / b / c,\""},
                                           FieldCase{"OuterBlanks", " RX ", "\" RX \""}),
                         fw::testing::RowName());

TEST(LocalTime, IsWrittenToTheSecondWithItsOffset) {
    const char *saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    // POSIX zones count west of Greenwich as positive.
    for (const auto &[zone, time] : {std::pair{"CET-1", "2026-12-08T15:03:27+01:00"},
                                     std::pair{"NST+3:30", "2026-12-08T10:33:27-03:30"}}) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_EQ(isoLocalTime(1796738607), time) << zone;
    }
    saved ? setenv("TZ", before.c_str(), 1) : unsetenv("TZ");
    tzset();
}

class AppendLine : public ::testing::Test {
protected:
    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }
    QTemporaryDir dir;
};

TEST_F(AppendLine, StartsWithTheHeaderAndNeverContinuesALineCutShort) {
    const QString file = path("updates.csv");
    EXPECT_EQ(appendLine(file.toStdString(), "a,1\n"), std::nullopt);
    EXPECT_EQ(readAll(file), kHeaderLine + "a,1\n");
    writeFile(file, kHeaderLine + "a,1\n2026-12-08T14:0");
    EXPECT_EQ(appendLine(file.toStdString(), "b,2\n"), std::nullopt);
    EXPECT_EQ(readAll(file), kHeaderLine + "a,1\n2026-12-08T14:0\nb,2\n");
}

struct Unwritable {
    const char *name;
    void (*prepare)(const QString &folder); // the record goes to folder/updates.csv
    const char *reason;
};

class UnwritableRecord : public AppendLine, public ::testing::WithParamInterface<Unwritable> {};

// Root may write anywhere, so these are places that permissions do not decide.
TEST_P(UnwritableRecord, SaysWhyWithoutWaiting) {
    GetParam().prepare(path("x"));
    EXPECT_EQ(appendLine(path("x/updates.csv").toStdString(), "a,1\n"),
              std::string(GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(
    Places, UnwritableRecord,
    ::testing::Values(
        Unwritable{"FolderIsAFile", [](const QString &f) { writeFile(f, ""); }, "Not a directory"},
        Unwritable{"RecordIsAFolder",
                   [](const QString &f) { QDir().mkpath(f + QStringLiteral("/updates.csv")); },
                   "Is a directory"},
        Unwritable{"RecordIsAPipe",
                   [](const QString &f) {
                       QDir().mkpath(f);
                       ::mkfifo(QFile::encodeName(f + QStringLiteral("/updates.csv")).constData(),
                                0600);
                   },
                   "Not a regular file"}),
    fw::testing::RowName());

TEST_F(AppendLine, TwoProgramsAppendingAtOnceNeverMixTheirLines) {
    const std::string file = path("updates.csv").toStdString();
    constexpr int kLines = 300;
    const auto lineOf = [](char who, int n) {
        return std::string(1, who) + std::to_string(n) + std::string(200, who) + "\n";
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

    std::istringstream lines(readAll(QString::fromStdString(file)).substr(kHeader.size()));
    int next[2] = {0, 0};
    for (std::string line; std::getline(lines, line);) {
        const int who = line[0] == 'a' ? 0 : 1;
        ASSERT_EQ(line + "\n", lineOf(line[0], next[who]++)) << "a mixed or lost line";
    }
    EXPECT_EQ(next[0] + next[1], 2 * kLines);
}

TEST_F(AppendLine, ARecordLockedForLongGivesUpRatherThanHoldTheUpdate) {
    const QString file = path("updates.csv");
    writeFile(file, kHeaderLine);
    const int stuck = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(stuck, LOCK_EX), 0);
    EXPECT_EQ(appendLine(file.toStdString(), "a,1\n"),
              std::string("Another program keeps the record locked"));
    ::close(stuck);
    EXPECT_EQ(readAll(file), kHeaderLine);
}

struct PathCase {
    const char *name;
    const char *stateHome;
    std::string path;
};

class DefaultPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(DefaultPath, FollowsTheBaseDirectoryRules) {
    EXPECT_EQ(defaultRecordPath(GetParam().stateHome, "/home/op"), GetParam().path);
}

const std::string kInHome = "/home/op/.local/state/fleetwright/updates.csv";

INSTANTIATE_TEST_SUITE_P(StateHomes, DefaultPath,
                         ::testing::Values(PathCase{"Set", "/st", "/st/fleetwright/updates.csv"},
                                           PathCase{"Unset", nullptr, kInHome},
                                           PathCase{"Empty", "", kInHome},
                                           PathCase{"Relative", "st", kInHome}),
                         fw::testing::RowName());

TEST_F(AppendLine, ARecordThatCannotBeWrittenIsToldOncePerRun) {
    writeFile(path("blocked"), "");
    const std::string file = path("blocked/updates.csv").toStdString();
    std::ostringstream errors;
    UpdateRecord record(file, true, errors, [] { return std::time_t{0}; });

    EXPECT_EQ(record.updateEnding({}),
              (Message{"Cannot write the update record " + file +
                           "\r\nNot a directory\r\nUpdates go on without it; this warning is not "
                           "repeated until the next start.",
                       "Update record", MessageIcon::Warning}));
    EXPECT_EQ(record.updateEnding({}), std::nullopt);
    EXPECT_EQ(errors.str(),
              "fleetwright: cannot write the update record " + file + ": Not a directory\n");
}

} // namespace
} // namespace fw::record
