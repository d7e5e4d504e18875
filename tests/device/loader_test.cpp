#include "data_provider.h"
#include "dataprovider_abi.h"
#include "fwsim.h"
#include "library_provider.h"
#include "private_paths.h"
#include "sim_environment.h"
#include "support/named_rows.h"

#include <chrono>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {
namespace {

using fw::testing::PrintTo;

using namespace std::string_literals;
using fw::testing::SimEnvironment;

// ---- creation ----------------------------------------------------------------------

struct CreationCase {
    const char *name;
    std::string library;
    const char *faults; // FLEETWRIGHT_SIM_FAULTS for the simulator
    int32_t code;
    std::string description;
};

class LoaderCreation : public ::testing::TestWithParam<CreationCase> {
protected:
    SimEnvironment env;
};

TEST_P(LoaderCreation, FailsWithCodeAndDescription) {
    const CreationCase &c = GetParam();
    env.set("FLEETWRIGHT_SIM_FAULTS", c.faults);
    try {
        createDataProvider(c.library);
        FAIL() << "created a provider";
    } catch (const ProviderError &error) {
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.description(), c.description);
        EXPECT_EQ(error.what(), c.description + " [Code: " + std::to_string(c.code) + "]");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LoaderCreation,
    ::testing::Values(
        CreationCase{"LibraryMissing", "/nonexistent/libnothing.so", "", kLoaderCannotLoad,
                     "/nonexistent/libnothing.so: cannot open shared object file: No such file "
                     "or directory"},
        CreationCase{"SymbolMissing", FW_NO_READ_PROVIDER, "", kLoaderMissingSymbol,
                     "The data-provider library has no symbol zdp_read_module_command"},
        CreationCase{"WrongVersion", FW_V2_PROVIDER, "", kLoaderWrongVersion,
                     "The data-provider library has ABI version 2, this program needs version 1"},
        CreationCase{"CreateFails", FW_SIMULATOR, "create", FWSIM_ERR_INJECTED,
                     "Injected fault: zdp_create fails"},
        CreationCase{"SettingMalformed", FW_SIMULATOR, "nopair,probe-status", FWSIM_ERR_BAD_SETTING,
                     "FLEETWRIGHT_SIM_FAULTS: fault \"probe-status\": unknown fault"}),
    fw::testing::RowName());

// A path that names something other than a file: dlopen would wait on a named pipe
// until a writer came, so these are refused before it is called.
struct NotAFileCase {
    const char *name;
    std::function<std::string(const std::string &folder)> make; // returns the path
    const char *kind;
};

void PrintTo(const NotAFileCase &c, std::ostream *os) {
    *os << c.name;
}

class LoaderRefusal : public ::testing::TestWithParam<NotAFileCase> {};

std::string fifoIn(const std::string &folder) {
    std::string path = folder + "/provider.so";
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    return path;
}

TEST_P(LoaderRefusal, RefusesWhatIsNotAFileWithoutWaiting) {
    char folder[] = "/tmp/fw-loader-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = GetParam().make(folder);
    auto loading = std::async(std::launch::async, [&path] {
        try {
            createDataProvider(path);
            return ProviderError(0, "created a provider");
        } catch (const ProviderError &error) {
            return error;
        }
    });
    if (loading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "still loading after 5 s";
        // A writer lets the stuck open return.
        ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));
    }
    const ProviderError error = loading.get();
    EXPECT_EQ(error.code(), kLoaderCannotLoad);
    EXPECT_EQ(error.description(),
              path + ": cannot load the data-provider library: it is " + GetParam().kind);
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LoaderRefusal,
    ::testing::Values(
        NotAFileCase{"NamedPipe", fifoIn, "a named pipe"},
        NotAFileCase{"LinkToANamedPipe",
                     [](const std::string &folder) {
                         std::string link = folder + "/link.so";
                         EXPECT_EQ(symlink(fifoIn(folder).c_str(), link.c_str()), 0);
                         return link;
                     },
                     "a named pipe"},
        NotAFileCase{"Folder", [](const std::string &folder) { return folder + "/"; }, "a folder"},
        NotAFileCase{"CharacterDevice", [](const std::string &) { return "/dev/null"s; },
                     "a character device"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(LoaderLink, IsFollowedToTheLibrary) {
    char folder[] = "/tmp/fw-loader-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/provider.so";
    ASSERT_EQ(symlink(FW_SIMULATOR, link.c_str()), 0);
    SimEnvironment env;
    EXPECT_NE(createDataProvider(link), nullptr);
    std::filesystem::remove_all(folder);
}

TEST(LoaderEnvironment, ProviderVariableNamesTheLibrary) {
    SimEnvironment env;
    setenv(kProviderEnvVar, FW_V2_PROVIDER, 1);
    try {
        createDataProvider();
        FAIL() << "created a provider";
    } catch (const ProviderError &error) {
        EXPECT_EQ(error.code(), kLoaderWrongVersion);
    }
    unsetenv(kProviderEnvVar);
}

// ---- error statuses of the calls ---------------------------------------------------

struct StatusCase {
    const char *name;
    const char *faults;
    std::function<void(DataProvider &)> call;
    std::string description;
};

class LoaderStatus : public ::testing::TestWithParam<StatusCase> {
protected:
    SimEnvironment env;
};

TEST_P(LoaderStatus, BecomesProviderErrorWithCodeAndDescription) {
    env.set("FLEETWRIGHT_SIM_FLEET", "1A:RX-LC:3");
    env.set("FLEETWRIGHT_SIM_FAULTS", GetParam().faults);
    const std::unique_ptr<DataProvider> dp = createDataProvider(FW_SIMULATOR);
    try {
        GetParam().call(*dp);
        FAIL() << "no error";
    } catch (const ProviderError &error) {
        EXPECT_EQ(error.code(), FWSIM_ERR_INJECTED);
        EXPECT_EQ(error.description(), GetParam().description);
    }
}

void openAndPair(DataProvider &dp) {
    ASSERT_EQ(dp.OpenConnection(0, 0), 0);
    uint32_t id = 0;
    int32_t extra = 0;
    dp.PairModule(1, 1, 10, id, extra);
    ASSERT_EQ(id, 0x1Au);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, LoaderStatus,
    ::testing::Values(
        StatusCase{"Probe", "probe", [](DataProvider &dp) { dp.ProbeProvider(); },
                   "Injected fault: zdp_probe_provider fails"},
        StatusCase{"Open", "open-status", [](DataProvider &dp) { dp.OpenConnection(0, 0); },
                   "Injected fault: zdp_open_connection fails"},
        StatusCase{"GetChannel", "get-channel-status",
                   [](DataProvider &dp) {
                       dp.OpenConnection(0, 0);
                       dp.GetBaseChannel(1);
                   },
                   "Injected fault: zdp_get_base_channel fails"},
        StatusCase{"SetChannel", "set-channel-status",
                   [](DataProvider &dp) {
                       dp.OpenConnection(0, 0);
                       dp.SetBaseChannel(1, 5);
                   },
                   "Injected fault: zdp_set_base_channel fails"},
        StatusCase{"Pair", "pair-status",
                   [](DataProvider &dp) {
                       dp.OpenConnection(0, 0);
                       uint32_t id = 0;
                       int32_t extra = 0;
                       dp.PairModule(1, 0, 10, id, extra);
                   },
                   "Injected fault: zdp_pair_module fails"},
        StatusCase{"Read", "read-status:78",
                   [](DataProvider &dp) {
                       openAndPair(dp);
                       std::string value;
                       dp.ReadModuleCommand(1, 0x1A, 78, value);
                   },
                   "Injected fault: zdp_read_module_command fails for command code 78"},
        StatusCase{"Write", "write-status:54",
                   [](DataProvider &dp) {
                       openAndPair(dp);
                       dp.WriteModuleCommand(1, 0x1A, 54, "\0\0"s);
                   },
                   "Injected fault: zdp_write_module_command fails for command code 54"},
        StatusCase{"Close", "close-status",
                   [](DataProvider &dp) {
                       dp.OpenConnection(0, 0);
                       dp.CloseConnection();
                   },
                   "Injected fault: zdp_close_connection fails"}),
    fw::testing::RowName());

// ---- answers and state across the boundary -----------------------------------------

class LoaderWithSimulator : public ::testing::Test {
protected:
    std::unique_ptr<DataProvider> openWithFleet(const std::string &fleet) {
        env.set("FLEETWRIGHT_SIM_FLEET", fleet);
        auto dp = createDataProvider(FW_SIMULATOR);
        EXPECT_EQ(dp->OpenConnection(0, 0), 0);
        return dp;
    }

    SimEnvironment env;
};

// The window's caption tells the simulator by this result, not by the library's file name.
TEST_F(LoaderWithSimulator, ProbeResultSaysItIsSimulated) {
    const auto dp = createDataProvider(FW_SIMULATOR);
    EXPECT_EQ(static_cast<uint32_t>(dp->ProbeProvider()), ZDP_PROBE_SIMULATED);
}

TEST_F(LoaderWithSimulator, AnswerWithNulsCrossesIntact) {
    const std::string model = "RX,IM";
    auto dp = openWithFleet("1A:" + model + ":3");
    uint32_t id = 0;
    int32_t extra = 0;
    dp->PairModule(1, 1, 10, id, extra);
    std::string value = "stale";
    ASSERT_EQ(dp->ReadModuleCommand(1, id, 51, value), 0);
    ASSERT_GT(value.size(), model.size() + 1) << "the padding after the NUL arrives too";
    EXPECT_EQ(value.substr(0, model.size() + 1), model + '\0');
}

TEST_F(LoaderWithSimulator, AnswerLongerThanTheBufferArrivesCutNotOverrun) {
    std::string model(4096, ' ');
    for (size_t i = 0; i < model.size(); ++i)
        model[i] = static_cast<char>('A' + i % 26);
    auto dp = openWithFleet("1A:" + model + ":3");
    uint32_t id = 0;
    int32_t extra = 0;
    dp->PairModule(1, 1, 10, id, extra);
    std::string value;
    ASSERT_EQ(dp->ReadModuleCommand(1, id, 51, value), 0);
    ASSERT_GE(value.size(), size_t{ZDP_MIN_READ_CAPACITY});
    ASSERT_LT(value.size(), model.size());
    EXPECT_EQ(value, model.substr(0, value.size()));
}

TEST_F(LoaderWithSimulator, SimulatorSeesWhatTheProgramsProviderChanged) {
    // A second dlopen of the same path is the provider's own instance.
    const std::unique_ptr<void, int (*)(void *)> library(dlopen(FW_SIMULATOR, RTLD_NOW), dlclose);
    ASSERT_TRUE(library) << dlerror();
    const auto savedValue =
        reinterpret_cast<decltype(&fwsim_module_value)>(dlsym(library.get(), "fwsim_module_value"));
    const auto moduleChannel = reinterpret_cast<decltype(&fwsim_module_channel)>(
        dlsym(library.get(), "fwsim_module_channel"));
    ASSERT_TRUE(savedValue && moduleChannel);

    auto dp = openWithFleet("1A:RX-LC:3");
    dp->SetBaseChannel(1, 7);
    ASSERT_EQ(dp->GetBaseChannel(1), 7);
    uint32_t id = 0;
    int32_t extra = 0;
    dp->PairModule(1, 0, 10, id, extra);
    EXPECT_EQ(extra, 7) << "the module's channel after the pairing";
    ASSERT_EQ(dp->WriteModuleCommand(1, id, 76, "333\0\0"s), 0);
    ASSERT_EQ(dp->WriteModuleCommand(1, id, 55, "\0\0"s), 0);
    ASSERT_EQ(dp->WriteModuleCommand(1, id, 54, "\0\0"s), 0);
    dp.reset();

    char value[16] = {};
    EXPECT_EQ(savedValue(0x1A, 76, 1, value, sizeof value), 3);
    EXPECT_STREQ(value, "333");
    EXPECT_EQ(moduleChannel(0x1A), 7);
}

// ---- helper files ------------------------------------------------------------------

TEST(PrivatePaths, ProgramInTheBuildTreeUsesTheBuiltSimulator) {
    EXPECT_EQ(std::filesystem::canonical(simulatorLibrary()),
              std::filesystem::canonical(FW_SIMULATOR));
}

} // namespace
} // namespace fw
