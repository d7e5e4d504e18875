#include "runner.h"

#include "data_provider.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fw::check {

namespace {

using Clock = std::chrono::steady_clock;
using State = Outcome::State;
using Done = std::vector<std::pair<std::string_view, State>>;

// ---- the child's report, one line per item over a pipe -------------------------------
// C call     the call about to be made
// T text     a finding about an error text      S text   a slow call
// N text     an error status that a call returned
// R state    the outcome (P, F or S) with the skip reason
// D key val  a diagnostic of a failure
// E          end of one check's report

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescaped(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[++i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

void writeAll(int fd, const std::string &text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::write(fd, text.data() + sent, text.size() - sent);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

void report(int fd, const Outcome &outcome, Observations &observations) {
    std::string text;
    for (const std::string &finding : observations.textFaults)
        text += "T " + escaped(finding) + "\n";
    for (const std::string &finding : observations.slowCalls)
        text += "S " + escaped(finding) + "\n";
    for (const std::string &finding : observations.errorStatuses)
        text += "N " + escaped(finding) + "\n";
    observations = {};
    const char state = outcome.state == State::Passed   ? 'P'
                       : outcome.state == State::Failed ? 'F'
                                                        : 'S';
    text += std::string("R ") + state + " " + escaped(outcome.skipReason) + "\n";
    for (const Outcome::Diagnostic &d : outcome.diagnostics)
        text += "D " + d.key + " " + escaped(d.value) + "\n";
    text += "E\n";
    writeAll(fd, text);
}

// Runs the checks of one group in this child process, reporting each, and never returns.
[[noreturn]] void runChild(int fd, const Abi &abi, const std::vector<std::string> &missing,
                           Done done, const std::vector<const Check *> &checks) {
    // The library's own output must not mix with the TAP stream.
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    Session session(abi, [fd](const char *call) { writeAll(fd, std::string("C ") + call + "\n"); });
    for (const Check *check : checks) {
        const std::string blocked = blockedBy(*check, missing, done);
        const Outcome outcome = blocked.empty() ? check->run(session) : Outcome::skip(blocked);
        done.emplace_back(check->name, outcome.state);
        report(fd, outcome, session.observations());
    }
    // What closing and destroying the provider shows still counts.
    session.finish();
    std::string rest;
    for (const std::string &finding : session.observations().textFaults)
        rest += "T " + escaped(finding) + "\n";
    for (const std::string &finding : session.observations().slowCalls)
        rest += "S " + escaped(finding) + "\n";
    for (const std::string &finding : session.observations().errorStatuses)
        rest += "N " + escaped(finding) + "\n";
    writeAll(fd, rest + "X\n");
    ::_exit(0);
}

// Reads the child's report lines, waiting until a deadline.
class ReportReader {
public:
    explicit ReportReader(int fd) : fd_(fd) {}

    // The next line, or nothing at the end of the stream or at the deadline.
    std::optional<std::string> next(Clock::time_point deadline, bool &timedOut) {
        timedOut = false;
        for (;;) {
            if (const size_t end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                timedOut = true;
                return std::nullopt;
            }
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return std::nullopt;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

private:
    int fd_;
    std::string buffer_;
};

std::string seconds(std::chrono::seconds limit) {
    return std::to_string(limit.count()) + " s";
}

class Run {
public:
    Run(const Options &options, std::ostream &out) : options_(options), out_(out) {}

    ExitStatus execute();

private:
    void runGroup(const std::vector<const Check *> &group);
    void record(const Check &check, const Outcome &outcome);
    Outcome ended(pid_t child, bool timedOut, const Check &check, const std::string &lastCall);
    std::optional<Outcome> runAlone(const Check &check);

    const Options &options_;
    std::ostream &out_;
    Abi abi_;
    LibraryFacts facts_;
    Done done_;
    int number_ = 0;
    int passed_ = 0;
    int failed_ = 0;
    int skipped_ = 0;
    std::vector<Outcome> outcomes_;
};

void Run::record(const Check &check, const Outcome &outcome) {
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
        out_ << "ok " << number_ << " - " << check.description << " # SKIP " << outcome.skipReason
             << "\n";
        break;
    case State::Failed:
        ++failed_;
        out_ << "not ok " << number_ << " - " << check.description << "\n  ---\n";
        for (const Outcome::Diagnostic &d : outcome.diagnostics)
            out_ << "  " << d.key << ": " << yamlQuoted(d.value) << "\n";
        out_ << "  ...\n";
        break;
    }
    out_.flush();
}

Outcome Run::ended(pid_t child, bool timedOut, const Check &check, const std::string &lastCall) {
    if (timedOut)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::string what;
    if (timedOut)
        what = "no answer within " + seconds(check.limit);
    else if (WIFSIGNALED(status))
        what = "killed by signal " + std::to_string(WTERMSIG(status));
    else
        what = "ended with exit status " + std::to_string(WEXITSTATUS(status));
    return Outcome::fail(what, "an answer within " + seconds(check.limit),
                         what + (lastCall.empty() ? "" : " in " + lastCall));
}

void Run::runGroup(const std::vector<const Check *> &group) {
    out_.flush();
    std::fflush(nullptr);
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("cannot make a pipe");
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("cannot start a child process");
    if (child == 0) {
        ::close(fds[0]);
        runChild(fds[1], abi_, facts_.missingSymbols, done_, group);
    }
    ::close(fds[1]);
    ReportReader reader(fds[0]);
    size_t index = 0;
    std::string lastCall;
    Outcome current;
    Observations seen;
    bool finished = false;
    Clock::time_point deadline = Clock::now() + group.front()->limit;
    while (index < group.size()) {
        bool timedOut = false;
        const std::optional<std::string> line = reader.next(deadline, timedOut);
        if (!line) {
            record(*group[index], ended(child, timedOut, *group[index], lastCall));
            finished = true;
            for (++index; index < group.size(); ++index)
                record(*group[index],
                       Outcome::skip("not run: check \"" + std::string(group[index - 1]->name) +
                                     "\" ended its process"));
            break;
        }
        const char kind = line->empty() ? '?' : (*line)[0];
        const std::string rest = line->size() > 2 ? line->substr(2) : std::string();
        if (kind == 'C') {
            lastCall = rest;
            // The limit holds for each call: a check of many quick calls may take longer.
            deadline = Clock::now() + group[index]->limit;
        } else if (kind == 'T') {
            seen.textFaults.push_back(unescaped(rest));
        } else if (kind == 'S') {
            seen.slowCalls.push_back(unescaped(rest));
        } else if (kind == 'N') {
            seen.errorStatuses.push_back(unescaped(rest));
        } else if (kind == 'R') {
            current = {};
            current.state = rest[0] == 'P'   ? State::Passed
                            : rest[0] == 'F' ? State::Failed
                                             : State::Skipped;
            current.skipReason = unescaped(rest.substr(std::min<size_t>(2, rest.size())));
        } else if (kind == 'D') {
            const size_t space = rest.find(' ');
            current.diagnostics.push_back(
                {rest.substr(0, space),
                 space == std::string::npos ? std::string() : unescaped(rest.substr(space + 1))});
        } else if (kind == 'E') {
            facts_.observations.merge(seen);
            seen = {};
            record(*group[index], current);
            lastCall.clear();
            if (++index < group.size())
                deadline = Clock::now() + group[index]->limit;
        }
    }
    if (!finished) {
        // Closing and destroying after the last check; a crash there is the last check's.
        bool timedOut = false;
        const Clock::time_point end = Clock::now() + group.back()->limit;
        while (const std::optional<std::string> line = reader.next(end, timedOut)) {
            if ((*line)[0] == 'T')
                seen.textFaults.push_back(unescaped(line->substr(2)));
            else if ((*line)[0] == 'S')
                seen.slowCalls.push_back(unescaped(line->substr(2)));
            else if ((*line)[0] == 'N')
                seen.errorStatuses.push_back(unescaped(line->substr(2)));
            else if ((*line)[0] == 'X')
                break;
        }
        facts_.observations.merge(seen);
        if (timedOut)
            ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(fds[0]);
}

ExitStatus Run::execute() {
    out_ << "TAP version 14\n";
    LibraryHandle library;
    try {
        library = openProviderLibrary(options_.library);
    } catch (const ProviderError &error) {
        out_ << "Bail out! Cannot load " << options_.library << ": " << error.description() << "\n";
        return kCannotCheck;
    }
    abi_ = bindPresent(library.get());
    facts_.missingSymbols = missingSymbols(library.get());
    if (!abi_.create || !abi_.destroy) {
        out_ << "Bail out! " << options_.library
             << " cannot create a provider: zdp_create or zdp_destroy is missing\n";
        return kCannotCheck;
    }
    static const Check creation{
        .name = "creation", .description = "one provider is created", .run = createOnce};
    if (const std::optional<Outcome> failed = runAlone(creation)) {
        std::string got;
        for (const Outcome::Diagnostic &d : failed->diagnostics)
            if (d.key == "got")
                got = d.value;
        out_ << "Bail out! " << options_.library << " cannot create a provider: " << got << "\n";
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
    quiet.abi_ = abi_;
    quiet.facts_.missingSymbols = facts_.missingSymbols;
    quiet.runGroup({&check});
    if (quiet.outcomes_.back().state != State::Failed)
        return std::nullopt;
    return quiet.outcomes_.back();
}

} // namespace

ExitStatus runChecks(const Options &options, std::ostream &out) {
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

} // namespace fw::check
