// The real window with the library in a provider host: faults that end an update or the
// start-up, the fresh host after them, and the real program under signals and closes.
#include "app/app_test_support.h"
#include "data_provider.h"
#include "device/sim_environment.h"
#include "hosted_provider.h"
#include "main_frm.h"
#include "messages.h"
#include "support/child_status.h"
#include "support/named_rows.h"
#include "update_observer.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ; // NOLINT(readability-redundant-declaration)

namespace fw::app::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using fw::testing::PrintTo;
using fw::testing::SimEnvironment;
using testing::MapStore;

std::string fileText(const std::string &path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The processes whose parent is pid.
std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> children;
    DIR *proc = opendir("/proc");
    while (const dirent *entry = proc ? readdir(proc) : nullptr) {
        const pid_t candidate = std::atoi(entry->d_name);
        if (candidate <= 0)
            continue;
        const std::string stat = fileText("/proc/" + std::to_string(candidate) + "/stat");
        // pid (name) state ppid ...: the name may hold anything, so read after its ')'.
        const size_t close = stat.rfind(')');
        std::istringstream fields(close == std::string::npos ? "" : stat.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        if (fields >> state >> parent && parent == pid)
            children.push_back(candidate);
    }
    if (proc)
        closedir(proc);
    return children;
}

bool alive(pid_t pid) {
    return ::kill(pid, 0) == 0 &&
           fileText("/proc/" + std::to_string(pid) + "/stat").find(") Z") == std::string::npos;
}

// Whether pid is still alive after it was given until the limit to go.
bool aliveAfter(pid_t pid, std::chrono::seconds limit) {
    const Clock::time_point end = Clock::now() + limit;
    while (alive(pid) && Clock::now() < end)
        std::this_thread::sleep_for(20ms);
    return alive(pid);
}

// The live processes that have library mapped and the fault file in their environment
// (other tests' hosts may run meanwhile), after giving them until the limit to go.
std::vector<pid_t> leftWith(const std::string &library, const std::string &faultFile,
                            std::chrono::seconds limit = 5s) {
    const std::string variable = "FW_TEST_FAULT_FILE=" + faultFile + std::string(1, '\0');
    const Clock::time_point end = Clock::now() + limit;
    for (;;) {
        std::vector<pid_t> left;
        DIR *proc = opendir("/proc");
        while (const dirent *entry = proc ? readdir(proc) : nullptr) {
            const pid_t candidate = std::atoi(entry->d_name);
            if (candidate > 0 && candidate != getpid() && alive(candidate) &&
                fileText("/proc/" + std::to_string(candidate) + "/maps").find(library) !=
                    std::string::npos &&
                fileText("/proc/" + std::to_string(candidate) + "/environ").find(variable) !=
                    std::string::npos)
                left.push_back(candidate);
        }
        if (proc)
            closedir(proc);
        if (left.empty() || Clock::now() >= end)
            return left;
        std::this_thread::sleep_for(50ms);
    }
}

// The checker's exit status on library, its standard output thrown away.
int checkerStatus(const std::string &library) {
    const int status =
        std::system((std::string(FW_CHECKER) + " " + library + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Observer final : public UpdateObserver {
public:
    std::optional<Message> updateEnding(const UpdateReport &report) override {
        reports.push_back(report);
        return std::nullopt;
    }
    std::vector<UpdateReport> reports;
};

// The window on a library that passes every call to the simulator until the fault file
// names one.
class HostedWindow : public ::testing::Test {
protected:
    void SetUp() override {
        sim.set("FLEETWRIGHT_SIM_FLEET", "1A2B3C:RX-LC:3");
        setenv("FW_TEST_DELEGATE", FW_SIMULATOR, 1);
        setenv("FW_TEST_FAULT_FILE", faultFile.c_str(), 1);
        std::remove(faultFile.c_str());
    }
    void TearDown() override {
        std::remove(faultFile.c_str());
        unsetenv("FW_TEST_DELEGATE");
        unsetenv("FW_TEST_FAULT_FILE");
    }

    void fault(const std::string &line) { std::ofstream(faultFile) << line << "\n"; }
    void noFault() { std::remove(faultFile.c_str()); }

    bool load(const std::string &library = FW_FAULT_SWITCH) {
        window = std::make_unique<MainFrm>(
            store,
            [this](QWidget *, const Message &message) {
                shown.push_back(message);
                pointerAtMessage.push_back(QGuiApplication::overrideCursor() != nullptr);
                return MessageButton::Ok;
            },
            &observer);
        return window->load([library] { return createHostedProvider(FW_HOST, library); },
                            QStringLiteral("fleetwright"));
    }

    void clickUpdate() {
        shown.clear();
        pointerAtMessage.clear();
        QTest::mouseClick(&control<QPushButton>(*window, "Command1"), Qt::LeftButton);
    }

    std::vector<pid_t> hosts() const { return childrenOf(getpid()); }

    SimEnvironment sim;
    const std::string faultFile = ::testing::TempDir() + "fw-fault-" + std::to_string(getpid());
    MapStore store;
    Observer observer;
    std::unique_ptr<MainFrm> window;
    std::vector<Message> shown;
    std::vector<bool> pointerAtMessage;
};

const Message kComplete{"Model: RX-LC\r\nID: 1A2B3C\r\nCompleted OK", "Update Complete",
                        MessageIcon::None};

struct UpdateFault {
    const char *name;
    const char *fault;
    const char *happened;
};

class FaultInAnUpdate : public HostedWindow, public ::testing::WithParamInterface<UpdateFault> {};

TEST_P(FaultInAnUpdate, EndsItWithTheMessageAndTheNextUpdateWorksOnAFreshHost) {
    ASSERT_TRUE(load());
    window->show();
    const std::vector<pid_t> first = hosts();
    ASSERT_EQ(first.size(), 1u);
    window->Direction[0]->click();

    fault(GetParam().fault);
    clickUpdate();
    EXPECT_EQ(shown, std::vector<Message>{messages::providerStopped(GetParam().happened)});
    EXPECT_EQ(shown.at(0).text, std::string("The data-provider library stopped: ") +
                                    GetParam().happened +
                                    "\r\nPower-cycle the module and click Update to try again.");
    EXPECT_EQ(pointerAtMessage, std::vector<bool>{false});
    EXPECT_EQ(control<QLabel>(*window, "Found").text(), "");
    ASSERT_EQ(observer.reports.size(), 1u);
    EXPECT_FALSE(observer.reports[0].complete);
    EXPECT_EQ(observer.reports[0].message, shown.at(0));
    EXPECT_TRUE(hosts().empty()) << "the stopped host is reaped";
    EXPECT_TRUE(window->Direction[0]->isChecked()) << "the entries stay as they were";

    noFault();
    clickUpdate();
    EXPECT_EQ(shown, std::vector<Message>{kComplete});
    const std::vector<pid_t> second = hosts();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second, first);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultInAnUpdate,
    ::testing::Values(UpdateFault{"CrashInPairing", "crash zdp_pair_module",
                                  "killed by signal 11 in zdp_pair_module"},
                      UpdateFault{"ExitInARead", "exit zdp_read_module_command",
                                  "exited with status 3 in zdp_read_module_command"},
                      UpdateFault{"ExitWithADestructorThatNeverReturns",
                                  "exit-stuck zdp_read_module_command",
                                  "exited with status 3 in zdp_read_module_command"},
                      UpdateFault{"CrashReadingTheChannel", "crash zdp_get_base_channel",
                                  "killed by signal 11 in zdp_get_base_channel"}),
    fw::testing::RowName());

// A library whose processes leave the host's session or process group, or a host that
// moves into its parent's group: through the program's host client and through the
// checker, nothing of the library is left afterwards and the base station opens again.
struct EscapingFault {
    const char *name;
    const char *fault;
    const char *happened; // how the update ends; empty: complete
    int checkerStatus;
};

class EscapingLibrary : public HostedWindow, public ::testing::WithParamInterface<EscapingFault> {};

TEST_P(EscapingLibrary, LeavesNothingBehindAndTheNextStartOpensTheBaseStation) {
    fault(GetParam().fault);
    ASSERT_TRUE(load());
    window->show();
    clickUpdate();
    const std::string happened = GetParam().happened;
    EXPECT_EQ(shown, std::vector<Message>{happened.empty() ? kComplete
                                                           : messages::providerStopped(happened)});
    window.reset();
    EXPECT_EQ(leftWith(FW_FAULT_SWITCH, faultFile), std::vector<pid_t>{})
        << "after the program's host";

    EXPECT_EQ(checkerStatus(FW_FAULT_SWITCH), GetParam().checkerStatus);
    EXPECT_EQ(leftWith(FW_FAULT_SWITCH, faultFile), std::vector<pid_t>{}) << "after the checker";

    noFault();
    ASSERT_TRUE(load()) << "the base station's lock is free";
    clickUpdate();
    EXPECT_EQ(shown, std::vector<Message>{kComplete});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EscapingLibrary,
    ::testing::Values(
        EscapingFault{"NewSessionAndDoubleFork", "setsid zdp_get_base_channel", "", 0},
        EscapingFault{"ChildInAGroupOfItsOwn", "own-group zdp_get_base_channel", "", 0},
        EscapingFault{"ForkInTheConstructor", "setsid load", "", 0},
        EscapingFault{"HostMovesIntoItsParentsGroup", "parent-group zdp_read_module_command",
                      "gave no answer within 5 s in zdp_read_module_command", 1}),
    fw::testing::RowName());

TEST_F(HostedWindow, AFailedRestartEndsTheUpdateWithItsReasonAndLeavesTheWindowUsable) {
    ASSERT_TRUE(load());
    window->show();
    fault("crash zdp_pair_module");
    clickUpdate();
    fault("crash zdp_probe_provider");
    clickUpdate();
    EXPECT_EQ(shown, std::vector<Message>{
                         messages::providerStopped("killed by signal 11 in zdp_probe_provider")});
    noFault();
    clickUpdate();
    EXPECT_EQ(shown, std::vector<Message>{kComplete});
}

TEST_F(HostedWindow, AHostThatEndedBetweenUpdatesIsReplacedBeforeTheNext) {
    ASSERT_TRUE(load());
    window->show();
    const std::vector<pid_t> first = hosts();
    ASSERT_EQ(first.size(), 1u);
    ::kill(first[0], SIGKILL);
    while (!hosts().empty() && alive(first[0]))
        std::this_thread::sleep_for(5ms);
    clickUpdate();
    EXPECT_EQ(shown, std::vector<Message>{kComplete});
    EXPECT_EQ(hosts().size(), 1u);
}

// The pairing deadline is the window plus 5 s; a close that came meanwhile is carried out
// once the update has ended.
TEST_F(HostedWindow, HangInPairingEndsAtTheDeadlineAndAPendingCloseIsCarriedOut) {
    ASSERT_TRUE(load());
    window->show();
    window->Direction[0]->click();
    bool closed = false;
    QObject::connect(window.get(), &MainFrm::closed, [&] { closed = true; });
    fault("hang zdp_pair_module");
    QTimer::singleShot(200ms, window.get(), [this] { window->close(); });
    const Clock::time_point begin = Clock::now();
    clickUpdate();
    const auto took = Clock::now() - begin;
    EXPECT_EQ(shown, std::vector<Message>{messages::providerStopped(
                         "gave no answer within 15 s in zdp_pair_module")});
    EXPECT_GE(took, 15s);
    EXPECT_LT(took, 18s);
    EXPECT_TRUE(closed);
    EXPECT_EQ(store.values[QStringLiteral("Direction")], "False") << "the entries were saved";
    EXPECT_TRUE(hosts().empty());
}

struct StartFault {
    const char *name;
    const char *library;
    std::string error; // after "Error: "
};

class FaultAtStartUp : public HostedWindow, public ::testing::WithParamInterface<StartFault> {};

TEST_P(FaultAtStartUp, EndsItWithTheStartUpMessage) {
    EXPECT_FALSE(load(GetParam().library));
    const Message expected{"ZarvikDataProviderCOM.DLL possibly not registered!\r\nError: " +
                               GetParam().error,
                           "fleetwright", MessageIcon::Critical};
    EXPECT_EQ(shown, std::vector<Message>{expected});
    EXPECT_TRUE(hosts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultAtStartUp,
    ::testing::Values(
        StartFault{"CrashInCreate", FW_TEST_PROVIDER_CREATE_CRASH,
                   "the data-provider library stopped: killed by signal 11 in zdp_create "
                   "[Code: 4]"},
        StartFault{"ConstructorExits", FW_TEST_PROVIDER_CONSTRUCTOR_EXIT,
                   "the data-provider library stopped: exited with status 3 while it was being "
                   "loaded [Code: 4]"}),
    fw::testing::RowName());

// The loader refuses a path that is not a file, but a name that the dynamic linker finds
// as a named pipe would block loading for ever: the host's deadline ends it.
TEST_F(HostedWindow, ANamedPipeFoundByTheLinkerEndsStartUpAtTheLoadingDeadline) {
    const std::string folder = ::testing::TempDir() + "fw-fifo-" + std::to_string(getpid());
    ::mkdir(folder.c_str(), 0700);
    const std::string pipe = folder + "/libfw-fifo-provider.so";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    setenv("LD_LIBRARY_PATH", folder.c_str(), 1);
    const Clock::time_point begin = Clock::now();
    EXPECT_FALSE(load("libfw-fifo-provider.so"));
    unsetenv("LD_LIBRARY_PATH");
    std::remove(pipe.c_str());
    ::rmdir(folder.c_str());
    EXPECT_LT(Clock::now() - begin, 7s);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("Error: the data-provider library stopped: gave no answer "
                                 "within 5 s while it was being loaded [Code: 4]"),
              std::string::npos)
        << shown[0].text;
    EXPECT_TRUE(hosts().empty());
}

// ---- the real program ------------------------------------------------------------------

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        config = ::testing::TempDir() + "fw-host-config-" + std::to_string(getpid());
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        unsetenv("XDG_CONFIG_HOME");
        unsetenv(kProviderEnvVar);
    }

    void start(const std::string &library) {
        setenv(kProviderEnvVar, library.c_str(), 1);
        std::string program = FW_PROGRAM;
        std::vector<char *> argv{program.data()};
        for (std::string &option : options)
            argv.push_back(option.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (closed >= 0)
            posix_spawn_file_actions_addclose(&actions, closed);
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        // Ready once its host has loaded the library and the window has its channel.
        const Clock::time_point limit = Clock::now() + 20s;
        while (host <= 0 && Clock::now() < limit) {
            for (const pid_t child : childrenOf(pid))
                if (fileText("/proc/" + std::to_string(child) + "/maps").find(library) !=
                    std::string::npos)
                    host = child;
            std::this_thread::sleep_for(20ms);
        }
        ASSERT_GT(host, 0) << "no provider host appeared";
        std::this_thread::sleep_for(1s);
    }

    // The program's exit status once it has ended, or -1 after the limit.
    int endedWithin(std::chrono::seconds limit) { return fw::test::exitStatusWithin(pid, limit); }

    std::string savedEntries() const { return fileText(config + "/fleetwright/fleetwright.conf"); }

    SimEnvironment sim;
    std::string config;
    int closed = -1; // a standard descriptor the program starts without
    std::vector<std::string> options{"--no-record"};
    pid_t pid = -1;
    pid_t host = -1;
};

TEST_F(Program, NeverMapsTheLibraryAndEndsInOrderOnSigterm) {
    start(FW_SIMULATOR);
    EXPECT_EQ(fileText("/proc/" + std::to_string(pid) + "/maps").find("fleetwright-simulator"),
              std::string::npos);
    ::kill(pid, SIGTERM);
    EXPECT_EQ(endedWithin(11s), 0);
    EXPECT_NE(savedEntries().find("TXInterval="), std::string::npos) << savedEntries();
    EXPECT_FALSE(alive(host));
}

TEST_F(Program, AHangInDestroyStillEndsItWithinThePausePlus10s) {
    start(FW_TEST_PROVIDER_DESTROY_HANG);
    EXPECT_EQ(fileText("/proc/" + std::to_string(pid) + "/maps").find("fw_test_provider"),
              std::string::npos);
    const Clock::time_point begin = Clock::now();
    ::kill(pid, SIGINT);
    EXPECT_EQ(endedWithin(12s), 0);
    EXPECT_LT(Clock::now() - begin, 11s);
    EXPECT_GE(Clock::now() - begin, 6s) << "the pause and the destroy's deadline";
    EXPECT_NE(savedEntries().find("TXInterval="), std::string::npos);
    EXPECT_FALSE(alive(host));
}

TEST_F(Program, ASecondSignalDuringShutdownEndsItAtOnce) {
    start(FW_TEST_PROVIDER_DESTROY_HANG);
    ::kill(pid, SIGTERM);
    std::this_thread::sleep_for(1500ms);
    ::kill(pid, SIGTERM);
    EXPECT_EQ(endedWithin(2s), 128 + SIGTERM);
    EXPECT_NE(savedEntries().find("TXInterval="), std::string::npos) << "saved before closing";
    EXPECT_FALSE(aliveAfter(host, 2s)) << "the host goes with its parent";
}

// ---- termination signals ----------------------------------------------------------------

// What is under way when the signals come, and how the program must end: no box waits for a
// click, an update that runs reaches its end, and the close follows.
struct SignalCase {
    const char *name;
    const char *faults;  // the simulator's injected failures
    const char *wakeMs;  // until the module wakes once the pairing starts
    bool update;         // an Update is clicked once the window shows
    bool unsaveable;     // the settings file is made a folder once the window shows
    const char *awaited; // the window driver's line that the signals wait for; "": none
    int signal;
    int second; // another signal half a second later (lest the kernel merge them)
    int status;
    std::chrono::seconds within; // from the last signal
    bool saved;                  // the entries are in the settings file
    bool recorded;               // the update has its line in the record
};

class ProgramUnderSignals : public Program, public ::testing::WithParamInterface<SignalCase> {
protected:
    void SetUp() override {
        Program::SetUp();
        std::filesystem::remove_all(config);
        const std::string base = ::testing::TempDir() + "fw-signals-" + std::to_string(getpid());
        log = base + ".log";
        record = base + ".csv";
        std::remove(log.c_str());
        std::remove(record.c_str());
        options = {"--record", record};
        setenv("QT_PLUGIN_PATH", FW_DRIVER_PLUGINS, 1);
        setenv("QT_QPA_GENERIC_PLUGINS", "fwdriver", 1);
        setenv("FW_DRIVER_LOG", log.c_str(), 1);
        if (GetParam().update)
            setenv("FW_DRIVER_CLICK", "Command1", 1);
    }
    void TearDown() override {
        Program::TearDown();
        for (const char *name :
             {"QT_PLUGIN_PATH", "QT_QPA_GENERIC_PLUGINS", "FW_DRIVER_LOG", "FW_DRIVER_CLICK"})
            unsetenv(name);
        std::remove(log.c_str());
        std::remove(record.c_str());
        std::filesystem::remove_all(config);
    }

    bool driverWrote(const std::string &line, std::chrono::seconds limit) const {
        const Clock::time_point end = Clock::now() + limit;
        while (fileText(log).find(line + '\n') == std::string::npos) {
            if (Clock::now() >= end)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    // The lines after the header.
    size_t recordLines() const {
        const std::string text = fileText(record);
        const auto lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        return lines > 0 ? lines - 1 : 0;
    }

    std::string log;
    std::string record;
};

TEST_P(ProgramUnderSignals, EndsWithoutWaitingOnABoxAndKeepsTheEntries) {
    const SignalCase &row = GetParam();
    sim.set("FLEETWRIGHT_SIM_WAKE_MS", row.wakeMs);
    sim.set("FLEETWRIGHT_SIM_FAULTS", row.faults);
    start(FW_SIMULATOR);
    if (row.unsaveable) {
        ASSERT_TRUE(std::filesystem::create_directories(config + "/fleetwright/fleetwright.conf"));
    }
    if (*row.awaited) {
        ASSERT_TRUE(driverWrote(row.awaited, 15s)) << fileText(log);
    }
    ::kill(pid, row.signal);
    if (row.second) {
        std::this_thread::sleep_for(500ms);
        ::kill(pid, row.second);
    }
    EXPECT_EQ(endedWithin(row.within), row.status) << fileText(log);
    EXPECT_EQ(savedEntries().find("TXInterval=") != std::string::npos, row.saved) << savedEntries();
    EXPECT_EQ(recordLines(), row.recorded ? 1U : 0U) << fileText(record);
    EXPECT_FALSE(aliveAfter(host, 2s));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, ProgramUnderSignals,
    ::testing::Values(SignalCase{"SigtermDuringPairing", "", "3000", true, false, "pairing",
                                 SIGTERM, 0, 0, 10s, true, true},
                      SignalCase{"SighupWhileTheFinalBoxShows", "", "0", true, false,
                                 "box Update Complete", SIGHUP, 0, 0, 5s, true, true},
                      SignalCase{"SigtermWhileTheStartUpErrorShows", "open", "0", false, false,
                                 "box Warning", SIGTERM, 0, kStartupFailedExit, 5s, false, false},
                      SignalCase{"SigintWithEntriesThatCannotBeSaved", "", "0", false, true, "",
                                 SIGINT, 0, 0, 5s, false, false},
                      SignalCase{"TwoSigtermsDuringPairing", "", "3000", true, false, "pairing",
                                 SIGTERM, SIGTERM, 128 + SIGTERM, 2s, true, false}),
    fw::testing::RowName());

std::string target(pid_t pid, int fd) {
    char link[256] = "";
    const std::string path = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(path.c_str(), link, sizeof link - 1);
    return std::string(link, length > 0 ? static_cast<size_t>(length) : 0);
}

// A closed descriptor would be taken by the next one opened (the display connection,
// say), which would then receive every line meant for standard error.
class ProgramWithoutADescriptor : public Program, public ::testing::WithParamInterface<int> {};

TEST_P(ProgramWithoutADescriptor, HasItOnDevNullAndItsHostWritesWhereItsStandardErrorGoes) {
    closed = GetParam();
    start(FW_SIMULATOR);
    EXPECT_EQ(target(pid, GetParam()), "/dev/null");
    EXPECT_EQ(target(host, 0), "/dev/null");
    EXPECT_EQ(target(host, 1), target(pid, 2));
    EXPECT_EQ(target(host, 2), target(pid, 2));
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ProgramWithoutADescriptor, ::testing::Values(0, 1, 2),
                         [](const auto &row) { return "Fd" + std::to_string(row.param); });

// The host dies with the program, and every process of the library with the host.
TEST_F(Program, SigkillLeavesNoProcessOfTheLibrary) {
    const std::string faultFile =
        ::testing::TempDir() + "fw-kill-fault-" + std::to_string(getpid());
    std::ofstream(faultFile) << "fork zdp_probe_provider\n";
    setenv("FW_TEST_DELEGATE", FW_SIMULATOR, 1);
    setenv("FW_TEST_FAULT_FILE", faultFile.c_str(), 1);
    start(FW_FAULT_SWITCH);
    ::kill(pid, SIGKILL);
    EXPECT_EQ(endedWithin(5s), 128 + SIGKILL);
    EXPECT_EQ(leftWith(FW_FAULT_SWITCH, faultFile), std::vector<pid_t>{});
    std::remove(faultFile.c_str());
    unsetenv("FW_TEST_DELEGATE");
    unsetenv("FW_TEST_FAULT_FILE");
}

} // namespace
} // namespace fw::app::e2e
