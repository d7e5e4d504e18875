// The connection to a provider host judges what comes back, never trusts it: hosts that
// answer with something other than a whole, well-formed message, or that die while a child
// of theirs keeps the connection open, are stopped at once together with their group.
#include "host_connection.h"
#include "support/named_rows.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fw::host {
namespace {

using namespace std::chrono_literals;
using fw::testing::PrintTo;
using Clock = std::chrono::steady_clock;

std::string fileText(const std::string &path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Neither running nor left as a zombie of ours.
bool gone(pid_t pid) {
    const std::string stat = fileText("/proc/" + std::to_string(pid) + "/stat");
    return stat.empty() || stat.find(") Z") != std::string::npos;
}

struct FakeHost {
    const char *name;
    const char *script; // sh; the connection is descriptor 3, $CHILD a file for a pid
    std::string describe;
};

class ConnectionToAFakeHost : public ::testing::TestWithParam<FakeHost> {
protected:
    void SetUp() override {
        const std::string base = ::testing::TempDir() + "fw-fake-host-" + std::to_string(getpid());
        path = base + ".sh";
        child = base + ".child";
        std::remove(child.c_str());
        std::ofstream(path) << "#!/bin/sh\nCHILD=" << child << "\n" << GetParam().script << "\n";
        ::chmod(path.c_str(), 0700);
    }
    void TearDown() override {
        std::remove(path.c_str());
        std::remove(child.c_str());
    }

    std::string path;
    std::string child;
};

TEST_P(ConnectionToAFakeHost, StopsItAndSaysWhat) {
    const Clock::time_point begin = Clock::now();
    const std::string described = [this] {
        try {
            const HostConnection connection(path, "libnothing.so");
            return std::string("the host was taken at its word");
        } catch (const HostStopped &stopped) {
            return stopped.fault().describe();
        }
    }();
    EXPECT_LT(Clock::now() - begin, 2s) << "known at once, not at the deadline";
    EXPECT_EQ(described, GetParam().describe);
    if (const std::string started = fileText(child); !started.empty()) {
        const pid_t pid = std::stoi(started);
        const Clock::time_point end = Clock::now() + 2s;
        while (!gone(pid) && Clock::now() < end)
            std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(gone(pid)) << "a process the host started outlived it";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, ConnectionToAFakeHost,
    ::testing::Values(
        FakeHost{"OversizedLength",
                 R"(printf '\377\377\377\177' >&3; sleep 30 & echo $! >"$CHILD"; wait)",
                 "broke the protocol (a message of 2147483647 bytes) while it was being loaded"},
        FakeHost{"EmptyMessage", R"(printf '\000\000\000\000' >&3; exec sleep 30)",
                 "broke the protocol (a message of 0 bytes) while it was being loaded"},
        FakeHost{"CutShortThenExits", R"(printf '\012\000\000\000\100\001' >&3; exit 4)",
                 "exited with status 4 while it was being loaded"},
        FakeHost{"NoGreeting", R"(printf '\001\000\000\000\201' >&3; exec sleep 30)",
                 "broke the protocol (its first message was not a greeting) while it was being "
                 "loaded"},
        FakeHost{
            "GreetingWithBytesLeftOver",
            R"(printf '\012\000\000\000\100\001\000\000\000\000\000\000\000\000' >&3; exec sleep 30)",
            "broke the protocol (1 bytes were left over in a message) while it was being "
            "loaded"},
        FakeHost{"GreetingCutShort", R"(printf '\002\000\000\000\100\001' >&3; exec sleep 30)",
                 "broke the protocol (a message was cut short) while it was being loaded"},
        FakeHost{"ClosesItsConnectionAndStays", R"(exec 3>&-; exec sleep 30)",
                 "closed its connection while it was being loaded"},
        // The child keeps the connection open: the end of the stream never comes.
        FakeHost{"CrashesWhileItsChildHoldsTheConnection",
                 R"(sleep 30 & echo $! >"$CHILD"; kill -SEGV $$)",
                 "killed by signal 11 while it was being loaded"}),
    fw::testing::RowName());

TEST(HostConnection, AHostThatCannotStartIsAFaultWithTheReason) {
    try {
        HostConnection connection("/nonexistent/fleetwright-provider-host", "libnothing.so");
        FAIL();
    } catch (const HostStopped &stopped) {
        EXPECT_EQ(stopped.fault().kind, Fault::Kind::Start);
        EXPECT_EQ(stopped.description(),
                  "the data-provider library stopped: could not be started: "
                  "/nonexistent/fleetwright-provider-host: No such file or directory");
    }
}

} // namespace
} // namespace fw::host
