// Writes fleetwright-provider(7) from its template, filling in the protocol's facts from
// module_protocol.h so that the page cannot say other than the program does.
//   fw_provider_manual TEMPLATE OUTPUT [NAME=VALUE]...
// Each @NAME@ of the template becomes its value; the given pairs add the install paths.

#include "data_provider.h"
#include "module_protocol.h"
#include "provider_text.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

namespace {

// Text as troff shows it: a hyphen as "\-", a line never starting with a control character.
std::string troff(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '-')
            out += "\\-";
        else if (c == '\\')
            out += "\\e";
        else
            out += c;
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\''))
        out.insert(0, "\\&");
    return out;
}

std::string quoted(std::string_view text) {
    return "\\(lq" + troff(text) + "\\(rq";
}

std::string commandRows() {
    std::string rows;
    for (const fw::CommandInfo &info : fw::kCommands) {
        rows += ".TP\n.BR " + std::to_string(fw::code(info.command)) + " \" (" +
                troff(info.meaning) + ")\"\n";
        if (fw::isRead(info) && fw::isWritten(info))
            rows += "Read and written";
        else
            rows += fw::isRead(info) ? "Read only" : "Written only";
        rows += ". Value: " + troff(info.value) + ".";
        if (fw::isRead(info))
            rows += " A failed read shows " + quoted(info.readFailure) + ".";
        if (fw::isWritten(info))
            rows += " A refused write shows " + quoted(info.writeFailure) + ".";
        rows += "\n";
    }
    return rows;
}

std::string models() {
    std::string text;
    for (const std::string_view model : fw::kSupportedModels)
        text += (text.empty() ? "" : ", ") + std::string("\\fB") + troff(model) + "\\fR";
    return text;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::cerr << "usage: fw_provider_manual TEMPLATE OUTPUT [NAME=VALUE]...\n";
        return 2;
    }
    std::map<std::string, std::string> values{
        {"abi_version", std::to_string(ZDP_ABI_VERSION)},
        {"channel_min", std::to_string(fw::kChannelMin)},
        {"channel_max", std::to_string(fw::kChannelMax)},
        {"pairing_window", std::to_string(fw::kPairingWindowSeconds)},
        {"call_limit", std::to_string(fw::kLibraryCallLimit.count())},
        {"host_deadline", std::to_string(fw::kHostCallDeadline.count())},
        {"min_read_capacity", std::to_string(ZDP_MIN_READ_CAPACITY)},
        {"probe_simulated", "0x" + fw::hexId(ZDP_PROBE_SIMULATED)},
        {"library_name", troff(fw::kDefaultProviderLibrary)},
        {"commands", commandRows()},
        {"models", models()},
    };
    for (int i = 3; i < argc; ++i) {
        const std::string pair = argv[i];
        const size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            std::cerr << "fw_provider_manual: not NAME=VALUE: " << pair << "\n";
            return 2;
        }
        values[pair.substr(0, equals)] = troff(pair.substr(equals + 1));
    }
    std::ifstream in(argv[1]);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::cerr << "fw_provider_manual: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::string page = text.str();
    std::string out;
    for (size_t at = 0; at < page.size();) {
        const size_t open = page.find('@', at);
        const size_t close = open == std::string::npos ? open : page.find('@', open + 1);
        if (close == std::string::npos) {
            out += page.substr(at);
            break;
        }
        const std::string name = page.substr(open + 1, close - open - 1);
        const auto found = values.find(name);
        if (found == values.end()) {
            std::cerr << "fw_provider_manual: nothing for @" << name << "@\n";
            return 1;
        }
        out += page.substr(at, open - at) + found->second;
        at = close + 1;
    }
    std::ofstream(argv[2]) << out;
    return 0;
}
