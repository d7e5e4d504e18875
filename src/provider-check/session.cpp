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

constexpr auto kCallLimit = std::chrono::seconds(1);
// The findings of one kind that are worth reading; the rest only repeat them.
constexpr size_t kMaxFindings = 5;
constexpr size_t kGuardBytes = 64;
constexpr unsigned char kGuard = 0xC3;

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

Session::Session(const Abi &abi, CallHook onCall) : abi_(abi), onCall_(std::move(onCall)) {
    // A host asks for the version before anything else; a library may rely on that.
    if (abi_.abiVersion) {
        onCall_("zdp_abi_version");
        version_ = abi_.abiVersion();
    }
}

Session::~Session() {
    finish();
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
    onCall_(name);
    const Clock::time_point begin = Clock::now();
    const int32_t status = call();
    const Clock::duration elapsed = Clock::now() - begin;
    if (elapsed > kCallLimit && std::string_view(name) != "zdp_pair_module")
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
    if (!abi_.errorText)
        return;
    onCall_("zdp_error_text");
    const char *text = abi_.errorText(dp);
    if (!text) {
        keep(observations_.textFaults, "NULL after " + call);
        return;
    }
    const std::string_view view(text);
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
    zdp_provider *made = nullptr;
    const int32_t status = timed("zdp_create", nullptr, [&] { return abi_.create(&made); });
    if (status == 0)
        dp = made;
    return status;
}

void Session::destroy(zdp_provider *dp) {
    onCall_("zdp_destroy");
    const Clock::time_point begin = Clock::now();
    abi_.destroy(dp);
    if (const Clock::duration elapsed = Clock::now() - begin; elapsed > kCallLimit)
        keep(observations_.slowCalls, "zdp_destroy took " + seconds(elapsed));
    if (dp == dp_) {
        dp_ = nullptr;
        open_ = false;
        hadError_ = false;
    }
}

int32_t Session::probe() {
    int32_t result = 0;
    return timed("zdp_probe_provider", dp_, [&] { return abi_.probeProvider(dp_, &result); });
}

int32_t Session::open(int16_t &flag) {
    const int32_t status =
        timed("zdp_open_connection", dp_, [&] { return abi_.openConnection(dp_, 0, 0, &flag); });
    open_ = open_ || (status == 0 && flag == 0);
    return status;
}

int32_t Session::close() {
    const int32_t status =
        timed("zdp_close_connection", dp_, [&] { return abi_.closeConnection(dp_); });
    if (status == 0)
        open_ = false;
    return status;
}

int32_t Session::getChannel(uint8_t &channel) {
    return timed("zdp_get_base_channel", dp_,
                 [&] { return abi_.getBaseChannel(dp_, 1, &channel); });
}

int32_t Session::setChannel(uint8_t channel) {
    return timed("zdp_set_base_channel", dp_, [&] { return abi_.setBaseChannel(dp_, 1, channel); });
}

int32_t Session::pair(int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId) {
    int32_t extra = 0;
    int32_t result = 0;
    return timed("zdp_pair_module", dp_, [&] {
        return abi_.pairModule(dp_, 1, channelMode, windowSeconds, &moduleId, &extra, &result);
    });
}

int32_t Session::write(uint32_t moduleId, uint8_t command, const std::string &value,
                       int16_t &flag) {
    const std::string payload = payloadOf(value);
    return timed("zdp_write_module_command", dp_, [&] {
        return abi_.writeModuleCommand(dp_, 1, moduleId, command, payload.data(), payload.size(),
                                       &flag);
    });
}

// Every read goes through guard bytes, so that a library that overruns its buffer is caught
// by the one check that looks, and does not corrupt the checker for the others.
Session::Read Session::read(uint32_t moduleId, uint8_t command, size_t capacity) {
    std::vector<unsigned char> area(kGuardBytes + capacity + kGuardBytes, kGuard);
    char *value = reinterpret_cast<char *>(area.data() + kGuardBytes);
    Read answer;
    answer.flag = -1;
    answer.status = timed("zdp_read_module_command", dp_, [&] {
        return abi_.readModuleCommand(dp_, 1, moduleId, command, value, capacity, &answer.length,
                                      &answer.flag);
    });
    for (size_t i = 0; i < kGuardBytes; ++i)
        answer.overrun =
            answer.overrun || area[i] != kGuard || area[kGuardBytes + capacity + i] != kGuard;
    const std::string_view bytes(value, std::min(answer.length, capacity));
    answer.text = std::string(answerText(bytes));
    return answer;
}

std::string Session::describe(int32_t status) const {
    std::string text = "status " + std::to_string(status);
    if (!abi_.errorText)
        return text;
    const char *description = abi_.errorText(dp_);
    return text + ": " + (description ? std::string(description) : "(zdp_error_text gave NULL)");
}

} // namespace fw::check
