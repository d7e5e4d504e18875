#include "runner.h"

#include "host_connection.h"
#include "interruption.h"
#include "messages.h"

#include <cstdio>
#include <memory>
#include <sstream>

namespace fw::check {

namespace {

using State = Outcome::State;
using Done = std::vector<std::pair<std::string_view, State>>;

std::vector<std::string> missingSymbols(const host::Hello &hello) {
    std::vector<std::string> missing;
    if (!hello.version)
        missing.emplace_back(host::kVersionSymbol);
    for (const host::CallRow &row : host::kCalls)
        if (!hello.has(row.call))
            missing.emplace_back(row.symbol);
    return missing;
}

std::string seconds(std::chrono::seconds limit) {
    return std::to_string(limit.count()) + " s";
}

// A check whose host stopped fails with what happened and where.
Outcome stoppedIn(const host::Fault &fault, std::chrono::seconds limit) {
    const std::string what = fault.what(host::Fault::Voice::Checker);
    if (fault.kind == host::Fault::Kind::Timeout)
        limit = fault.limit;
    const std::string where =
        fault.where.empty() ? std::string(" while it was being loaded") : " in " + fault.where;
    return Outcome::fail(what, "an answer within " + seconds(limit), what + where);
}

// A run that a signal ends; thrown where the next line would be written.
struct Interrupted {
    int signal;
};

void stopIfInterrupted() {
    if (const int signal = interruption())
        throw Interrupted{signal};
}

class Run {
public:
    Run(const Options &options, std::ostream &out) : options_(options), out_(out) {}

    // An ExitStatus, or 128 plus the number of the signal that ended the run.
    int execute();

private:
    ExitStatus executeChecks();
    void runGroup(const std::vector<const Check *> &group);
    void record(const Check &check, const Outcome &outcome);
    std::optional<Outcome> runAlone(const Check &check);

    const Options &options_;
    std::ostream &out_;
    LibraryFacts facts_;
    Done done_;
    int number_ = 0;
    int passed_ = 0;
    int failed_ = 0;
    int skipped_ = 0;
    std::vector<Outcome> outcomes_;
};

void Run::record(const Check &check, const Outcome &outcome) {
    // A check whose host the signal killed has no outcome of its own.
    stopIfInterrupted();
    done_.emplace_back(check.name, outcome.state);
    outcomes_.push_back(outcome);
    ++number_;
    switch (outcome.state) {
    case State::Passed:
        ++passed_;
        out_ << "ok " << number_ << " - " << check.description << "\n";
        break;
    case State::Skipped:
        ++skipped_;
        out_ << "ok " << number_ << " - " << check.description << " # SKIP "
             << oneLine(outcome.skipReason) << "\n";
        break;
    case State::Failed:
        ++failed_;
        out_ << "not ok " << number_ << " - " << check.description << "\n  ---\n";
        for (const Outcome::Diagnostic &d : outcome.diagnostics)
            out_ << "  " << d.key << ": " << yamlQuoted(d.value) << "\n";
        out_ << "  ...\n";
        break;
    }
    for (const std::string &note : outcome.notes)
        out_ << "# " << oneLine(note) << "\n";
    out_.flush();
}

// The checks of one group against one host, in order. Closing and destroying the provider
// after the last check still belongs to that check: a fault there fails its line.
void Run::runGroup(const std::vector<const Check *> &group) {
    stopIfInterrupted();
    size_t index = 0;
    const auto stopped = [&](const host::Fault &fault) {
        record(*group[index], stoppedIn(fault, group[index]->limit));
        for (++index; index < group.size(); ++index)
            record(*group[index],
                   Outcome::skip("not run: check \"" + std::string(group[index - 1]->name) +
                                 "\" ended its process"));
    };
    std::unique_ptr<host::HostConnection> host;
    try {
        host = std::make_unique<host::HostConnection>(options_.host, options_.library);
    } catch (const host::HostStopped &error) {
        stopped(error.fault());
        return;
    }
    Session session(*host);
    session.hostExecutable = options_.host;
    session.library = options_.library;
    Outcome last;
    try {
        for (; index < group.size(); ++index) {
            const Check &check = *group[index];
            host->setCallLimit(check.limit);
            const std::string blocked = blockedBy(check, facts_.missingSymbols, done_);
            const Outcome outcome = blocked.empty() ? check.run(session) : Outcome::skip(blocked);
            facts_.observations.merge(session.observations());
            session.observations() = {};
            if (index + 1 < group.size())
                record(check, outcome);
            else
                last = outcome;
        }
        index = group.size() - 1;
        session.finish();
    } catch (const host::HostStopped &error) {
        facts_.observations.merge(session.observations());
        session.observations() = {};
        stopped(error.fault());
        return;
    }
    facts_.observations.merge(session.observations());
    record(*group.back(), last);
}

int Run::execute() {
    try {
        const ExitStatus status = executeChecks();
        stopIfInterrupted();
        return status;
    } catch (const Interrupted &interrupted) {
        out_ << "Bail out! " << interruptionReason(interrupted.signal) << "\n";
        out_.flush();
        return 128 + interrupted.signal;
    }
}

ExitStatus Run::executeChecks() {
    out_ << "TAP version 14\n";
    const std::string library = oneLine(options_.library);
    try {
        const host::HostConnection loaded(options_.host, options_.library);
        const host::Hello &hello = loaded.hello();
        if (!hello.loaded) {
            out_ << "Bail out! Cannot load " << library << ": " << oneLine(hello.why) << "\n";
            return kCannotCheck;
        }
        facts_.missingSymbols = missingSymbols(hello);
        if (!hello.has(host::Call::Create) || !hello.has(host::Call::Destroy)) {
            out_ << "Bail out! " << library
                 << " cannot create a provider: zdp_create or zdp_destroy is missing\n";
            return kCannotCheck;
        }
    } catch (const host::HostStopped &error) {
        stopIfInterrupted();
        out_ << "Bail out! Cannot load " << library << ": " << oneLine(error.description()) << "\n";
        return kCannotCheck;
    }
    static const Check creation{
        .name = "creation", .description = "one provider is created", .run = createOnce};
    if (const std::optional<Outcome> failed = runAlone(creation)) {
        std::string got;
        for (const Outcome::Diagnostic &d : failed->diagnostics)
            if (d.key == "got")
                got = d.value;
        out_ << "Bail out! " << library << " cannot create a provider: " << oneLine(got) << "\n";
        return kCannotCheck;
    }

    const std::vector<const Check *> checks = selectedChecks(options_.module, options_.write);
    out_ << "1.." << checks.size() << "\n";
    for (size_t i = 0; i < checks.size();) {
        const Check &check = *checks[i];
        if (check.judge) {
            record(check, check.judge(facts_));
            ++i;
            continue;
        }
        std::vector<const Check *> group{&check};
        while (check.group != 0 && ++i < checks.size() && checks[i]->group == check.group)
            group.push_back(checks[i]);
        if (check.group == 0)
            ++i;
        const std::string blocked = blockedBy(check, facts_.missingSymbols, done_);
        if (group.size() == 1 && !blocked.empty())
            record(check, Outcome::skip(blocked));
        else
            runGroup(group);
    }
    out_ << "# summary: " << checks.size() << " checks, " << passed_ << " passed, " << failed_
         << " failed, " << skipped_ << " skipped\n";
    out_.flush();
    return failed_ == 0 ? kAllPassed : kSomeFailed;
}

// Runs one check outside the numbered list; nothing when it passed.
std::optional<Outcome> Run::runAlone(const Check &check) {
    std::ostringstream unused;
    Run quiet(options_, unused);
    quiet.facts_.missingSymbols = facts_.missingSymbols;
    quiet.runGroup({&check});
    if (quiet.outcomes_.back().state != State::Failed)
        return std::nullopt;
    return quiet.outcomes_.back();
}

} // namespace

int runChecks(const Options &options, std::ostream &out) {
    Run run(options, out);
    return run.execute();
}

void listChecks(std::ostream &out) {
    for (const Check &check : allChecks()) {
        out << check.name << '\t' << check.description;
        if (check.needs == Needs::Module)
            out << "\t--module";
        else if (check.needs == Needs::Write)
            out << "\t--module --write";
        out << '\n';
    }
}

std::string yamlQuoted(std::string_view text) {
    const bool utf8 = isValidUtf8(text);
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string oneLine(std::string_view text) {
    // Valid UTF-8 first, so that every byte left below 0x20 is a control character.
    const std::string valid = messages::libraryText(text);
    std::string out;
    for (size_t i = 0; i < valid.size(); ++i) {
        const auto byte = static_cast<unsigned char>(valid[i]);
        if (valid[i] == '\r' && i + 1 < valid.size() && valid[i + 1] == '\n')
            continue;
        if (valid[i] == '\n' || valid[i] == '\r')
            out += " / ";
        else if (byte < 0x20 || byte == 0x7F)
            out += "\xEF\xBF\xBD";
        else
            out += valid[i];
    }
    return out;
}

} // namespace fw::check
