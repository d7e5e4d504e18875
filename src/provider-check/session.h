#pragma once

#include "dataprovider_abi.h"
#include "host_connection.h"
#include "provider_text.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fw::check {

// What one check concluded. Diagnostics become the YAML block under a failure.
struct Outcome {
    enum class State { Passed, Failed, Skipped };
    struct Diagnostic {
        std::string key;
        std::string value;
    };

    State state = State::Passed;
    std::string skipReason;
    std::vector<Diagnostic> diagnostics;
    // Lines for the maker under the check's line, "# " before each: what passed only as
    // the contract allows.
    std::vector<std::string> notes;

    static Outcome pass() { return {}; }
    static Outcome fail(std::string message, std::string expected, std::string got);
    static Outcome skip(std::string reason);
};

// Findings that no single check owns: every call's error text and duration, judged at the
// end over all the calls the checks made.
struct Observations {
    std::vector<std::string> textFaults;
    std::vector<std::string> slowCalls;
    // The error statuses seen, so that a text check with none to judge says so.
    std::vector<std::string> errorStatuses;

    void merge(const Observations &other);
};

// Calls into the library in one host process, the way a careful host does: the version
// first (the host asks for it before anything else), every call timed and held to its
// deadline, the error text looked at after every status. A call that the host never
// finishes throws host::HostStopped; the host is gone by then.
class Session {
public:
    explicit Session(host::HostConnection &host);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    std::optional<uint32_t> reportedVersion() const { return host_.hello().version; }
    Observations &observations() { return observations_; }
    // The library's provider, as a token that only the host looks behind.
    zdp_provider *provider() const { return dp_; }

    // Closes the base station and destroys the provider, when there are any. Throws
    // host::HostStopped like any call; the destructor swallows that.
    void finish();

    // Creates the provider (and opens the base station); the failure that stops a check.
    std::optional<Outcome> start(bool open);

    int32_t create(zdp_provider *&dp);
    void destroy(zdp_provider *dp);
    int32_t probe();
    int32_t open(int16_t &flag);
    int32_t close();
    int32_t getChannel(uint8_t &channel);
    int32_t setChannel(uint8_t channel);
    // extra, when given, gets the module's channel as the library reports it.
    int32_t pair(int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId,
                 int32_t *extra = nullptr);
    int32_t write(uint32_t moduleId, uint8_t command, const std::string &value, int16_t &flag);

    struct Read {
        int32_t status = 0;
        int16_t flag = 0;
        size_t length = 0;
        bool overrun = false; // a guard byte before or after the buffer changed
        std::string text;     // the answer up to its first NUL, cut to the capacity
        std::string bytes;    // the answer within its length and the capacity, NULs included
    };
    // What every byte of a read's buffer holds before the library answers: no answer the
    // program takes has it, so a length that counts bytes never written shows in the text.
    static constexpr uint8_t kUnwrittenByte = 0x96;

    // Reads into a buffer of capacity bytes between guard regions.
    Read read(uint32_t moduleId, uint8_t command, size_t capacity = ZDP_MIN_READ_CAPACITY);

    // "status -3: <the library's description>", for diagnostics.
    std::string describe(int32_t status) const;

    // Kept between the checks of the module group.
    uint32_t pairedModule = 0; // the last module paired, never 0 once one paired
    uint32_t lastPairing = 0;  // what the last pairing answered, as the program keeps it
    std::map<int, std::string> moduleValues;
    // The host and the library of the run, for checks that drive the library through the
    // program's own provider, in a host of its own.
    std::string hostExecutable;
    std::string library;

private:
    template <typename Call> int32_t timed(const char *name, const zdp_provider *dp, Call &&call);
    void noteText(const char *after, int32_t status, const zdp_provider *dp);
    bool has(host::Call call) const { return host_.hello().has(call); }
    template <host::Call C> host::CallArgs<C> called(host::CallArgs<C> args) {
        host_.call(args);
        return args;
    }

    host::HostConnection &host_;
    zdp_provider *dp_ = nullptr;
    bool open_ = false;
    bool hadError_ = false;
    Observations observations_;
};

using fw::isValidUtf8;

} // namespace fw::check
