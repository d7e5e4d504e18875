#pragma once

#include "module_protocol.h"
#include "session.h"

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fw::check {

// What the parent process knows without calling into the library.
struct LibraryFacts {
    std::vector<std::string> missingSymbols;
    Observations observations; // gathered from every check run so far
};

enum class Needs {
    Nothing, // always run
    Module,  // --module: an operator and a module at hand
    Write,   // --module --write: writes that leave the module as it was
};

struct Check {
    std::string_view name;
    std::string_view description; // the TAP line, --list, --help and the manual
    Needs needs = Needs::Nothing;
    // Checks that share a group run against one host process, in order; 0 is a group of one.
    int group = 0;
    // The calls it makes; a missing one skips the check (the symbol check reports it).
    std::vector<host::Call> calls = {};
    // Checks that must have passed first, by name.
    std::vector<std::string_view> after = {};
    // How long the checker waits for any one call of the check (pairing: its window and
    // the host's allowance on top).
    std::chrono::seconds limit = kHostCallDeadline;
    // Exactly one of these: run against a host, or judged from the facts gathered.
    Outcome (*run)(Session &) = nullptr;
    Outcome (*judge)(const LibraryFacts &) = nullptr;
};

// Names and descriptions made at start-up (from the command table) live here, where they
// never move, so that a Check can hold a view of them.
std::string_view kept(std::string text);

// "command 76 (TX interval)": how the report names a module command.
std::string commandName(CommandCode command);

// Every check, in the order they run and are numbered.
std::span<const Check> allChecks();

// The checks that the options select.
std::vector<const Check *> selectedChecks(bool module, bool write);

// Creates one provider and destroys it: a library that fails this cannot be checked.
Outcome createOnce(Session &session);

// The first reason why check cannot run, given the outcomes so far (by name); empty when none.
std::string blockedBy(const Check &check, const std::vector<std::string> &missingSymbols,
                      const std::vector<std::pair<std::string_view, Outcome::State>> &done);

} // namespace fw::check
