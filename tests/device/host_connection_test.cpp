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
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// A greeting that offers every call, after which the fake host answers as its row says.
constexpr const char *kGreeting =
    R"(printf '\011\000\000\000\100\001\377\007\001\001\000\000\000' >&3; )";

struct BadAnswer {
    const char *name;
    const char *answer; // printf's form of the frame that follows the greeting
    void (*call)(HostConnection &);
    std::string describe;
};

void probe(HostConnection &host) {
    CallArgs<Call::Probe> args;
    host.call(args);
}

void read(HostConnection &host) {
    CallArgs<Call::Read> args{.capacity = 256};
    host.call(args);
}

void errorText(HostConnection &host) {
    CallArgs<Call::ErrorText> args;
    host.call(args);
}

class AnswerFromAFakeHost : public ::testing::TestWithParam<BadAnswer> {
protected:
    void SetUp() override {
        path = ::testing::TempDir() + "fw-fake-answer-" + std::to_string(getpid()) + ".sh";
        std::ofstream(path) << "#!/bin/sh\n"
                            << kGreeting << "printf '" << GetParam().answer
                            << "' >&3; exec sleep 30\n";
        ::chmod(path.c_str(), 0700);
    }
    void TearDown() override { std::remove(path.c_str()); }
    std::string path;
};

TEST_P(AnswerFromAFakeHost, StopsTheHostAtTheCallAndSaysWhat) {
    HostConnection connection(path, "libnothing.so");
    ASSERT_TRUE(connection.hello().loaded);
    try {
        GetParam().call(connection);
        ADD_FAILURE() << "the answer was taken";
    } catch (const HostStopped &stopped) {
        EXPECT_EQ(stopped.fault().describe(), GetParam().describe);
    }
    EXPECT_FALSE(connection.alive());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AnswerFromAFakeHost,
    ::testing::Values(
        BadAnswer{"OfAnotherKind", R"(\011\000\000\000\205\000\000\000\000\000\000\000\000)", probe,
                  "broke the protocol (an answer of another kind) in zdp_probe_provider"},
        BadAnswer{"ShorterThanItsFields", R"(\005\000\000\000\204\000\000\000\000)", probe,
                  "broke the protocol (a message was cut short) in zdp_probe_provider"},
        BadAnswer{"WithBytesLeftOver",
                  R"(\012\000\000\000\204\000\000\000\000\000\000\000\000\000)", probe,
                  "broke the protocol (1 bytes were left over in a message) in "
                  "zdp_probe_provider"},
        BadAnswer{"TextLongerThanItsMessage", R"(\006\000\000\000\203\000\011\000\000\000)",
                  errorText,
                  "broke the protocol (a field of 9 bytes does not fit) in zdp_error_text"},
        BadAnswer{"YesOrNoOfTwo", R"(\006\000\000\000\203\002\000\000\000\000)", errorText,
                  "broke the protocol (a yes-or-no field held 2) in zdp_error_text"},
        // Length 5 reported, capacity 256, and only 2 bytes sent.
        BadAnswer{
            "ReadBytesThatDisagreeWithItsLength",
            R"(\026\000\000\000\213\000\000\000\000\000\000\005\000\000\000\000\000\000\000\000\002\000\000\000ab)",
            read,
            "broke the protocol (a read answer's bytes do not match its length) in "
            "zdp_read_module_command"}),
    fw::testing::RowName());

struct BadRequest {
    const char *name;
    std::string frame; // what a client that broke the protocol sends
};

std::string frameOf(const std::string &body) {
    const auto length = static_cast<uint32_t>(body.size());
    return std::string(reinterpret_cast<const char *>(&length), sizeof length) + body;
}

class RequestToTheHost : public ::testing::TestWithParam<BadRequest> {};

// The real host, loading the simulator: a request it cannot take ends it with the protocol
// fault's status before the library sees anything.
TEST_P(RequestToTheHost, EndsTheHostWithTheProtocolFaultStatus) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(ends[1], kConnectionFd);
        ::execl(FW_PROVIDER_HOST, FW_PROVIDER_HOST, FW_SIMULATOR, nullptr);
        ::_exit(127);
    }
    ::close(ends[1]);
    char greeting[64];
    ASSERT_GT(::read(ends[0], greeting, sizeof greeting), 0);
    ASSERT_TRUE(sendAll(ends[0], GetParam().frame));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(ends[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kProtocolFaultExit);
}

std::string kind(uint8_t kind) {
    return std::string(1, static_cast<char>(kind));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestToTheHost,
    ::testing::Values(
        BadRequest{"KindOfNoCall", frameOf(kind(0x0C))},
        BadRequest{"KindZero", frameOf(kind(0x00))},
        BadRequest{"AnAnswersKind", frameOf(kind(0x84) + std::string(12, '\0'))},
        BadRequest{"ShorterThanItsFields", frameOf(kind(0x04) + std::string(4, '\0'))},
        BadRequest{"WithBytesLeftOver", frameOf(kind(0x06) + std::string(9, '\0'))},
        BadRequest{"PayloadLongerThanItsMessage",
                   frameOf(kind(0x0A) + std::string(14, '\0') + "\x40" + std::string(3, '\0'))},
        BadRequest{"ReadCapacityBeyondTheBound",
                   frameOf(kind(0x0B) + std::string(14, '\0') + std::string("\x00\x00\x10\x00", 4) +
                           std::string(10, '\0'))},
        BadRequest{"EmptyMessage", std::string(4, '\0')}),
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
