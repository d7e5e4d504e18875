#include "support/named_rows.h"
#include "support/recording_window.h"
#include "support/time_zone.h"
#include "update_record.h"
#include "user_folders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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

struct TextCase {
    const char *name;
    std::string text; // from the library or the module
    std::string field;
};

class TextField : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextField, IsValidUtf8WithoutControlsAndNeverAFormula) {
    EXPECT_EQ(textField(GetParam().text), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextField,
    ::testing::Values(
        TextCase{"Plain", "RX-LC", "RX-LC"},
        TextCase{"UnicodeKept", "Mo\xc3\xafra \xe2\x82\xac", "Mo\xc3\xafra \xe2\x82\xac"},
        TextCase{"Formula", "=1+1", "'=1+1"},
        TextCase{"FormulaWithCommas", "=HYPERLINK(\"h\",\"x\")",
                 "\"'=HYPERLINK(\"\"h\"\",\"\"x\"\")\""},
        TextCase{"OtherFormulaStarts", "+1", "'+1"},
        TextCase{"MinusAndAt", "-2+3,@SUM(A1)", "\"'-2+3,@SUM(A1)\""},
        TextCase{"ControlsAsHex", "RX\x1b[2J\tL\a\x7f", "RX\\x1b[2J\\x09L\\x07\\x7f"},
        TextCase{"LeadingTabIsShownNotGuarded", "\t=1", "\\x09=1"},
        TextCase{"InvalidBytesAsHex", "M\xff\xc3(\xed\xa0\x80\xf0\x9f",
                 "M\\xff\\xc3(\\xed\\xa0\\x80\\xf0\\x9f"},
        TextCase{"C1Controls",
                 "a\xc2\x85"
                 "b",
                 "a\\xc2\\x85b"},
        TextCase{"LineBreaksStayJoined", "No answer\r\nTry again", "No answer / Try again"}),
    fw::testing::RowName());

struct LineCase {
    const char *name;
    std::function<void(UpdateReport &)> arrange;
    std::string line;
};

class RecordLine : public ::testing::TestWithParam<LineCase> {};

// A failed update on the "Acquisition Modules" tab, changed by each row.
TEST_P(RecordLine, HoldsEveryColumnInItsPlace) {
    UpdateReport report;
    report.moduleId = "12AB";
    report.model = "=1+1\x1b\xff";
    report.tab = UpdateTab::Acquisition;
    report.channel = 3;
    report.written = {"-5", "+2", "", "0"};
    report.message.text = "@cmd";
    GetParam().arrange(report);
    EXPECT_EQ(recordLine(report, "t"), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, RecordLine,
    ::testing::Values(
        LineCase{"TextsGuardedNumbersAsWritten", [](UpdateReport &) {},
                 "t,12AB,'=1+1\\x1b\\xff,acquisition,3,-5,+2,,0,failed,'@cmd,\n"},
        LineCase{"Verified",
                 [](UpdateReport &r) {
                     r.complete = true;
                     r.verified = true;
                 },
                 "t,12AB,'=1+1\\x1b\\xff,acquisition,3,-5,+2,,0,complete,'@cmd,yes\n"},
        // A Read writes nothing: its columns hold the module's answers, guarded as texts.
        LineCase{"ARead",
                 [](UpdateReport &r) {
                     r.tab = UpdateTab::Read;
                     r.channelKept = true;
                     r.readValues = {"-5", "10", "60", "0"};
                     r.complete = true;
                 },
                 "t,12AB,'=1+1\\x1b\\xff,read,kept,'-5,10,60,0,read,'@cmd,\n"},
        LineCase{"AFailedRead",
                 [](UpdateReport &r) {
                     r.tab = UpdateTab::Read;
                     r.channelKept = true;
                     r.readValues = {"500", "", "", ""};
                 },
                 "t,12AB,'=1+1\\x1b\\xff,read,kept,500,,,,failed,'@cmd,\n"}),
    fw::testing::RowName());

TEST(LocalTime, IsWrittenToTheSecondWithItsOffset) {
    // POSIX zones count west of Greenwich as positive.
    for (const auto &[zone, time] : {std::pair{"CET-1", "2026-12-08T15:03:27+01:00"},
                                     std::pair{"NST+3:30", "2026-12-08T10:33:27-03:30"}}) {
        const fw::testing::TimeZone local(zone);
        EXPECT_EQ(isoLocalTime(1796738607), time) << zone;
    }
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

// Rows as an RFC 4180 reader (a spreadsheet, Python's csv) reads them: a quoted field may
// hold line breaks, and a doubled quote in it stands for one.
std::vector<std::vector<std::string>> csvRows(const std::string &text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    bool fieldStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"' && fieldStart) {
            quoted = true;
            fieldStart = false;
        } else if (c == ',' || c == '\n') {
            row.push_back(std::exchange(field, {}));
            fieldStart = true;
            if (c == '\n')
                rows.push_back(std::exchange(row, {}));
        } else {
            field += c;
            fieldStart = false;
        }
    }
    if (!fieldStart || !row.empty())
        rows.push_back(row);
    return rows;
}

TEST_F(AppendLine, ALineCutInsideAQuotedFieldIsClosedAndTheNextLinesAreRowsOfTheirOwn) {
    const QString file = path("updates.csv");
    const std::string whole = "t0,12AB,RX,general,kept,,,,,complete,done\n";
    writeFile(file, kHeaderLine + whole + "t1,12AB,\"GH");
    const std::string later = "t2,12AB,RX,general,kept,,,,,complete,\"a, b\"\n";
    ASSERT_EQ(appendLine(file.toStdString(), later), std::nullopt);
    ASSERT_EQ(appendLine(file.toStdString(), later), std::nullopt);

    const std::string text = readAll(file);
    EXPECT_EQ(text, kHeaderLine + whole + "t1,12AB,\"GH\"\n" + later + later);
    const auto rows = csvRows(text);
    ASSERT_EQ(rows.size(), 5U); // the header, the whole line, the mended one and two more
    EXPECT_EQ(rows[2], (std::vector<std::string>{"t1", "12AB", "GH"}));
    EXPECT_EQ(rows[3].size(), 11U);
    EXPECT_EQ(rows[4].back(), "a, b");
}

// However long the cut line, the mend reads back to its start: a line that ends inside a
// quoted field and runs past any fixed look-back must still be closed.
TEST_F(AppendLine, ALongCutLineIsClosedFromItsStart) {
    const QString file = path("updates.csv");
    const std::string whole = "t0,12AB,RX,general,kept,,,,,complete,done\n";
    const std::string cut = "t1,12AB,RX,general,kept,,,,,failed,\"Cut" + std::string(200000, 'x');
    writeFile(file, kHeaderLine + whole + cut);
    const std::string later = "t2,12AB,RX,general,kept,,,,,complete,done\n";
    ASSERT_EQ(appendLine(file.toStdString(), later), std::nullopt);
    const std::string text = readAll(file);
    EXPECT_EQ(text, kHeaderLine + whole + cut + "\"\n" + later);
    EXPECT_EQ(csvRows(text).size(), 4U);
}

struct TailCase {
    const char *name;
    std::string tail; // the end of the file
    std::string mending;
};

class Mending : public ::testing::TestWithParam<TailCase> {};

TEST_P(Mending, ClosesWhatTheCutLineLeftOpenAndNothingElse) {
    EXPECT_EQ(mendingFor(GetParam().tail), GetParam().mending);
}

INSTANTIATE_TEST_SUITE_P(
    Tails, Mending,
    ::testing::Values(TailCase{"Empty", "", ""}, TailCase{"WholeLine", "a,\"b\"\n", ""},
                      TailCase{"CutPlain", "a\nb,1A2B3C,RX-L", "\n"},
                      TailCase{"CutInQuotes", "a\nb,\"x, y", "\"\n"},
                      TailCase{"CutAfterADoubledQuote", "a\nb,\"say \"\"", "\"\n"},
                      TailCase{"CutAfterTheClosingQuote", "a\nb,\"x, y\"", "\n"},
                      TailCase{"QuoteInsideAPlainField", "a\nb,x\"y", "\n"}),
    fw::testing::RowName());

TEST_F(AppendLine, ALineThatDoesNotGoInWholeLeavesTheFileAsItWas) {
    // A file size limit cuts the write short as a full file system would, without root.
    const QString file = path("updates.csv");
    const std::string before = kHeaderLine + "t0,12AB,RX\n" + "t1,cut,\"G";
    writeFile(file, before);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 8, before.size() + 8};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto failure = appendLine(file.toStdString(), std::string(100, 'x') + "\n");
        ::_exit(failure == std::string("File too large") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write did not fail";
    EXPECT_EQ(readAll(file), before);
}

TEST_F(AppendLine, ANewRecordWhoseFirstLineDoesNotGoInIsRemoved) {
    const QString file = path("updates.csv");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, 16}; // less than the header
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto failure = appendLine(file.toStdString(), "a,1\n");
        ::_exit(failure == std::string("File too large") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write did not fail";
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(AppendLine, AFullFileSystemLeavesTheFileAsItWas) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const QString folder = path("small");
    QDir().mkpath(folder);
    const QByteArray mountPoint = QFile::encodeName(folder);
    if (std::system(
            ("mount -t tmpfs -o size=8k tmpfs '" + mountPoint.toStdString() + "'").c_str()) != 0)
        GTEST_SKIP() << "this system does not let even root mount a tmpfs here";
    const QString file = folder + QStringLiteral("/updates.csv");
    const std::string before = kHeaderLine + "t0,12AB,RX\n";
    writeFile(file, before);
    writeFile(folder + QStringLiteral("/filler"), std::string(4096, 'f')); // all but a page
    const auto failure = appendLine(file.toStdString(), std::string(8192, 'x') + "\n");
    const std::string after = readAll(file);
    std::system(("umount '" + mountPoint.toStdString() + "'").c_str());
    EXPECT_EQ(failure, std::string("No space left on device"));
    EXPECT_EQ(after, before);
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

// One rule for every per-user file: the settings and the record alike.
struct FolderCase {
    const char *name;
    const char *variable;
    const char *home;
    const char *accountHome;
    std::string folder;
};

class UserFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(UserFolder, FollowsTheBaseDirectoryRules) {
    const FolderCase &row = GetParam();
    EXPECT_EQ(userFolder(row.variable, ".local/state", row.home, row.accountHome), row.folder);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, UserFolder,
    ::testing::Values(
        FolderCase{"Set", "/st", "/home/op", "/home/acc", "/st"},
        FolderCase{"Unset", nullptr, "/home/op", "/home/acc", "/home/op/.local/state"},
        FolderCase{"Empty", "", "/home/op", "/home/acc", "/home/op/.local/state"},
        FolderCase{"Relative", "st", "/home/op", "/home/acc", "/home/op/.local/state"},
        FolderCase{"HomeUnset", nullptr, nullptr, "/home/acc", "/home/acc/.local/state"},
        FolderCase{"HomeRelative", "st", "op", "/home/acc", "/home/acc/.local/state"},
        FolderCase{"NoHomeAtAll", nullptr, "", "acc", "/.local/state"},
        FolderCase{"HomeIsRoot", nullptr, "/", nullptr, "/.local/state"}),
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
