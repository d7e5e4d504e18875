// The program's command table, the checker's checks and the simulated modules must speak
// the same protocol. They share one header, so these hold by construction; the tests are
// there for the day someone gives one of them a copy of its own.
#include "checks.h"
#include "data_provider.h"
#include "device/sim_environment.h"
#include "library_provider.h"
#include "module_protocol.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace fw::check {
namespace {

std::vector<std::string> checkNames() {
    std::vector<std::string> names;
    for (const Check &check : allChecks())
        names.emplace_back(check.name);
    return names;
}

// The command codes that checks of one kind ("module-read-", "module-write-") name, in
// their order.
std::vector<int> codesChecked(std::string_view prefix) {
    std::vector<int> codes;
    for (const std::string &name : checkNames())
        if (name.starts_with(prefix))
            if (const std::string rest = name.substr(prefix.size());
                !rest.empty() && std::all_of(rest.begin(), rest.end(), ::isdigit))
                codes.push_back(std::stoi(rest));
    return codes;
}

TEST(ProtocolAgreement, CheckerReadsAndWritesWhatTheProgramDoesInItsOrder) {
    std::vector<int> parameters;
    for (const CommandCode command : kParameterCommands) {
        parameters.push_back(code(command));
        EXPECT_TRUE(isRead(commandInfo(command)) && isWritten(commandInfo(command)))
            << int(code(command));
    }
    EXPECT_EQ(codesChecked("module-read-"), parameters);
    EXPECT_EQ(codesChecked("module-write-"), parameters);
    const std::vector<std::string> names = checkNames();
    // The model read and the two writes that end every update have checks of their own.
    for (const char *name : {"module-model", "module-save-reset", "module-read-capacity"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    // Every command of the table is one of those: nothing the program sends goes unchecked.
    for (const CommandInfo &info : kCommands) {
        const int c = code(info.command);
        const bool parameter =
            std::find(parameters.begin(), parameters.end(), c) != parameters.end();
        EXPECT_TRUE(parameter || info.command == CommandCode::Model ||
                    info.command == CommandCode::Save || info.command == CommandCode::Reset)
            << c;
    }
}

// Every code from 0 to 255 against a paired simulated module: it answers exactly the reads
// of the table and takes exactly its writes.
TEST(ProtocolAgreement, SimulatedModuleAnswersExactlyTheTablesCommands) {
    fw::testing::SimEnvironment env;
    const std::unique_ptr<DataProvider> dp = createDataProvider(FW_SIMULATOR);
    ASSERT_EQ(dp->OpenConnection(0, 0), 0);
    uint32_t id = 0;
    int32_t extra = 0;
    dp->PairModule(kBaseStationArg, kKeepModuleChannel, kPairingWindowSeconds, id, extra);
    ASSERT_NE(id, 0u);
    for (int c = 0; c <= 255; ++c) {
        const auto command = static_cast<uint8_t>(c);
        const auto *found =
            std::find_if(kCommands.begin(), kCommands.end(),
                         [c](const CommandInfo &info) { return code(info.command) == c; });
        const bool read = found != kCommands.end() && isRead(*found);
        const bool written = found != kCommands.end() && isWritten(*found);
        std::string answer;
        EXPECT_EQ(dp->ReadModuleCommand(kBaseStationArg, id, command, answer) == 0, read)
            << "read of " << c;
        // A parameter takes a number; save and reset an empty value.
        const std::string value = read ? "1" : "";
        EXPECT_EQ(dp->WriteModuleCommand(kBaseStationArg, id, command, payloadOf(value)) == 0,
                  written)
            << "write of " << c;
    }
    dp->CloseConnection();
}

} // namespace
} // namespace fw::check
