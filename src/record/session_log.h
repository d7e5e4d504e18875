#pragma once

#include "update_observer.h"

#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The updates of this run, kept in memory for the operator to look over and copy; the
// record file is the place for what outlives the run.
namespace fw::record {

struct SessionRow {
    UpdateReport report;
    std::time_t ended = 0; // when updateEnding() heard of it
    // "HH:MM" of the module's first completion in this session when the module had already
    // completed before this update, whatever this one's outcome; empty otherwise.
    std::string firstCompleted;

    friend bool operator==(const SessionRow &, const SessionRow &) = default;
};

// "updated again; first at 14:03" for a module that had already completed in this session;
// empty for any other row.
std::string repeatNote(const SessionRow &row);

// Local time of day: "14:03:27".
std::string clockTime(std::time_t when);

// The values the update wrote, those written only, in the module's order:
// "TX 100 ms, sample 5 ms, sleep 0 s, low power 1", then " (verified)" when they were read
// back as written; empty when none was written.
std::string writtenText(const UpdateReport &report);

// Keeps one row per Update of the run, in the order they ended; Reads are not kept. Reads
// and writes no file.
class SessionLog final : public UpdateObserver {
public:
    using Clock = std::function<std::time_t()>;

    explicit SessionLog(Clock clock = [] { return std::time(nullptr); });

    // Keeps the row, then tells every listener; no notice.
    std::optional<Message> updateEnding(const UpdateReport &report) override;

    const std::vector<SessionRow> &rows() const { return rows_; }
    int completeCount() const { return complete_; }
    int failedCount() const { return static_cast<int>(rows_.size()) - complete_; }

    // The rows at these positions of rows(), in the order given, as the record writes them:
    // its header, then one line each with the time of its end.
    std::string csv(const std::vector<std::size_t> &positions) const;

    // Calls changed after each new row, on the thread that called updateEnding(), for as
    // long as the returned handle is kept. Listening changes nothing in the log, so a const
    // log can be watched.
    [[nodiscard]] std::shared_ptr<void> listen(std::function<void()> changed) const;

private:
    Clock clock_;
    std::vector<SessionRow> rows_;
    int complete_ = 0;
    mutable std::vector<std::weak_ptr<std::function<void()>>> listeners_;
};

} // namespace fw::record
