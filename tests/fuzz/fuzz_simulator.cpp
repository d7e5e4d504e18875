// Drives the simulated base station through its ABI with whatever sequence of calls the
// input spells, on up to two providers at once, and checks what any host relies on:
// statuses from the documented set with a description, outputs left alone on failure,
// reads that never pass their capacity, the lock shared between providers, and values
// that read back as they were written.
//
// Input: three lines, the FLEETWRIGHT_SIM_FLEET, _FAULTS and _CHANNEL settings (an
// empty line leaves one unset), then the calls, one opcode byte each followed by the
// argument bytes that call takes.
#include "dataprovider_abi.h"
#include "fwsim.h"
#include "sim_config.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

using fwsim::kModelCode;
using fwsim::kParameterCodes;
using fwsim::kResetCode;
using fwsim::kSaveCode;
using fwsim::parameterIndex;
constexpr std::array<uint8_t, 7> kKnownCodes{51, 54, 55, 75, 76, 77, 78};
constexpr std::string_view kPadding("\0\xA5\xA5\xA5\xA5\xA5\xA5\xA5", 8);
constexpr unsigned char kUntouched = 0xCD;
constexpr int kMaxCalls = 200;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "simulator invariant broken: %s\n", what);
    std::abort();
}

void check(bool condition, const char *what) {
    if (!condition)
        fail(what);
}

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | byte();
        return value;
    }
    std::string line() {
        std::string text;
        while (!empty()) {
            const char c = static_cast<char>(byte());
            if (c == '\n')
                break;
            text += c;
        }
        return text;
    }
    std::string bytes(size_t count) {
        count = std::min(count, size_ - std::min(pos_, size_));
        std::string text(reinterpret_cast<const char *>(data_ + pos_), count);
        pos_ += count;
        return text;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// What the fuzzer knows of one provider from the answers it got so far.
struct Slot {
    zdp_provider *dp = nullptr;
    bool open = false;
    uint32_t paired = 0;
    std::optional<uint8_t> channel;
    std::array<std::optional<std::string>, kParameterCodes.size()> working;

    void forgetModule() {
        paired = 0;
        working = {};
    }
};

bool storable(std::string_view value) {
    return !value.empty() && value.size() <= 32 &&
           std::all_of(value.begin(), value.end(), [](char c) { return c > 0x20 && c <= 0x7E; });
}

void checkErrorText(const char *text) {
    check(text != nullptr && *text != '\0', "an error status without a description");
    // Descriptions of a bad argument open with the name of the call, as C identifiers go.
    check(std::isupper(static_cast<unsigned char>(text[0])) ||
              std::string_view(text).substr(0, 4) == "zdp_",
          "a description without a capital letter");
    check(text[std::strlen(text) - 1] != '.', "a description that ends with a dot");
}

// An error status must be one the call can give; 0 passes.
void checkStatus(int32_t status, const zdp_provider *dp, std::initializer_list<int32_t> allowed) {
    if (status == 0)
        return;
    check(std::find(allowed.begin(), allowed.end(), status) != allowed.end(),
          "an error status the call cannot give");
    checkErrorText(zdp_error_text(dp));
}

// A lock file of our own, so that a program or test running beside the fuzzer keeps its
// base station.
char lockDir[] = "/tmp/fw-fuzz-simulator-XXXXXX";
std::string lockFile;

void removeLockFile() {
    unlink(lockFile.c_str());
    unlink((lockFile + ".channel").c_str());
    rmdir(lockDir);
}

class Session {
public:
    // The faults as the simulator reads them; a setting it refuses leaves none, since no
    // provider is created under it.
    explicit Session(std::string_view faults) {
        try {
            faults_ = fwsim::parseFaults(faults);
        } catch (const fwsim::SettingError &) {
        }
    }
    ~Session() {
        for (Slot &slot : slots_)
            zdp_destroy(slot.dp);
    }

    void call(Input &in) {
        const uint8_t op = in.byte();
        Slot &slot = slots_[op >> 7];
        Slot &other = slots_[1 - (op >> 7)];
        switch (op % 10) {
        case 0:
            create(slot);
            break;
        case 1:
            zdp_destroy(slot.dp);
            slot = Slot{};
            break;
        case 2:
            if (slot.dp) {
                int32_t result = 0;
                checkStatus(zdp_probe_provider(slot.dp, &result), slot.dp, {FWSIM_ERR_INJECTED});
            }
            break;
        case 3:
            if (slot.dp)
                open(slot, other);
            break;
        case 4:
            if (slot.dp) {
                const int32_t status = zdp_close_connection(slot.dp);
                checkStatus(status, slot.dp, {FWSIM_ERR_INJECTED});
                if (status == 0) {
                    slot.open = false;
                    slot.forgetModule();
                }
            }
            break;
        case 5:
            if (slot.dp)
                getChannel(slot);
            break;
        case 6:
            if (slot.dp)
                setChannel(slot, in.byte());
            break;
        case 7:
            if (slot.dp)
                pair(slot, in);
            break;
        case 8:
            if (slot.dp)
                read(slot, in);
            break;
        case 9:
            if (slot.dp)
                write(slot, in);
            break;
        }
    }

private:
    void create(Slot &slot) {
        if (slot.dp)
            return;
        auto *const unset = reinterpret_cast<zdp_provider *>(&slot);
        zdp_provider *dp = unset;
        const int32_t status = zdp_create(&dp);
        checkStatus(status, nullptr, {FWSIM_ERR_BAD_SETTING, FWSIM_ERR_INJECTED});
        if (status != 0) {
            check(dp == unset, "a failed creation set its output");
            return;
        }
        check(dp != nullptr && dp != unset, "creation gave no provider");
        check(*zdp_error_text(dp) == '\0', "a new provider with an error description");
        slot.dp = dp;
        check(fwsim_is_open() == 0, "a new provider is open");
    }

    void open(Slot &slot, const Slot &other) {
        int16_t flag = -7;
        const int32_t status = zdp_open_connection(slot.dp, 0, 0, &flag);
        checkStatus(status, slot.dp, {FWSIM_ERR_INJECTED});
        if (status != 0)
            return;
        check(flag == 0 || flag == 1, "opening answered a strange failure flag");
        if (other.open && !slot.open)
            check(flag != 0, "two providers hold the base station at once");
        if (slot.open)
            check(flag == 0, "opening an open provider again failed");
        slot.open = flag == 0;
    }

    // The calls that need an open base station fail with -4, and only those, when closed.
    static void checkOpenRule(const Slot &slot, int32_t status) {
        if (!slot.open)
            check(status == FWSIM_ERR_NOT_OPEN, "a call on a closed base station went through");
        else
            check(status != FWSIM_ERR_NOT_OPEN, "an open base station reported as closed");
    }

    void getChannel(Slot &slot) {
        uint8_t channel = 0xEE;
        const int32_t status = zdp_get_base_channel(slot.dp, 1, &channel);
        checkStatus(status, slot.dp, {FWSIM_ERR_NOT_OPEN, FWSIM_ERR_INJECTED});
        checkOpenRule(slot, status);
        if (status != 0) {
            check(channel == 0xEE, "a failed channel read set its output");
            return;
        }
        check(channel >= 1 && channel <= 16, "the base station is on a channel outside 1 to 16");
        if (slot.channel)
            check(channel == *slot.channel, "the base channel changed by itself");
        slot.channel = channel;
    }

    void setChannel(Slot &slot, uint8_t channel) const {
        const int32_t status = zdp_set_base_channel(slot.dp, 1, channel);
        checkStatus(status, slot.dp, {FWSIM_ERR_NOT_OPEN, FWSIM_ERR_INJECTED});
        checkOpenRule(slot, status);
        if (status == 0 && channel >= 1 && channel <= 16 &&
            !faults_.has(fwsim::CallFault::RefuseChannel))
            slot.channel = channel;
    }

    void pair(Slot &slot, Input &in) {
        const uint8_t modeByte = in.byte();
        const int32_t mode = modeByte < 0xF0 ? modeByte % 2 : static_cast<int32_t>(in.word());
        const int32_t window = static_cast<int32_t>(in.byte() % 13) - 2;
        uint32_t id = 0xDEADBEEF;
        int32_t extra = -7;
        int32_t result = -7;
        const int32_t status = zdp_pair_module(slot.dp, 1, mode, window, &id, &extra, &result);
        checkStatus(status, slot.dp,
                    {FWSIM_ERR_BAD_ARGUMENT, FWSIM_ERR_NOT_OPEN, FWSIM_ERR_INJECTED});
        if (mode != 0 && mode != 1) {
            check(status == FWSIM_ERR_BAD_ARGUMENT, "pairing took a channel mode other than 0, 1");
            return;
        }
        checkOpenRule(slot, status);
        if (status != 0) {
            check(id == 0xDEADBEEF, "a failed pairing set the module ID");
            return;
        }
        slot.forgetModule();
        if (window <= 0)
            check(id == 0, "a module paired in an empty window");
        if (id == 0)
            return;
        slot.paired = id;
        check(extra >= 1 && extra <= 16, "a module paired on a channel outside 1 to 16");
        if (mode == 0 && slot.channel && !faults_.has(fwsim::CallFault::IgnoreChannel))
            check(extra == *slot.channel, "pairing in mode 0 left the module on its own channel");
    }

    uint32_t moduleId(const Slot &slot, Input &in) {
        switch (in.byte() % 4) {
        case 0:
            return 0;
        case 1:
            return in.word();
        default:
            return slot.paired;
        }
    }

    static uint8_t command(Input &in) {
        const uint8_t pick = in.byte();
        return pick < 0xE0 ? kKnownCodes[pick % kKnownCodes.size()] : in.byte();
    }

    void read(Slot &slot, Input &in) {
        const uint32_t id = moduleId(slot, in);
        const uint8_t code = command(in);
        const size_t high = in.byte();
        const size_t capacity = ZDP_MIN_READ_CAPACITY + (high << 5 | in.byte() % 32);
        // Exactly capacity bytes on the heap, so that one byte too many is an ASan report.
        const auto buffer = std::make_unique<char[]>(capacity);
        std::memset(buffer.get(), kUntouched, capacity);
        size_t length = 0xBAD;
        int16_t flag = -7;
        const int32_t status =
            zdp_read_module_command(slot.dp, 1, id, code, buffer.get(), capacity, &length, &flag);
        checkStatus(status, slot.dp, {FWSIM_ERR_NOT_OPEN, FWSIM_ERR_INJECTED});
        checkOpenRule(slot, status);
        if (status != 0)
            return;
        check(flag == 0 || flag == 1, "a read answered a strange failure flag");
        check(length <= capacity, "a read answered more bytes than the buffer holds");
        const std::string_view answer(buffer.get(), length);
        const std::string_view rest(buffer.get() + length, capacity - length);
        check(std::all_of(rest.begin(), rest.end(),
                          [](char c) { return static_cast<unsigned char>(c) == kUntouched; }),
              "a read wrote past the length it answered");
        if (flag != 0) {
            check(length == 0, "a failed read answered bytes");
            return;
        }
        check(id != 0 && id == slot.paired, "a module that is not paired answered");
        const std::optional<size_t> index = parameterIndex(code);
        check(code == kModelCode || index, "a read of an unknown command code answered");
        const size_t end = answer.find('\0');
        const std::string_view text = answer.substr(0, end);
        check(std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; }),
              "an answer with a character that is not printable");
        if (end != std::string_view::npos)
            check(kPadding.substr(0, answer.size() - end) == answer.substr(end),
                  "an answer without its padding");
        else
            check(length == capacity, "an answer cut short of the buffer");
        if (index && slot.working[*index] && end != std::string_view::npos)
            check(text == *slot.working[*index], "a value does not read back as written");
    }

    void write(Slot &slot, Input &in) {
        const uint32_t id = moduleId(slot, in);
        const uint8_t code = command(in);
        const uint8_t shape = in.byte();
        std::string payload = in.bytes(shape % 48);
        if (shape & 0x80)
            payload.append(2, '\0');
        int16_t flag = -7;
        const int32_t status =
            zdp_write_module_command(slot.dp, 1, id, code, payload.data(), payload.size(), &flag);
        checkStatus(status, slot.dp, {FWSIM_ERR_NOT_OPEN, FWSIM_ERR_INJECTED});
        checkOpenRule(slot, status);
        if (status != 0)
            return;
        check(flag == 0 || flag == 1, "a write answered a strange failure flag");
        if (flag != 0)
            return;
        check(id != 0 && id == slot.paired, "a module that is not paired took a write");
        check(payload.size() >= 2 &&
                  payload.compare(payload.size() - 2, 2, std::string(2, '\0')) == 0,
              "a write took a payload without two closing NULs");
        const std::string value = payload.substr(0, payload.size() - 2);
        check(value.find('\0') == std::string::npos, "a write took a value with a NUL inside");
        if (code == kSaveCode || code == kResetCode) {
            check(value.empty(), "save or reset took a value");
            if (code == kResetCode)
                slot.working = {};
        } else if (const std::optional<size_t> index = parameterIndex(code)) {
            check(storable(value), "a module stored a value it cannot keep");
            // A clamped code keeps a number of its own, by design of that fault.
            if (faults_.clamp.test(code))
                slot.working[*index].reset();
            else
                slot.working[*index] = value;
        } else {
            fail("a write of a command code that takes none went through");
        }
    }

    fwsim::Faults faults_;
    std::array<Slot, 2> slots_;
};

void setOrUnset(const char *name, const std::string &value) {
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (!mkdtemp(lockDir))
        fail("no directory for the lock file");
    lockFile = std::string(lockDir) + "/station.lock";
    std::atexit(removeLockFile);
    setenv("FLEETWRIGHT_SIM_LOCK", lockFile.c_str(), 1);
    setenv("FLEETWRIGHT_SIM_WAKE_MS", "0", 1);
    unsetenv("FLEETWRIGHT_SIM_STATE");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in(data, size);
    // The environment ends a value at its first NUL; so does what we expect of it.
    const auto setting = [&in] {
        std::string text = in.line();
        return text.substr(0, text.find('\0'));
    };
    const std::string fleet = setting();
    const std::string faults = setting();
    const std::string channel = setting();
    setOrUnset("FLEETWRIGHT_SIM_FLEET", fleet);
    setOrUnset("FLEETWRIGHT_SIM_FAULTS", faults);
    setOrUnset("FLEETWRIGHT_SIM_CHANNEL", channel);

    Session session(faults);
    for (int calls = 0; calls < kMaxCalls && !in.empty(); ++calls)
        session.call(in);
    return 0;
}
