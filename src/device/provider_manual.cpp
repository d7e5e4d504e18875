// Writes fleetwright-provider(7) from its template, filling in the protocol's facts from
// module_protocol.h and the contract's rules from the ABI header, so that the page cannot
// say other than the program and the header do.
//   fw_provider_manual TEMPLATE OUTPUT HEADER [NAME=VALUE]...
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

// The numbered rules of the header's comment ("R1  text", continued on the lines below
// it), one tagged paragraph each.
std::string rules(std::istream &header) {
    std::string rows;
    std::string line;
    bool inRule = false;
    while (std::getline(header, line)) {
        std::string_view text(line);
        if (!text.starts_with(" *")) {
            inRule = false;
            continue;
        }
        text.remove_prefix(2);
        const size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos || text.starts_with("/")) {
            inRule = false;
            continue;
        }
        text.remove_prefix(start);
        const size_t digits = text.size() > 1 && text[0] == 'R'
                                  ? text.find_first_not_of("0123456789", 1)
                                  : std::string_view::npos;
        if (start == 2 && digits != std::string_view::npos && digits > 1 &&
            text.substr(digits).starts_with(' ')) {
            rows += ".TP\n.B " + std::string(text.substr(0, digits)) + "\n";
            text.remove_prefix(text.find_first_not_of(' ', digits));
            inRule = true;
        } else if (!inRule || start <= 2) {
            inRule = false;
            continue;
        }
        rows += troff(text) + "\n";
    }
    return rows;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::cerr << "usage: fw_provider_manual TEMPLATE OUTPUT HEADER [NAME=VALUE]...\n";
        return 2;
    }
    std::ifstream header(argv[3]);
    const std::string headerRules = rules(header);
    if (headerRules.empty()) {
        std::cerr << "fw_provider_manual: no rules in " << argv[3] << "\n";
        return 1;
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
        {"rules", headerRules},
    };
    for (int i = 4; i < argc; ++i) {
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
