#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace fw::testing {

// Local time in the POSIX zone given (west of Greenwich counts positive: "CET-1") while it
// lives; the zone the test program had before comes back after.
class TimeZone {
public:
    explicit TimeZone(const char *zone) {
        const char *before = std::getenv("TZ");
        hadOne_ = before != nullptr;
        before_ = hadOne_ ? before : "";
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        hadOne_ ? setenv("TZ", before_.c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    TimeZone(const TimeZone &) = delete;
    TimeZone &operator=(const TimeZone &) = delete;

private:
    bool hadOne_;
    std::string before_;
};

} // namespace fw::testing
