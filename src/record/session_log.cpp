#include "session_log.h"

#include "update_record.h"

#include <algorithm>

namespace fw::record {

namespace {

std::string localTime(std::time_t when, const char *format) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[16];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

} // namespace

std::string repeatNote(const SessionRow &row) {
    return row.firstCompleted.empty() ? std::string()
                                      : "updated again; first at " + row.firstCompleted;
}

std::string clockTime(std::time_t when) {
    return localTime(when, "%H:%M:%S");
}

std::string writtenText(const UpdateReport &report) {
    const StagedParameters &written = report.written;
    struct Shown {
        const std::string &value;
        const char *name;
        const char *unit;
    };
    const Shown values[] = {{written.txInterval, "TX ", " ms"},
                            {written.sampleTime, "sample ", " ms"},
                            {written.sleepDelay, "sleep ", " s"},
                            {written.lowPowerMode, "low power ", ""}};
    std::string text;
    for (const Shown &shown : values) {
        if (shown.value.empty())
            continue;
        if (!text.empty())
            text += ", ";
        text += shown.name + shown.value + shown.unit;
    }
    if (!text.empty() && report.verified)
        text += " (verified)";
    return text;
}

SessionLog::SessionLog(Clock clock) : clock_(std::move(clock)) {}

std::optional<Message> SessionLog::updateEnding(const UpdateReport &report) {
    if (report.tab == UpdateTab::Read)
        return std::nullopt;
    SessionRow row{report, clock_(), {}};
    if (!report.moduleId.empty()) {
        const auto first = std::find_if(rows_.begin(), rows_.end(), [&report](const SessionRow &r) {
            return r.report.complete && r.report.moduleId == report.moduleId;
        });
        if (first != rows_.end())
            row.firstCompleted = localTime(first->ended, "%H:%M");
    }
    rows_.push_back(std::move(row));
    complete_ += report.complete ? 1 : 0;

    // A listener may start or stop listening while it is told; those told are the ones
    // listening now.
    std::vector<std::shared_ptr<std::function<void()>>> told;
    for (const auto &listener : listeners_)
        if (auto held = listener.lock())
            told.push_back(std::move(held));
    std::erase_if(listeners_, [](const auto &listener) { return listener.expired(); });
    for (const auto &changed : told)
        (*changed)();
    return std::nullopt;
}

std::string SessionLog::csv(const std::vector<std::size_t> &positions) const {
    std::string text(kHeader);
    for (const std::size_t position : positions) {
        const SessionRow &row = rows_.at(position);
        text += recordLine(row.report, isoLocalTime(row.ended));
    }
    return text;
}

std::shared_ptr<void> SessionLog::listen(std::function<void()> changed) const {
    auto held = std::make_shared<std::function<void()>>(std::move(changed));
    listeners_.push_back(held);
    return held;
}

} // namespace fw::record
