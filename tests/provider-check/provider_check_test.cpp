#include "checks.h"
#include "data_provider.h"
#include "device/sim_environment.h"
#include "messages.h"
#include "provider_library.h"
#include "runner.h"
#include "support/child_status.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char **environ; // NOLINT(readability-redundant-declaration)

namespace fw::check {
namespace {

using namespace std::chrono_literals;
using fw::testing::SimEnvironment;
using Names = std::set<std::string>;
using Environment = std::vector<std::pair<const char *, std::string>>;

// One module at the bench, as a maker checks with: the channel check pairs the module it
// moved once more, and the simulator wakes its fleet in turn.
const char *const kOneModule = "1A2B3C:RX-LC:3";

struct CheckerRun {
    int status = -1;
    std::string out;
    std::vector<std::string> lines;
};

CheckerRun runChecker(const std::string &arguments) {
    CheckerRun run;
    FILE *pipe = popen((std::string(FW_CHECKER) + " " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return run;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        run.out.append(chunk, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        run.lines.push_back(line);
    return run;
}

const Check &checkNamed(std::string_view name) {
    const auto checks = allChecks();
    const auto found = std::find_if(checks.begin(), checks.end(),
                                    [name](const Check &check) { return check.name == name; });
    if (found == checks.end())
        throw std::invalid_argument("no check " + std::string(name));
    return *found;
}

// The names of the checks on "not ok" lines; every other test line must be a plain "ok".
Names failedChecks(const CheckerRun &run) {
    Names failed;
    for (const std::string &line : run.lines) {
        const bool notOk = line.starts_with("not ok ");
        if (!notOk && !line.starts_with("ok "))
            continue;
        const std::string description = line.substr(line.find(" - ") + 3);
        for (const Check &check : allChecks())
            if (description == check.description ||
                description.starts_with(std::string(check.description) + " # SKIP "))
                if (notOk)
                    failed.insert(std::string(check.name));
    }
    return failed;
}

// TAP 14 around the check lines: version, plan, a YAML block under each failure, summary.
void expectTapFrame(const CheckerRun &run, size_t checks) {
    ASSERT_GE(run.lines.size(), 3u) << run.out;
    EXPECT_EQ(run.lines[0], "TAP version 14");
    EXPECT_EQ(run.lines[1], "1.." + std::to_string(checks));
    size_t numbered = 0;
    for (size_t i = 2; i < run.lines.size(); ++i) {
        const std::string &line = run.lines[i];
        if (line.starts_with("ok ") || line.starts_with("not ok ")) {
            ++numbered;
            const std::string prefix = line.starts_with("ok ") ? "ok " : "not ok ";
            EXPECT_TRUE(line.starts_with(prefix + std::to_string(numbered) + " - ")) << line;
        }
        if (line.starts_with("not ok ")) {
            ASSERT_LT(i + 4, run.lines.size());
            EXPECT_EQ(run.lines[i + 1], "  ---");
            EXPECT_TRUE(run.lines[i + 2].starts_with("  message: \"")) << run.lines[i + 2];
            EXPECT_TRUE(run.lines[i + 3].starts_with("  expected: \"")) << run.lines[i + 3];
            EXPECT_TRUE(run.lines[i + 4].starts_with("  got: \"")) << run.lines[i + 4];
            EXPECT_EQ(run.lines[i + 5], "  ...");
        }
    }
    EXPECT_EQ(numbered, checks);
    EXPECT_TRUE(run.lines.back().starts_with("# summary: " + std::to_string(checks) + " checks, "))
        << run.lines.back();
}

// The YAML block's "got" under the check's line.
std::string gotOf(const CheckerRun &run, std::string_view name) {
    for (size_t i = 0; i + 4 < run.lines.size(); ++i)
        if (run.lines[i].starts_with("not ok ") &&
            run.lines[i].ends_with(" - " + std::string(checkNamed(name).description)))
            return run.lines[i + 4];
    return {};
}

// ---- a library with one fault fails that check and no other ------------------------------

struct FaultCase {
    const char *name;
    const char *library;
    const char *options;
    Names failing;
    std::string got; // the YAML "got" line of the first failing check; empty: not compared
    Environment environment = {}; // the simulator's settings
};

void PrintTo(const FaultCase &c, std::ostream *os) {
    *os << c.name;
}

class CheckerFindsFault : public ::testing::TestWithParam<FaultCase> {
protected:
    SimEnvironment env;
};

TEST_P(CheckerFindsFault, FailsExactlyThatCheckWithStatus1) {
    const FaultCase &c = GetParam();
    for (const auto &[name, value] : c.environment)
        env.set(name, value);
    const CheckerRun run = runChecker(std::string(c.options) + " " + c.library);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_EQ(failedChecks(run), c.failing) << run.out;
    const std::string_view options = c.options;
    expectTapFrame(run, selectedChecks(options.find("--module") != std::string_view::npos,
                                       options.find("--write") != std::string_view::npos)
                            .size());
    if (!c.got.empty()) {
        EXPECT_EQ(gotOf(run, *c.failing.begin()), "  got: \"" + c.got + "\"") << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    BrokenLibraries, CheckerFindsFault,
    ::testing::Values(
        FaultCase{"WrongVersion", FW_TEST_PROVIDER_V2_WHOLE, "", {"version"}, "version 2"},
        FaultCase{"MissingSymbol",
                  FW_TEST_PROVIDER_NO_READ,
                  "",
                  {"symbols"},
                  "missing zdp_read_module_command"},
        FaultCase{"NullErrorText",
                  FW_TEST_PROVIDER_NULL_ERROR_TEXT,
                  "",
                  {"error-text"},
                  "NULL after zdp_create; NULL after zdp_probe_provider; NULL after "
                  "zdp_open_connection; NULL after zdp_close_connection; NULL after "
                  "zdp_get_base_channel"},
        FaultCase{"StatusWithEmptyText",
                  FW_TEST_PROVIDER_EMPTY_ERROR_TEXT,
                  "",
                  {"error-text"},
                  "empty after zdp_get_base_channel returned status -2; empty after "
                  "zdp_set_base_channel returned status -2; empty after zdp_pair_module returned "
                  "status -2; empty after zdp_write_module_command returned status -2; empty "
                  "after zdp_read_module_command returned status -2"},
        FaultCase{
            "SucceedsWithoutOpening", FW_TEST_PROVIDER_IGNORES_OPEN, "", {"not-open"}, "status 0"},
        FaultCase{"ReadPastCapacity",
                  FW_TEST_PROVIDER_READ_OVERRUN,
                  "",
                  {"read-capacity"},
                  "guard bytes changed (module ID 0)"},
        FaultCase{"CrashInProbe",
                  FW_TEST_PROVIDER_PROBE_CRASH,
                  "",
                  {"probe"},
                  "killed by signal 11 in zdp_probe_provider"},
        FaultCase{"HangInOpen",
                  FW_TEST_PROVIDER_OPEN_HANG,
                  "",
                  {"open"},
                  "no answer within 5 s in zdp_open_connection"},
        FaultCase{
            "BaseChannelZero", FW_TEST_PROVIDER_CHANNEL_ZERO, "", {"channel-range"}, "channel 0"},
        // Destroying the provider after a group's last check still counts for that check.
        FaultCase{"CrashInDestroyAfterTheLastCheck",
                  FW_TEST_PROVIDER_DESTROY_CRASH_AFTER_PROBE,
                  "",
                  {"probe"},
                  "killed by signal 11 in zdp_destroy"},
        FaultCase{"ExitInRead",
                  FW_TEST_PROVIDER_READ_EXIT,
                  "",
                  {"unknown-module", "read-capacity"},
                  "ended with exit status 3 in zdp_read_module_command"},
        FaultCase{"CrashInPairing",
                  FW_TEST_PROVIDER_PAIR_CRASH,
                  "--module",
                  {"module-alone", "module-pair"},
                  "killed by signal 11 in zdp_pair_module"},
        // Without a module in reach, the real pairing fails as well.
        FaultCase{"PairingKeepsTheOldId",
                  FW_TEST_PROVIDER_PAIR_KEEPS_ID,
                  "--module",
                  {"module-alone", "module-pair"},
                  "module ID 5A5A5A5A"},
        // What the program needs of a live module, which a library can get wrong while
        // passing everything else.
        FaultCase{"RefusesSaveAndReset",
                  FW_TEST_PROVIDER_REFUSES_SAVE_RESET,
                  "--module --write",
                  {"module-save-reset"},
                  "failure flag 1"},
        FaultCase{"WaitsForTheIncomingId",
                  FW_TEST_PROVIDER_WAITS_FOR_INCOMING_ID,
                  "--module --write",
                  {"module-pair-again"},
                  "module ID 0"},
        FaultCase{"OverrunsARealAnswer",
                  FW_TEST_PROVIDER_OVERRUNS_ANSWER,
                  "--module --write",
                  {"module-read-capacity"},
                  "guard bytes changed (command 51)"},
        FaultCase{"SecondOpenRefused",
                  FW_TEST_PROVIDER_REFUSES_SECOND_OPEN,
                  "",
                  {"open-twice"},
                  "status 0, failure flag 1"},
        FaultCase{"RefusalIsAnErrorStatus",
                  FW_TEST_PROVIDER_REFUSES_WITH_STATUS,
                  "",
                  {"unknown-module"},
                  "status -5: No such module"},
        // Answers as the program takes them: whole, within the bytes the library wrote.
        FaultCase{"ModelPaddedWithBlanks",
                  FW_TEST_PROVIDER_PADS_MODEL,
                  "--module --write",
                  {"module-model"},
                  "text \\\"RX-LC   \\\""},
        FaultCase{"LengthCountsAnUnwrittenNul",
                  FW_TEST_PROVIDER_COUNTS_UNWRITTEN_NUL,
                  "--module --write",
                  {"module-model"},
                  "text \\\"RX-LC\\x96\\\""},
        // Channel mode 0 ignored: the pairing reports the module on its own channel.
        FaultCase{"ModeZeroIgnored",
                  FW_SIMULATOR,
                  "--module",
                  {"module-pair-channel"},
                  "channel 3",
                  {{"FLEETWRIGHT_SIM_FAULTS", "ignore-channel"},
                   {"FLEETWRIGHT_SIM_FLEET", kOneModule},
                   {"FLEETWRIGHT_SIM_WAKE_MS", "1500"}}},
        // Reported as moved, and back on its own channel at the next pairing.
        FaultCase{"MoveOnlyClaimed",
                  FW_TEST_PROVIDER_CLAIMS_MOVE,
                  "--module",
                  {"module-pair-channel"},
                  "channel 3"}),
    [](const auto &row) { return std::string(row.param.name); });

// ---- the simulator and the maker's example pass everything ---------------------------------

struct PassCase {
    const char *name;
    const char *library;
    const char *options;
    bool module;
    bool write;
};

void PrintTo(const PassCase &c, std::ostream *os) {
    *os << c.name;
}

class GoodLibraryPasses : public ::testing::TestWithParam<PassCase> {
protected:
    SimEnvironment env;
};

TEST_P(GoodLibraryPasses, EveryCheckWithStatus0) {
    const PassCase &c = GetParam();
    // Late for the 1 s window that must stay empty, in time for the 10 s pairing.
    env.set("FLEETWRIGHT_SIM_WAKE_MS", "1500");
    env.set("FLEETWRIGHT_SIM_FLEET", kOneModule);
    const CheckerRun run = runChecker(std::string(c.options) + " " + c.library);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(failedChecks(run), Names{}) << run.out;
    EXPECT_EQ(run.out.find("# SKIP"), std::string::npos) << run.out;
    const size_t count = selectedChecks(c.module, c.write).size();
    expectTapFrame(run, count);
    EXPECT_EQ(run.lines.back(), "# summary: " + std::to_string(count) + " checks, " +
                                    std::to_string(count) + " passed, 0 failed, 0 skipped");
}

INSTANTIATE_TEST_SUITE_P(
    Options, GoodLibraryPasses,
    ::testing::Values(
        PassCase{"SimulatorNoModule", FW_SIMULATOR, "", false, false},
        PassCase{"SimulatorModule", FW_SIMULATOR, "--module", true, false},
        PassCase{"SimulatorModuleAndWrites", FW_SIMULATOR, "--module --write", true, true},
        // Built from the source tree as a maker builds it, symbols hidden.
        PassCase{"ExampleModuleAndWrites", FW_EXAMPLE_PROVIDER, "--module --write", true, true}),
    [](const auto &row) { return std::string(row.param.name); });

// The library runs in a process of its own: what it prints never reaches the TAP stream.
TEST(CheckerOutput, ALibraryThatPrintsLeavesTheReportAlone) {
    const CheckerRun run = runChecker(FW_TEST_PROVIDER_PRINTS);
    EXPECT_EQ(run.status, 0) << run.out;
    expectTapFrame(run, selectedChecks(false, false).size());
    EXPECT_EQ(run.out.find("printed by the library"), std::string::npos) << run.out;
}

TEST(CheckerModule, NoModuleInTheWindowFailsWithTheHintAndSkipsTheReads) {
    SimEnvironment env;
    env.set("FLEETWRIGHT_SIM_FAULTS", "nopair");
    const CheckerRun run = runChecker("--module --write " FW_SIMULATOR);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(failedChecks(run), Names{"module-pair"}) << run.out;
    EXPECT_EQ(gotOf(run, "module-pair"), "  got: \"module ID 0\"");
    EXPECT_NE(run.out.find("  message: \"no module paired within 10 s: power-cycle the module "
                           "when the checker asks\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(" - command 75 (low power mode) takes back the value just read, with "
                           "failure flag 0 # SKIP needs check \"module-read-75\" to pass"),
              std::string::npos)
        << run.out;
}

TEST(CheckerModule, RefusedWriteFailsOnlyThatWrite) {
    SimEnvironment env;
    env.set("FLEETWRIGHT_SIM_FAULTS", "write:77");
    env.set("FLEETWRIGHT_SIM_WAKE_MS", "1500");
    env.set("FLEETWRIGHT_SIM_FLEET", kOneModule);
    const CheckerRun run = runChecker("--module --write " FW_SIMULATOR);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(failedChecks(run), Names{"module-write-77"}) << run.out;
    EXPECT_EQ(gotOf(run, "module-write-77"), "  got: \"failure flag 1\"");
}

// ---- the program's own updates --------------------------------------------------------------

// The YAML "got" line of an update check whose update ended with message.
std::string gotLine(const Message &message) {
    return "  got: " + yamlQuoted("title \"" + message.title + "\", text \"" + message.text + "\"");
}

// A simulator fault that only the program's own updates meet fails the one check whose
// update ends with the program's message, quoted whole.
struct UpdateFaultCase {
    const char *name;
    const char *faults;
    const char *failing;
    Message ending;
};

void PrintTo(const UpdateFaultCase &c, std::ostream *os) {
    *os << c.name;
}

class UpdateCheckFindsFault : public ::testing::TestWithParam<UpdateFaultCase> {
protected:
    SimEnvironment env;
};

TEST_P(UpdateCheckFindsFault, FailsOnlyThatUpdateCheckWithTheProgramsMessage) {
    const UpdateFaultCase &c = GetParam();
    env.set("FLEETWRIGHT_SIM_FAULTS", c.faults);
    env.set("FLEETWRIGHT_SIM_WAKE_MS", "1500");
    const CheckerRun run = runChecker("--module --write " FW_SIMULATOR);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(failedChecks(run), Names{c.failing}) << run.out;
    EXPECT_EQ(gotOf(run, c.failing), gotLine(c.ending)) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, UpdateCheckFindsFault,
    ::testing::Values(
        // The module keeps a TX interval above 100 as 100: the program's verification ends
        // the update that writes the top of the range.
        UpdateFaultCase{"ValueKeptAsAnotherNumber", "clamp:76", "update-acquisition-forms",
                        messages::verificationFailed(CommandCode::TxInterval, "60000", "100")},
        // Pairing in channel mode 0 leaves the module on its own channel 1.
        UpdateFaultCase{"ModuleNotMoved", "ignore-channel", "update-general-change",
                        messages::moduleChannelNotTaken(2, 1)}),
    [](const auto &row) { return std::string(row.param.name); });

struct NotedCase {
    const char *name;
    const char *library;
    const char *fleet;              // the simulator's fleet; empty: its own
    std::vector<std::string> notes; // lines the report must hold
    std::vector<std::string> never; // texts no line may hold
};

void PrintTo(const NotedCase &c, std::ostream *os) {
    *os << c.name;
}

class UpdateChecksPass : public ::testing::TestWithParam<NotedCase> {
protected:
    SimEnvironment env;
};

TEST_P(UpdateChecksPass, WithTheNotesTheMakerNeeds) {
    const NotedCase &c = GetParam();
    env.set("FLEETWRIGHT_SIM_WAKE_MS", "1500");
    if (*c.fleet)
        env.set("FLEETWRIGHT_SIM_FLEET", c.fleet);
    const CheckerRun run = runChecker(std::string("--module --write ") + c.library);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(failedChecks(run), Names{}) << run.out;
    for (const std::string &note : c.notes)
        EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), note), run.lines.end())
            << note << "\n"
            << run.out;
    for (const std::string &text : c.never)
        EXPECT_EQ(run.out.find(text), std::string::npos) << text << "\n" << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Updates, UpdateChecksPass,
    ::testing::Values(
        // The contract lets a module refuse a value with a failure flag: the maker learns
        // which form and what the operator sees.
        NotedCase{"RefusedFractionsAreNoted",
                  FW_TEST_PROVIDER_REFUSES_FRACTIONS,
                  "",
                  {"# command 77 (sleep delay) refused \"1.5\" with failure flag 1 in the update "
                   "(blanks filled from the module, sleep delay 1.5): the operator sees \"Cannot "
                   "write Sleep Delay! / Try again.\"",
                   "# command 76 (TX interval) refused \"7.5\" with failure flag 1 in the update "
                   "(TX interval 7.5): the operator sees \"Cannot write TX Interval! / Try "
                   "again.\""},
                  {"refused \"60000\""}},
        // One module answers every pairing: each update is read back, and the module put
        // back as it was.
        NotedCase{"OneModuleIsReadBackAndRestored",
                  FW_SIMULATOR,
                  "12AB:GHMTX:5",
                  {},
                  {"not read back", "keep the checker's"}}),
    [](const auto &row) { return std::string(row.param.name); });

// An ok line is evidence: a property that no call exercised is skipped, with the reason.
TEST(CheckerEvidence, TextsNeverSeenAfterAnErrorStatusAreSkippedNotPassed) {
    const CheckerRun run = runChecker(FW_TEST_PROVIDER_IGNORES_OPEN);
    EXPECT_NE(run.out.find(" - " + std::string(checkNamed("error-text").description) +
                           " # SKIP no call returned an error status"),
              std::string::npos)
        << run.out;
}

// ---- status 2: nothing to check ----------------------------------------------------------

struct UnusableCase {
    const char *name;
    std::string arguments;
    const char *faults;
    std::string out; // the whole standard output
};

void PrintTo(const UnusableCase &c, std::ostream *os) {
    *os << c.name;
}

class CheckerCannotCheck : public ::testing::TestWithParam<UnusableCase> {
protected:
    SimEnvironment env;
};

TEST_P(CheckerCannotCheck, EndsWithStatus2) {
    const UnusableCase &c = GetParam();
    env.set("FLEETWRIGHT_SIM_FAULTS", c.faults);
    const CheckerRun run = runChecker(c.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Unusable, CheckerCannotCheck,
    ::testing::Values(
        UnusableCase{"NoSuchLibrary", "/nonexistent/libnothing.so", "",
                     "TAP version 14\nBail out! Cannot load /nonexistent/libnothing.so: "
                     "/nonexistent/libnothing.so: cannot open shared object file: No such file "
                     "or directory\n"},
        UnusableCase{"CreationFails", FW_SIMULATOR, "create",
                     "TAP version 14\nBail out! " FW_SIMULATOR " cannot create a provider: "
                     "status -3: Injected fault: zdp_create fails\n"},
        UnusableCase{"CrashInCreate", FW_TEST_PROVIDER_CREATE_CRASH, "",
                     "TAP version 14\nBail out! " FW_TEST_PROVIDER_CREATE_CRASH
                     " cannot create a provider: killed by signal 11 in zdp_create\n"},
        UnusableCase{"HangInDestroy", FW_TEST_PROVIDER_DESTROY_HANG, "",
                     "TAP version 14\nBail out! " FW_TEST_PROVIDER_DESTROY_HANG
                     " cannot create a provider: no answer within 5 s in zdp_destroy\n"},
        UnusableCase{"ConstructorExits", FW_TEST_PROVIDER_CONSTRUCTOR_EXIT, "",
                     "TAP version 14\nBail out! Cannot load " FW_TEST_PROVIDER_CONSTRUCTOR_EXIT
                     ": the data-provider library stopped: exited with status 3 while it was "
                     "being loaded\n"},
        UnusableCase{"WriteWithoutModule", "--write " FW_SIMULATOR, "", ""},
        UnusableCase{"TwoLibraries", FW_SIMULATOR " " FW_SIMULATOR, "", ""},
        UnusableCase{"UnknownOption", "--all " FW_SIMULATOR, "", ""}),
    [](const auto &row) { return std::string(row.param.name); });

// ---- interrupted, and started with a standard descriptor closed ---------------------------

// The checker on the library that passes calls to the simulator, with the faults given,
// its standard output in a file; spawned, so that a test can signal it.
class CheckerProcess : public ::testing::Test {
protected:
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        std::remove(faults.c_str());
        std::remove(out.c_str());
    }

    // closed: a standard descriptor the checker starts without, or -1.
    void start(const std::string &faultLines, int closed = -1) {
        std::ofstream(faults) << faultLines;
        env.set("FW_TEST_DELEGATE", FW_SIMULATOR);
        env.set("FW_TEST_FAULT_FILE", faults);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (closed >= 0)
            posix_spawn_file_actions_addclose(&actions, closed);
        std::string program = FW_CHECKER;
        std::string library = FW_FAULT_SWITCH;
        std::array<char *, 3> argv{program.data(), library.data(), nullptr};
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    // The exit status, or -1 when it did not end by itself within the limit.
    int status(std::chrono::seconds limit = 60s) { return fw::test::exitStatusWithin(pid, limit); }

    std::string output() const {
        std::ifstream file(out);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // Until some process has the library mapped (a host has loaded it), or the limit.
    bool libraryLoaded(std::chrono::seconds limit = 20s) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (!processesWithTheLibrary().empty())
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // The live processes that have the library mapped and this test's fault file in their
    // environment (other tests' hosts may run meanwhile).
    std::vector<pid_t> processesWithTheLibrary() const {
        const std::string variable = "FW_TEST_FAULT_FILE=" + faults + std::string(1, '\0');
        std::vector<pid_t> found;
        for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            const std::string stat = procText(entry.path() / "stat");
            if (!stat.empty() && stat.find(") Z") == std::string::npos &&
                procText(entry.path() / "maps").find(FW_FAULT_SWITCH) != std::string::npos &&
                procText(entry.path() / "environ").find(variable) != std::string::npos)
                found.push_back(std::stoi(name));
        }
        return found;
    }

    // A file under /proc, empty when its process has gone meanwhile.
    static std::string procText(const std::filesystem::path &path) {
        std::string text;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return text;
        char chunk[4096];
        for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;)
            text.append(chunk, static_cast<size_t>(got));
        ::close(fd);
        return text;
    }

    SimEnvironment env;
    const std::string faults = ::testing::TempDir() + "fw-check-faults-" + std::to_string(getpid());
    const std::string out = ::testing::TempDir() + "fw-check-out-" + std::to_string(getpid());
    pid_t pid = -1;
};

struct Interruption {
    const char *name;
    int signal;
    const char *reason;
};

void PrintTo(const Interruption &c, std::ostream *os) {
    *os << c.name;
}

class CheckerInterrupted : public CheckerProcess,
                           public ::testing::WithParamInterface<Interruption> {};

TEST_P(CheckerInterrupted, KillsItsHostBailsOutAndEndsWith128PlusTheSignal) {
    start("fork zdp_open_connection\nhang zdp_get_base_channel\n");
    ASSERT_TRUE(libraryLoaded());
    ::kill(pid, GetParam().signal);
    EXPECT_EQ(status(10s), 128 + GetParam().signal);
    const std::string report = output();
    EXPECT_TRUE(report.starts_with("TAP version 14\n")) << report;
    EXPECT_TRUE(report.ends_with(std::string("\nBail out! ") + GetParam().reason + "\n")) << report;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!processesWithTheLibrary().empty() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(processesWithTheLibrary(), std::vector<pid_t>{});
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CheckerInterrupted,
    ::testing::Values(Interruption{"Sigint", SIGINT, "interrupted by SIGINT (signal 2)"},
                      Interruption{"Sigterm", SIGTERM, "interrupted by SIGTERM (signal 15)"},
                      Interruption{"Sighup", SIGHUP, "interrupted by SIGHUP (signal 1)"}),
    [](const auto &row) { return std::string(row.param.name); });

std::string target(pid_t pid, int fd) {
    std::error_code error;
    return std::filesystem::read_symlink(
        "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
}

// A closed descriptor would be taken by the next one the checker opens (the connection to a
// host, say), which would then carry the report or the library's output.
class CheckerWithoutADescriptor : public CheckerProcess,
                                  public ::testing::WithParamInterface<int> {};

TEST_P(CheckerWithoutADescriptor, HasItOnDevNullAndTheHostWritesWhereItsStandardErrorGoes) {
    start("hang zdp_get_base_channel\n", GetParam());
    ASSERT_TRUE(libraryLoaded());
    EXPECT_EQ(target(pid, GetParam()), "/dev/null");
    // Read from a host that was still there after the reading: hosts come and go between
    // groups of checks.
    std::array<std::string, 3> host;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (host[0].empty() && std::chrono::steady_clock::now() < end) {
        for (const pid_t process : processesWithTheLibrary()) {
            const std::array<std::string, 3> read{target(process, 0), target(process, 1),
                                                  target(process, 2)};
            const std::vector<pid_t> after = processesWithTheLibrary();
            if (target(process, 3).starts_with("socket:") &&
                std::find(after.begin(), after.end(), process) != after.end())
                host = read;
        }
    }
    EXPECT_EQ(host, (std::array<std::string, 3>{"/dev/null", target(pid, 2), target(pid, 2)}));
}

INSTANTIATE_TEST_SUITE_P(Descriptors, CheckerWithoutADescriptor, ::testing::Values(0, 1, 2),
                         [](const auto &row) { return "Fd" + std::to_string(row.param); });

// ---- which library, and where the checks are described ----------------------------------

TEST(CheckerLibrary, ResolvedAsTheProgramResolvesIt) {
    SimEnvironment env;
    struct Case {
        const char *variable; // nullptr: unset
        std::optional<std::string> given;
        std::string expected;
    };
    const Case cases[] = {
        {nullptr, std::nullopt, kDefaultProviderLibrary},
        {"", std::nullopt, kDefaultProviderLibrary},
        {"/opt/libx.so", std::nullopt, "/opt/libx.so"},
        {"/opt/libx.so", "/opt/liby.so", "/opt/liby.so"},
        {"/opt/libx.so", "", "/opt/libx.so"},
    };
    for (const Case &c : cases) {
        if (c.variable)
            setenv(kProviderEnvVar, c.variable, 1);
        else
            unsetenv(kProviderEnvVar);
        EXPECT_EQ(resolveProviderLibrary(c.given), c.expected)
            << (c.variable ? c.variable : "unset") << ", given " << c.given.value_or("nothing");
    }
    setenv(kProviderEnvVar, FW_SIMULATOR, 1);
    EXPECT_EQ(runChecker("").status, 0) << "FLEETWRIGHT_PROVIDER names the library";
    unsetenv(kProviderEnvVar);
}

TEST(CheckerDescription, ListHelpAndManualNameEveryCheck) {
    const CheckerRun list = runChecker("--list");
    const CheckerRun help = runChecker("--help");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(list.lines.size(), allChecks().size());
    std::string manual;
    if (FILE *file = std::fopen(FW_CHECKER_MANUAL, "r")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            manual.append(chunk, n);
        std::fclose(file);
    }
    const auto troff = [](std::string text) {
        for (size_t at = 0; (at = text.find('-', at)) != std::string::npos; at += 2)
            text.insert(at, "\\");
        return text;
    };
    for (const Check &check : allChecks()) {
        const std::string name(check.name);
        const std::string description(check.description);
        EXPECT_NE(list.out.find(std::string(name).append("\t").append(description)),
                  std::string::npos)
            << name;
        EXPECT_NE(help.out.find(std::string(name).append("  ").append(description)),
                  std::string::npos)
            << name;
        EXPECT_NE(manual.find(".B " + troff(name) + "\n" + troff(description)), std::string::npos)
            << name;
    }
}

// ---- the pieces of the report -----------------------------------------------------------

TEST(CheckerReport, YamlQuotesAnyBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {R"(say "no" \ back)", R"("say \"no\" \\ back")"},
        {"two\nlines\ttab", R"("two\nlines\ttab")"},
        {std::string("nul\0bell\a", 9), R"("nul\x00bell\x07")"},
        {"Kanal f\xC3\xBCnf", "\"Kanal f\xC3\xBCnf\""},
        {"cut \xC3", R"("cut \xC3")"},
    };
    for (const auto &[text, quoted] : cases)
        EXPECT_EQ(yamlQuoted(text), quoted);
}

TEST(CheckerReport, Utf8) {
    const std::pair<std::string, bool> utf8[] = {
        {"", true},
        {"ASCII", true},
        {"\xE2\x82\xAC 5", true},
        {"\xF0\x9F\x93\xA1", true},
        {"\xC0\xAF", false},     // overlong
        {"\xED\xA0\x80", false}, // surrogate
        {"\xF4\x90\x80\x80", false},
        {"\xE2\x82", false},
        {"\x80", false},
    };
    for (const auto &[text, valid] : utf8)
        EXPECT_EQ(isValidUtf8(text), valid) << ::testing::PrintToString(text);
}

} // namespace
} // namespace fw::check
