#include "update_record.h"

#include "messages.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <iterator>
#include <pwd.h>
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

std::string folderOf(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new file's name lives in its folder: without this the first line could vanish with it.
void syncFolder(const std::string &path) {
    const Descriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
}

bool writeAll(int fd, std::string_view bytes, std::string &reason) {
    ssize_t written;
    do
        written = ::write(fd, bytes.data(), bytes.size());
    while (written < 0 && errno == EINTR);
    if (written < 0) {
        reason = systemReason(errno);
        return false;
    }
    if (static_cast<size_t>(written) != bytes.size()) {
        reason = "Only part of the line could be written";
        return false;
    }
    return true;
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
    return tab == UpdateTab::Acquisition ? "acquisition" : "general";
}

std::string channelText(const UpdateReport &report) {
    if (report.channelKept)
        return "kept";
    return report.channel > 0 ? std::to_string(report.channel) : std::string();
}

} // namespace

std::string csvField(std::string_view text) {
    std::string field;
    field.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            field += " / ";
        } else {
            field += c;
        }
    }
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
    const std::string fields[] = {
        std::string(time),
        report.moduleId,
        report.model,
        tabName(report.tab),
        channelText(report),
        report.written.txInterval,
        report.written.sampleTime,
        report.written.sleepDelay,
        report.written.lowPowerMode,
        report.complete ? "complete" : "failed",
        report.message.text,
    };
    std::string line = csvField(fields[0]);
    for (size_t i = 1; i < std::size(fields); ++i)
        line.append(",").append(csvField(fields[i]));
    return line + '\n';
}

std::optional<std::string> appendLine(const std::string &path, std::string_view line) {
    // Non-blocking so that opening a pipe or a device in the record's place never waits.
    const Descriptor file(
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    if (file.get() < 0)
        return systemReason(errno);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return systemReason(errno);
    if (!S_ISREG(status.st_mode))
        return std::string("Not a regular file");

    // Another program appending to the same record waits here, so that the size and the
    // last byte read below are still true when this line goes in.
    if (!lockWithin(file.get(), kLockPatience))
        return std::string("Another program keeps the record locked");
    if (::fstat(file.get(), &status) != 0)
        return systemReason(errno);
    std::string bytes;
    if (status.st_size == 0) {
        bytes = kHeader;
    } else {
        char last = '\n';
        if (::pread(file.get(), &last, 1, status.st_size - 1) == 1 && last != '\n')
            bytes = "\n"; // a line cut short by an earlier crash stays as it is
    }
    bytes += line;

    std::string reason;
    if (!writeAll(file.get(), bytes, reason))
        return reason;
    ::flock(file.get(), LOCK_UN); // the line is whole; the other program may go on meanwhile
    if (::fsync(file.get()) != 0)
        return systemReason(errno);
    if (status.st_size == 0)
        syncFolder(path);
    return std::nullopt;
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

std::string defaultRecordPath(const char *stateHome, const std::string &home) {
    const std::string base =
        stateHome && stateHome[0] == '/' ? std::string(stateHome) : home + "/.local/state";
    return base + "/fleetwright/updates.csv";
}

std::string defaultRecordPath() {
    const char *home = std::getenv("HOME");
    std::string homeFolder = home ? home : "";
    if (homeFolder.empty())
        if (const passwd *account = ::getpwuid(::getuid()); account && account->pw_dir)
            homeFolder = account->pw_dir;
    return defaultRecordPath(std::getenv("XDG_STATE_HOME"), homeFolder);
}

UpdateRecord::UpdateRecord(std::string path, bool createFolder, std::ostream &errors, Clock clock)
    : path_(std::move(path)), createFolder_(createFolder), errors_(errors),
      clock_(std::move(clock)) {}

UpdateRecord::UpdateRecord(std::string path, bool createFolder)
    : UpdateRecord(std::move(path), createFolder, std::cerr, [] { return std::time(nullptr); }) {}

std::optional<Message> UpdateRecord::updateEnding(const UpdateReport &report) {
    std::optional<std::string> failure;
    if (createFolder_)
        failure = makeFolders(path_);
    if (!failure)
        failure = appendLine(path_, recordLine(report, isoLocalTime(clock_())));
    if (!failure || warned_)
        return std::nullopt;
    warned_ = true;
    errors_ << "fleetwright: cannot write the update record " << path_ << ": " << *failure
            << std::endl;
    return messages::recordNotWritten(path_, *failure);
}

} // namespace fw::record
