#include "session.h"

#include "module_protocol.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace fw::check {

namespace {

using Clock = std::chrono::steady_clock;

// The findings of one kind that are worth reading; the rest only repeat them.
constexpr size_t kMaxFindings = 5;

void keep(std::vector<std::string> &findings, std::string finding) {
    if (findings.size() < kMaxFindings &&
        std::find(findings.begin(), findings.end(), finding) == findings.end())
        findings.push_back(std::move(finding));
}

std::string seconds(Clock::duration elapsed) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.2f s",
                  std::chrono::duration<double>(elapsed).count());
    return text.data();
}

} // namespace

Outcome Outcome::fail(std::string message, std::string expected, std::string got) {
    Outcome outcome;
    outcome.state = State::Failed;
    outcome.diagnostics = {{"message", std::move(message)},
                           {"expected", std::move(expected)},
                           {"got", std::move(got)}};
    return outcome;
}

Outcome Outcome::skip(std::string reason) {
    Outcome outcome;
    outcome.state = State::Skipped;
    outcome.skipReason = std::move(reason);
    return outcome;
}

void Observations::merge(const Observations &other) {
    for (const std::string &finding : other.textFaults)
        keep(textFaults, finding);
    for (const std::string &finding : other.slowCalls)
        keep(slowCalls, finding);
    for (const std::string &finding : other.errorStatuses)
        keep(errorStatuses, finding);
}

namespace {
// The library's pointers, as the host hands them over and takes them back.
uint64_t token(const zdp_provider *dp) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(dp));
}
zdp_provider *providerOf(uint64_t token) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a token, never dereferenced here
    return reinterpret_cast<zdp_provider *>(static_cast<uintptr_t>(token));
}
} // namespace

Session::Session(host::HostConnection &host) : host_(host) {}

Session::~Session() {
    try {
        finish();
    } catch (const host::HostStopped &) {
        // The host is gone; there is nothing left to finish.
    }
}

void Session::finish() {
    if (dp_) {
        if (open_)
            close();
        destroy(dp_);
    }
}

template <typename Call>
int32_t Session::timed(const char *name, const zdp_provider *dp, Call &&call) {
    const Clock::time_point begin = Clock::now();
    const int32_t status = call();
    const Clock::duration elapsed = Clock::now() - begin;
    if (elapsed > kLibraryCallLimit && std::string_view(name) != host::callName(host::Call::Pair))
        keep(observations_.slowCalls, std::string(name) + " took " + seconds(elapsed));
    noteText(name, status, dp);
    return status;
}

void Session::noteText(const char *after, int32_t status, const zdp_provider *dp) {
    const std::string call(after);
    const bool hadErrorBefore = hadError_;
    if (status != 0) {
        hadError_ = true;
        keep(observations_.errorStatuses, "status " + std::to_string(status) + " from " + call);
    }
    if (!has(host::Call::ErrorText))
        return;
    host::CallArgs<host::Call::ErrorText> text{token(dp)};
    host_.call(text);
    if (text.isNull) {
        keep(observations_.textFaults, "NULL after " + call);
        return;
    }
    const std::string_view view(text.text);
    if (!isValidUtf8(view))
        keep(observations_.textFaults, "not valid UTF-8 after " + call);
    if (status != 0 && view.empty())
        keep(observations_.textFaults,
             "empty after " + call + " returned status " + std::to_string(status));
    // A library may keep an old description until the next error; only a text that
    // appears with no error at all is wrong.
    if (status == 0 && dp && !hadErrorBefore && !view.empty())
        keep(observations_.textFaults,
             "\"" + std::string(view) + "\" after " + call + " succeeded with no error before it");
}

std::optional<Outcome> Session::start(bool openStation) {
    if (const int32_t status = create(dp_); status != 0) {
        dp_ = nullptr;
        return Outcome::fail("zdp_create failed", "status 0", describe(status));
    }
    if (!openStation)
        return std::nullopt;
    int16_t flag = -1;
    if (const int32_t status = open(flag); status != 0)
        return Outcome::fail("zdp_open_connection(0, 0) failed", "status 0", describe(status));
    if (flag != 0)
        return Outcome::fail("the base station did not open", "failure flag 0",
                             "failure flag " + std::to_string(flag));
    return std::nullopt;
}

int32_t Session::create(zdp_provider *&dp) {
    host::CallArgs<host::Call::Create> made;
    const int32_t status = timed("zdp_create", nullptr, [&] {
        host_.call(made);
        return made.status;
    });
    if (status == 0)
        dp = providerOf(made.provider);
    return status;
}

void Session::destroy(zdp_provider *dp) {
    const Clock::time_point begin = Clock::now();
    host::CallArgs<host::Call::Destroy> destroy{token(dp)};
    host_.call(destroy);
    if (const Clock::duration elapsed = Clock::now() - begin; elapsed > kLibraryCallLimit)
        keep(observations_.slowCalls, "zdp_destroy took " + seconds(elapsed));
    if (dp == dp_) {
        dp_ = nullptr;
        open_ = false;
        hadError_ = false;
    }
}

int32_t Session::probe() {
    return timed("zdp_probe_provider", dp_,
                 [&] { return called<host::Call::Probe>({.provider = token(dp_)}).status; });
}

int32_t Session::open(int16_t &flag) {
    const int32_t status = timed("zdp_open_connection", dp_, [&] {
        const auto open = called<host::Call::Open>({.provider = token(dp_), .flag = flag});
        flag = open.flag;
        return open.status;
    });
    open_ = open_ || (status == 0 && flag == 0);
    return status;
}

int32_t Session::close() {
    const int32_t status = timed("zdp_close_connection", dp_, [&] {
        return called<host::Call::Close>({.provider = token(dp_)}).status;
    });
    if (status == 0)
        open_ = false;
    return status;
}

int32_t Session::getChannel(uint8_t &channel) {
    return timed("zdp_get_base_channel", dp_, [&] {
        const auto got = called<host::Call::GetChannel>(
            {.provider = token(dp_), .arg1 = kBaseStationArg, .channel = channel});
        channel = got.channel;
        return got.status;
    });
}

int32_t Session::setChannel(uint8_t channel) {
    return timed("zdp_set_base_channel", dp_, [&] {
        return called<host::Call::SetChannel>(
                   {.provider = token(dp_), .arg1 = kBaseStationArg, .channel = channel})
            .status;
    });
}

int32_t Session::pair(int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId,
                      int32_t *extra) {
    return timed("zdp_pair_module", dp_, [&] {
        const auto paired = called<host::Call::Pair>({.provider = token(dp_),
                                                      .arg1 = kBaseStationArg,
                                                      .channelMode = channelMode,
                                                      .windowSeconds = windowSeconds,
                                                      .moduleId = moduleId});
        moduleId = paired.moduleId;
        if (extra)
            *extra = paired.extra;
        return paired.status;
    });
}

int32_t Session::write(uint32_t moduleId, uint8_t command, const std::string &value,
                       int16_t &flag) {
    return timed("zdp_write_module_command", dp_, [&] {
        const auto written = called<host::Call::Write>({.provider = token(dp_),
                                                        .arg1 = kBaseStationArg,
                                                        .moduleId = moduleId,
                                                        .command = command,
                                                        .payload = payloadOf(value),
                                                        .flag = flag});
        flag = written.flag;
        return written.status;
    });
}

// The host reads between guard regions, so that a library that overruns its buffer is
// caught by the one check that looks.
Session::Read Session::read(uint32_t moduleId, uint8_t command, size_t capacity) {
    Read answer;
    host::CallArgs<host::Call::Read> got{.provider = token(dp_),
                                         .arg1 = kBaseStationArg,
                                         .moduleId = moduleId,
                                         .command = command,
                                         .capacity = static_cast<uint32_t>(capacity),
                                         .fill = kUnwrittenByte,
                                         .flag = -1};
    answer.status = timed("zdp_read_module_command", dp_, [&] {
        host_.call(got);
        return got.status;
    });
    answer.flag = got.flag;
    answer.length = static_cast<size_t>(got.length);
    answer.overrun = got.outside;
    answer.bytes = got.value;
    answer.text = std::string(answerText(got.value));
    return answer;
}

std::string Session::describe(int32_t status) const {
    std::string text = "status " + std::to_string(status);
    if (!has(host::Call::ErrorText))
        return text;
    host::CallArgs<host::Call::ErrorText> description{token(dp_)};
    host_.call(description);
    return text + ": " + (description.isNull ? "(zdp_error_text gave NULL)" : description.text);
}

} // namespace fw::check
