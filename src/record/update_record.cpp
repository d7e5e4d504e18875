#include "update_record.h"

#include "folder_of.h"
#include "messages.h"
#include "provider_text.h"
#include "user_folders.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fw::record {

namespace {

std::string systemReason(int error) {
    return std::strerror(error);
}

// A descriptor closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A new file's name lives in its folder: without this the first line could vanish with it.
void syncFolder(const std::string &path) {
    const Descriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
}

bool writeAll(int fd, std::string_view bytes, std::string &reason) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            reason = written < 0 ? systemReason(errno) : "Only part of the line could be written";
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The piece of the file read at a time while looking for where its last line starts.
constexpr off_t kChunkBytes = off_t{64} * 1024;

// Where the last line of a file of size bytes starts: just after its last line end, or at
// the start of the file. Reads back a piece at a time, however long that line is.
std::optional<off_t> lastLineStart(int fd, off_t size) {
    std::string chunk;
    for (off_t end = size; end > 0;) {
        const off_t start = end > kChunkBytes ? end - kChunkBytes : 0;
        chunk.resize(static_cast<size_t>(end - start));
        if (::pread(fd, chunk.data(), chunk.size(), start) != static_cast<ssize_t>(chunk.size()))
            return std::nullopt;
        if (const size_t lineEnd = chunk.find_last_of('\n'); lineEnd != std::string::npos)
            return start + static_cast<off_t>(lineEnd) + 1;
        end = start;
    }
    return 0;
}

void appendHex(std::string &out, unsigned char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
}

// The library's text as valid UTF-8 without control characters, line breaks kept for
// csvField to join.
std::string printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\r' || byte == '\n' || (byte >= 0x20 && byte < 0x7F)) {
            shown += text[i++];
            continue;
        }
        const size_t length = byte < 0x80 ? 0 : utf8SequenceLength(text.substr(i));
        // U+0080 to U+009F are control characters too.
        const bool control =
            length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || control) {
            for (size_t end = i + std::max<size_t>(length, 1); i < end; ++i)
                appendHex(shown, static_cast<unsigned char>(text[i]));
            continue;
        }
        shown.append(text.substr(i, length));
        i += length;
    }
    return shown;
}

// Appending takes another program a moment; one that holds the lock for longer is stuck,
// and must not hold up the update.
constexpr auto kLockPatience = std::chrono::seconds(2);

bool lockWithin(int fd, std::chrono::milliseconds patience) {
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true; // no locks on this file system: append without one
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

const char *tabName(UpdateTab tab) {
    switch (tab) {
    case UpdateTab::Acquisition:
        return "acquisition";
    case UpdateTab::Read:
        return "read";
    case UpdateTab::General:
        break;
    }
    return "general";
}

const char *outcomeText(const UpdateReport &report) {
    if (!report.complete)
        return "failed";
    return report.tab == UpdateTab::Read ? "read" : "complete";
}

} // namespace

std::string channelText(const UpdateReport &report) {
    if (report.channelKept)
        return "kept";
    return report.channel > 0 ? std::to_string(report.channel) : std::string();
}

std::string oneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            line += " / ";
        } else {
            line += c;
        }
    }
    return line;
}

std::string csvField(std::string_view text) {
    std::string field = oneLine(text);
    const bool quoted = field.find_first_of(",\"") != std::string::npos ||
                        (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quoted)
        return field;
    std::string out = "\"";
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

std::string textField(std::string_view text) {
    std::string shown = printable(text);
    // A spreadsheet runs such a field as a formula; the quote makes it plain text.
    if (!shown.empty() && std::string_view("=+-@\t\r").find(shown.front()) != std::string::npos)
        shown.insert(0, 1, '\'');
    return csvField(shown);
}

void CutLine::read(std::string_view bytes) {
    for (const char c : bytes) {
        switch (state_) {
        case State::FieldStart:
            state_ = c == '"' ? State::Quoted : c == ',' ? State::FieldStart : State::Plain;
            break;
        case State::Plain:
            if (c == ',')
                state_ = State::FieldStart;
            break;
        case State::Quoted:
            if (c == '"')
                state_ = State::QuoteInQuoted;
            break;
        case State::QuoteInQuoted:
            state_ = c == '"' ? State::Quoted : c == ',' ? State::FieldStart : State::Plain;
            break;
        }
    }
    empty_ = empty_ && bytes.empty();
}

std::string CutLine::mending() const {
    if (empty_)
        return {};
    return state_ == State::Quoted ? "\"\n" : "\n";
}

std::string mendingFor(std::string_view tail) {
    const size_t lineEnd = tail.find_last_of('\n');
    CutLine cut;
    cut.read(lineEnd == std::string_view::npos ? tail : tail.substr(lineEnd + 1));
    return cut.mending();
}

std::string isoLocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[48];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return std::string(stamp) + zone;
}

std::string recordLine(const UpdateReport &report, std::string_view time) {
    // A Read writes nothing; its columns hold what the module answered, which is guarded
    // as the other texts from the module are. What this program wrote goes as it is.
    const bool read = report.tab == UpdateTab::Read;
    const StagedParameters &values = read ? report.readValues : report.written;
    const auto value = [read](const std::string &text) {
        return read ? textField(text) : csvField(text);
    };
    const std::string fields[] = {
        csvField(time),           csvField(report.moduleId),      textField(report.model),
        tabName(report.tab),      csvField(channelText(report)),  value(values.txInterval),
        value(values.sampleTime), value(values.sleepDelay),       value(values.lowPowerMode),
        outcomeText(report),      textField(report.message.text), report.verified ? "yes" : "",
    };
    std::string line;
    for (size_t i = 0; i < std::size(fields); ++i) {
        if (i > 0)
            line += ',';
        line += fields[i];
    }
    return line + '\n';
}

namespace {

// What closes the file's last line when it was cut short, read from that line's start to the
// end of the file; nothing when it cannot be read.
std::optional<std::string> mendingOf(int fd, off_t size) {
    const std::optional<off_t> lineStart = lastLineStart(fd, size);
    if (!lineStart)
        return std::nullopt;
    CutLine cut;
    std::string chunk;
    for (off_t at = *lineStart; at < size;) {
        chunk.resize(static_cast<size_t>(std::min(size - at, kChunkBytes)));
        if (::pread(fd, chunk.data(), chunk.size(), at) != static_cast<ssize_t>(chunk.size()))
            return std::nullopt;
        cut.read(chunk);
        at += static_cast<off_t>(chunk.size());
    }
    return cut.mending();
}

// Removes the file at path, or the file its links lead to: a record this call created and
// could not write its first line to.
void removeCreated(const std::string &path) {
    char *file = ::realpath(path.c_str(), nullptr);
    ::unlink(file ? file : path.c_str());
    std::free(file); // NOLINT(cppcoreguidelines-no-malloc): realpath allocates with malloc
}

enum class Appended { Done, Failed, FileRemoved };

Appended appendOnce(const std::string &path, std::string_view line, std::string &reason) {
    const auto failed = [&reason](std::string why) {
        reason = std::move(why);
        return Appended::Failed;
    };
    struct stat status {};
    // Whether this call makes the file: only such a file is removed when its first line
    // cannot be written.
    const bool creating = ::stat(path.c_str(), &status) != 0 && errno == ENOENT;
    // Non-blocking so that opening a pipe or a device in the record's place never waits.
    const Descriptor file(
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    if (file.get() < 0)
        return failed(systemReason(errno));
    if (::fstat(file.get(), &status) != 0)
        return failed(systemReason(errno));
    if (!S_ISREG(status.st_mode))
        return failed("Not a regular file");

    // Another program appending to the same record waits here, so that the size and the
    // last line read below are still true when this line goes in.
    if (!lockWithin(file.get(), kLockPatience))
        return failed("Another program keeps the record locked");
    if (::fstat(file.get(), &status) != 0)
        return failed(systemReason(errno));
    if (status.st_nlink == 0)
        return Appended::FileRemoved; // by a program whose first line did not go in
    // A line cut short by an earlier crash keeps what it holds; it is only closed, so that
    // it does not swallow the lines after it.
    std::string bytes(kHeader);
    if (status.st_size > 0) {
        const std::optional<std::string> mending = mendingOf(file.get(), status.st_size);
        if (!mending)
            return failed("Its last line cannot be read back");
        bytes = *mending;
    }
    bytes += line;

    if (!writeAll(file.get(), bytes, reason)) {
        // Half a line would be mended into a row of its own the next time; the file goes
        // back to what it was while it is still ours, or away when it was not there.
        if (creating && status.st_size == 0)
            removeCreated(path);
        else if (::ftruncate(file.get(), status.st_size) != 0)
            reason += std::string(", and the part written could not be taken back: ") +
                      systemReason(errno);
        return Appended::Failed;
    }
    ::flock(file.get(), LOCK_UN); // the line is whole; the other program may go on meanwhile
    if (::fsync(file.get()) != 0)
        return failed(systemReason(errno));
    if (status.st_size == 0)
        syncFolder(path);
    return Appended::Done;
}

} // namespace

std::optional<std::string> appendLine(const std::string &path, std::string_view line) {
    // A file removed under the lock is made again; a few times are plenty for a race.
    constexpr int kAttempts = 3;
    std::string reason = "The record was removed while this line waited for it";
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        switch (appendOnce(path, line, reason)) {
        case Appended::Done:
            return std::nullopt;
        case Appended::Failed:
            return reason;
        case Appended::FileRemoved:
            break;
        }
    }
    return reason;
}

std::optional<std::string> makeFolders(const std::string &path) {
    const std::string folder = folderOf(path);
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return systemReason(errno);
        if (end == std::string::npos)
            return std::nullopt;
    }
}

std::string defaultRecordPath() {
    return userFolder("XDG_STATE_HOME", ".local/state") + "/fleetwright/updates.csv";
}

void onAnotherThread(const std::function<void()> &work) {
    std::thread(work).join();
}

UpdateRecord::UpdateRecord(std::string path, bool createFolder, std::ostream &errors, Clock clock,
                           OffThread offThread)
    : path_(std::move(path)), createFolder_(createFolder), errors_(errors),
      clock_(std::move(clock)), offThread_(std::move(offThread)) {}

UpdateRecord::UpdateRecord(std::string path, bool createFolder, OffThread offThread)
    : UpdateRecord(
          std::move(path), createFolder, std::cerr, [] { return std::time(nullptr); },
          std::move(offThread)) {}

std::optional<Message> UpdateRecord::updateEnding(const UpdateReport &report) {
    const std::string line = recordLine(report, isoLocalTime(clock_()));
    std::optional<std::string> failure;
    offThread_([this, &line, &failure] {
        if (createFolder_)
            failure = makeFolders(path_);
        if (!failure)
            failure = appendLine(path_, line);
    });
    if (!failure || warned_)
        return std::nullopt;
    warned_ = true;
    errors_ << "fleetwright: cannot write the update record " << path_ << ": " << *failure
            << std::endl;
    return messages::recordNotWritten(path_, *failure);
}

} // namespace fw::record
