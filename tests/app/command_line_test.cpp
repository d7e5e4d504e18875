#include "command_line.h"
#include "support/named_rows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fw::app {

void PrintTo(const CommandLine &c, std::ostream *out) {
    *out << "{action=" << static_cast<int>(c.action) << " output=\"" << c.output.toStdString()
         << "\" profile=" << c.profile.value_or(QStringLiteral("<none>")).toStdString()
         << " record=" << static_cast<int>(c.record) << " " << c.recordPath << " toolkit=";
    for (const int position : c.toolkitArguments)
        *out << position << ' ';
    *out << "}";
}

namespace {

using Action = CommandLine::Action;
using Record = CommandLine::Record;

CommandLine parsed(QStringList arguments) {
    arguments.prepend(QStringLiteral("/usr/bin/fleetwright"));
    return parseCommandLine(arguments);
}

CommandLine run(std::optional<QString> profile, Record record, std::string recordPath = {},
                QList<int> toolkit = {}) {
    return {
        Action::Run, {},   std::move(profile), record, std::move(recordPath), std::move(toolkit),
        {},          false};
}

CommandLine refused(const QString &problem) {
    return {Action::Refuse,
            "fleetwright: " + problem + " Try 'fleetwright --help'.\n",
            {},
            Record::Default,
            {},
            {},
            {},
            false};
}

struct ParseCase {
    const char *name;
    QStringList arguments;
    CommandLine expected;
};

class CommandLineParsing : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParsing, GivesWhatTheArgumentsAskFor) {
    EXPECT_EQ(parsed(GetParam().arguments), GetParam().expected);
}

const QString kHere = QDir::currentPath();

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineParsing,
    ::testing::Values(
        ParseCase{"Nothing", {}, run(std::nullopt, Record::Default)},
        ParseCase{"RelativeProfile",
                  {"--profile", "jobs/a.conf"},
                  run(kHere + "/jobs/a.conf", Record::Default)},
        ParseCase{"RecordElsewhere",
                  {"--record", "u.csv"},
                  run(std::nullopt, Record::File, kHere.toStdString() + "/u.csv")},
        ParseCase{
            "QtOptionsGoToQtAlone",
            {"-platform", "offscreen", "--record", "u.csv", "-reverse", "--style=fusion",
             "--display", ":1"},
            run(std::nullopt, Record::File, kHere.toStdString() + "/u.csv", {1, 2, 5, 6, 7, 8})},
        ParseCase{"AProfileNamedLikeAQtOption",
                  {"--profile", "-platform", "--record", "x"},
                  run(kHere + "/-platform", Record::File, kHere.toStdString() + "/x")},
        ParseCase{"RepeatedProfile",
                  {"--profile", "a", "--profile=b"},
                  refused("--profile can be given only once.")},
        ParseCase{"RepeatedRecord",
                  {"--record", "a", "--record", "a"},
                  refused("--record can be given only once.")},
        ParseCase{
            "NoRecordWithAProfile", {"--no-record", "--profile", "/a"}, run("/a", Record::None)},
        ParseCase{"Version",
                  {"--version"},
                  {Action::Version, "fleetwright 1.1.0\n", {}, {}, {}, {}, {}, false}},
        ParseCase{"UnknownOption", {"--bogus"}, refused("Unknown option 'bogus'.")},
        ParseCase{"MissingFile", {"--profile"}, refused("Missing value after '--profile'.")},
        ParseCase{"EmptyFile", {"--record="}, refused("--record needs a file name.")},
        ParseCase{"StrayArgument", {"job.conf"}, refused("Unexpected argument 'job.conf'.")},
        ParseCase{"RecordAndNoRecord",
                  {"--record", "u.csv", "--no-record"},
                  refused("--record and --no-record cannot be used together.")},
        ParseCase{"Provider",
                  {"--provider", "lib/x.so"},
                  [] {
                      CommandLine command;
                      command.provider = "lib/x.so";
                      return command;
                  }()},
        ParseCase{"Simulator",
                  {"--simulator"},
                  [] {
                      CommandLine command;
                      command.simulator = true;
                      return command;
                  }()},
        ParseCase{"EmptyProvider", {"--provider="}, refused("--provider needs a file name.")},
        ParseCase{"ProviderAndSimulator",
                  {"--simulator", "--provider", "x.so"},
                  refused("--provider and --simulator cannot be used together.")},
        ParseCase{"MistakeBeforeHelp", {"--help", "--bogus"}, refused("Unknown option 'bogus'.")}),
    fw::testing::RowName());

TEST(CommandLineNames, AreTheBytesTheShellPassed) {
    // Not UTF-8: the locale's decoding would make another name of it.
    const char *argv[] = {"fleetwright", "--record", "/tmp/u\xff\xfe.csv", "--profile",
                          "/tmp/p\xff.conf"};
    const CommandLine command = parseCommandLine(argumentsOf(3, argv));
    EXPECT_EQ(command.recordPath, "/tmp/u\xff\xfe.csv");
    EXPECT_EQ(parseCommandLine(argumentsOf(5, argv)).action, Action::Refuse);
}

// ---- the built program ------------------------------------------------------------------

struct Outcome {
    int exitCode;
    QString out;
    QString err;
};

// Runs the program with no display, a provider library that does not exist and, should
// it get as far as a message, an answer at once: help and mistakes must not get there.
// The program's files in dir: the simulator's lock, the settings and the record.
QProcessEnvironment scratchEnvironment(const QTemporaryDir &dir) {
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("FLEETWRIGHT_SIM_LOCK"),
                       dir.filePath(QStringLiteral("lock")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    return environment;
}

Outcome runProgram(const QStringList &arguments, const QProcessEnvironment &extra = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("FLEETWRIGHT_PROVIDER"), QStringLiteral("/nonexistent.so"));
    environment.insert(QStringLiteral("FLEETWRIGHT_EXIT_AFTER_SHOW"), QStringLiteral("1"));
    for (const QString &name : extra.keys())
        environment.insert(name, extra.value(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(FW_PROGRAM), arguments);
    if (!program.waitForFinished(20000))
        return {-1, {}, QStringLiteral("<did not end>")};
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromLocal8Bit(program.readAllStandardOutput()),
            QString::fromLocal8Bit(program.readAllStandardError())};
}

struct ProgramCase {
    const char *name;
    QStringList arguments;
    int exitCode;
    QString out; // what standard output starts with; empty: nothing at all
    QString err; // whole
};

class Program : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(Program, AnswersItsCommandLineWithoutAWindowOrTheLibrary) {
    const Outcome outcome = runProgram(GetParam().arguments);
    EXPECT_EQ(outcome.exitCode, GetParam().exitCode);
    EXPECT_EQ(outcome.out.left(GetParam().out.size()), GetParam().out);
    EXPECT_EQ(outcome.out.isEmpty(), GetParam().out.isEmpty()) << outcome.out.toStdString();
    EXPECT_EQ(outcome.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, Program,
    ::testing::Values(ProgramCase{"Help", {"--help"}, 0, "Usage: fleetwright [options]\n", ""},
                      ProgramCase{"Version", {"--version"}, 0, "fleetwright 1.1.0\n", ""},
                      ProgramCase{"QtOptionBeforeHelp",
                                  {"-platform", "nonexistent", "--help"},
                                  0,
                                  "Usage: fleetwright [options]\n",
                                  ""},
                      ProgramCase{"RepeatedRecord",
                                  {"--record", "a", "-style", "fusion", "--record", "b"},
                                  2,
                                  "",
                                  "fleetwright: --record can be given only once. Try "
                                  "'fleetwright --help'.\n"},
                      ProgramCase{
                          "UnknownOption",
                          {"--profil", "a.conf"},
                          2,
                          "",
                          "fleetwright: Unknown option 'profil'. Try 'fleetwright --help'.\n"}),
    fw::testing::RowName());

// FLEETWRIGHT_PROVIDER names a library that does not exist: only the option gets a window.
struct LibraryCase {
    const char *name;
    QStringList arguments;
    bool shown;
    QString message; // part of what the program says instead, when it is not shown
};

class ProgramLibrary : public ::testing::TestWithParam<LibraryCase> {};

TEST_P(ProgramLibrary, IsTheOneTheOptionsName) {
    QTemporaryDir dir;
    QProcessEnvironment environment = scratchEnvironment(dir);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Outcome outcome = runProgram(GetParam().arguments, environment);
    EXPECT_EQ(outcome.out.startsWith(QStringLiteral("shown ")), GetParam().shown)
        << outcome.out.toStdString();
    EXPECT_TRUE(outcome.out.contains(GetParam().message)) << outcome.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Options, ProgramLibrary,
    ::testing::Values(LibraryCase{"Simulator", {"--simulator"}, true, {}},
                      LibraryCase{"Provider", {"--provider", FW_SIMULATOR}, true, {}},
                      LibraryCase{"MissingProvider",
                                  {"--provider", "/nonexistent/other.so"},
                                  false,
                                  "/nonexistent/other.so"},
                      LibraryCase{"NoOption", {}, false, "fleetwright --simulator"}),
    fw::testing::RowName());

TEST(ProgramQtOptions, ReachQtAndTheProgramsOwnOptionsDoNot) {
    QTemporaryDir dir;
    QProcessEnvironment environment = scratchEnvironment(dir);
    environment.insert(QStringLiteral("FLEETWRIGHT_PROVIDER"), QStringLiteral(FW_SIMULATOR));
    const QString profile = dir.filePath(QStringLiteral("-platform"));

    // Without a display, only Qt's -platform makes the window possible.
    const Outcome outcome =
        runProgram({QStringLiteral("-platform"), QStringLiteral("offscreen"),
                    QStringLiteral("--profile"), profile, QStringLiteral("--reverse")},
                   environment);

    EXPECT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
    EXPECT_TRUE(outcome.out.startsWith(QStringLiteral("shown "))) << outcome.out.toStdString();
    EXPECT_TRUE(QFile::exists(profile));
}

// Where a named pipe is put: the program's own store, or a place QSettings would also read
// when asked by application name (the organisation's file, the system-wide folders).
enum class PipePlace { Profile, UserStore, OrganisationFile, FirstSystemFolder, LastSystemFolder };

struct PipeCase {
    const char *name;
    PipePlace place;
};

// The pipe's path for a row, under dir; the system-wide folders are dir/xdg1 and dir/xdg2.
QString pipePath(const QTemporaryDir &dir, PipePlace place) {
    switch (place) {
    case PipePlace::Profile:
        return dir.filePath(QStringLiteral("job.conf"));
    case PipePlace::UserStore:
        return dir.filePath(QStringLiteral("config/fleetwright/fleetwright.conf"));
    case PipePlace::OrganisationFile:
        return dir.filePath(QStringLiteral("config/fleetwright.conf"));
    case PipePlace::FirstSystemFolder:
        return dir.filePath(QStringLiteral("xdg1/fleetwright/fleetwright.conf"));
    case PipePlace::LastSystemFolder:
        return dir.filePath(QStringLiteral("xdg2/fleetwright.conf"));
    }
    return {};
}

void PrintTo(const PipeCase &row, std::ostream *out) {
    *out << row.name;
}

class ProgramWithAPipe : public ::testing::TestWithParam<PipeCase> {};

TEST_P(ProgramWithAPipe, StartsWithoutWaitingOnIt) {
    QTemporaryDir dir;
    const PipePlace place = GetParam().place;
    const QString pipe = pipePath(dir, place);
    QDir().mkpath(QFileInfo(pipe).path());
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QProcessEnvironment environment = scratchEnvironment(dir);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("FLEETWRIGHT_PROVIDER"), QStringLiteral(FW_SIMULATOR));
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), dir.filePath(QStringLiteral("xdg1")) +
                                                              u':' +
                                                              dir.filePath(QStringLiteral("xdg2")));
    QStringList arguments;
    if (place == PipePlace::Profile)
        arguments << QStringLiteral("--profile") << pipe;

    const Outcome outcome = runProgram(arguments, environment);

    EXPECT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
    const bool ownStore = place == PipePlace::Profile || place == PipePlace::UserStore;
    if (ownStore)
        EXPECT_TRUE(
            outcome.out.startsWith(QStringLiteral("message Warning: The saved entries in ") + pipe +
                                   QStringLiteral(" cannot be read: it is not a regular file")))
            << outcome.out.toStdString();
    else // a file the program never reads: start-up has nothing to say about it
        EXPECT_TRUE(outcome.out.startsWith(QStringLiteral("shown "))) << outcome.out.toStdString();
    EXPECT_TRUE(outcome.out.contains(QStringLiteral("shown "))) << outcome.out.toStdString();
    struct stat status {};
    EXPECT_TRUE(::stat(QFile::encodeName(pipe).constData(), &status) == 0 &&
                S_ISFIFO(status.st_mode))
        << "the pipe was replaced";
}

INSTANTIATE_TEST_SUITE_P(
    Places, ProgramWithAPipe,
    ::testing::Values(PipeCase{"Profile", PipePlace::Profile},
                      PipeCase{"UserStore", PipePlace::UserStore},
                      PipeCase{"OrganisationFile", PipePlace::OrganisationFile},
                      PipeCase{"FirstSystemFolder", PipePlace::FirstSystemFolder},
                      PipeCase{"LastSystemFolder", PipePlace::LastSystemFolder}),
    fw::testing::RowName());

TEST(ProgramProfile, IsCreatedAtCloseAndThePerUserStoreIsNeitherReadNorWritten) {
    QTemporaryDir dir;
    const QString profile = dir.filePath(QStringLiteral("jobs/bridge.conf"));
    QProcessEnvironment environment = scratchEnvironment(dir);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("FLEETWRIGHT_PROVIDER"), QStringLiteral(FW_SIMULATOR));
    QDir(dir.path()).mkpath(QStringLiteral("jobs"));

    const Outcome outcome = runProgram({QStringLiteral("--profile"), profile}, environment);

    EXPECT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
    EXPECT_TRUE(outcome.out.startsWith(QStringLiteral("shown "))) << outcome.out.toStdString();
    const QSettings written(profile, QSettings::IniFormat);
    EXPECT_EQ(written.value(QStringLiteral("Settings/TXInterval")).toString(), "333");
    EXPECT_EQ(written.value(QStringLiteral("Settings/LowPowerMode")).toString(), "0");
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("config"))));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("state")))); // no update, no record
}

} // namespace
} // namespace fw::app
