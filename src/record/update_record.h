#pragma once

#include "update_observer.h"

#include <ctime>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

// The update record: one CSV line per update, appended to a file that outlives the run.
namespace fw::record {

inline constexpr std::string_view kHeader =
    "time,module_id,model,tab,channel,tx_interval_ms,sample_time_ms,sleep_delay_s,"
    "low_power_mode,outcome,message,verified\n";

// The text with each line break (CR LF, a lone CR or a lone LF) as " / ".
std::string oneLine(std::string_view text);

// One field: the text on one line, so that every record stays on one line, then quoted
// when it holds a comma, a quote or a blank at either end.
std::string csvField(std::string_view text);

// The channel column: "kept" when the module's radio settings were left as they were, else
// the channel the base station was set to; empty for none.
std::string channelText(const UpdateReport &report);

// A field whose text came from the library or the module, made safe to open anywhere:
// line breaks as in csvField, every other control character and every byte that is not
// part of valid UTF-8 as \xNN, and a leading ' when a spreadsheet would take the text for
// a formula (it starts with =, +, -, @, TAB or CR).
std::string textField(std::string_view text);

// The last line of a file, cut short, fed a piece at a time from its start, as an RFC 4180
// reader reads it: only a field that starts with a quote is quoted, and a doubled quote
// inside it stands for one. Only the state of the quoting is kept, so a line of any length
// takes no more memory than a short one.
class CutLine {
public:
    void read(std::string_view bytes);
    // What must go before a new line so that it starts a row of its own: nothing when the
    // cut line is empty (the file ends in a whole line), else a closing quote when it ends
    // inside a quoted field, and the line end.
    std::string mending() const;

private:
    enum class State { FieldStart, Plain, Quoted, QuoteInQuoted };
    State state_ = State::FieldStart;
    bool empty_ = true;
};

// The same for tail, the end of the file as it is, when it holds the whole last line.
std::string mendingFor(std::string_view tail);

// Local time to the second with its UTC offset: 2026-12-08T14:03:27+01:00.
std::string isoLocalTime(std::time_t when);

// The whole line for one update, ending in a newline.
std::string recordLine(const UpdateReport &report, std::string_view time);

// Appends line with a single write to the file opened for appending, after the header when
// the file is new or empty and after the mending when its last line was cut short, then
// flushes it to the disk. The mending reads the file back to the start of its last line,
// however long that line is: time grows with the line's length, memory stays at 64 KiB. A
// write that does not go in whole is taken back: the file is left as it was, and a file
// this call created is removed. Returns why it could not, or nothing.
std::optional<std::string> appendLine(const std::string &path, std::string_view line);

// Creates the missing folders of path, each readable by its owner only. Returns why it could
// not, or nothing.
std::optional<std::string> makeFolders(const std::string &path);

// Where the record goes unless told otherwise: fleetwright/updates.csv in the user's state
// folder ($XDG_STATE_HOME, or ~/.local/state; see userFolder()).
std::string defaultRecordPath();

// Runs work on a thread other than the caller's and returns once it is done. What the
// caller's thread does meanwhile is up to the implementation (the window serves its events).
using OffThread = std::function<void(const std::function<void()> &work)>;

// Runs work on a thread of its own and blocks until it is done.
void onAnotherThread(const std::function<void()> &work);

// Writes the record as updates end, each line off the caller's thread: waiting for another
// program's lock or for the disk never stalls the window. A line that cannot be written
// never holds up the update: the first failure of a run is told on the error stream and as
// a notice, later ones only leave their line out.
class UpdateRecord final : public UpdateObserver {
public:
    using Clock = std::function<std::time_t()>;

    // createFolder: make the file's folder when it is missing (the default place).
    UpdateRecord(std::string path, bool createFolder, std::ostream &errors, Clock clock,
                 OffThread offThread = onAnotherThread);
    UpdateRecord(std::string path, bool createFolder, OffThread offThread = onAnotherThread);

    std::optional<Message> updateEnding(const UpdateReport &report) override;

    const std::string &path() const { return path_; }

private:
    std::string path_;
    bool createFolder_;
    std::ostream &errors_;
    Clock clock_;
    OffThread offThread_;
    bool warned_ = false;
};

} // namespace fw::record
