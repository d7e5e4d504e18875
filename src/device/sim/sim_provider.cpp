#include "dataprovider_abi.h"
#include "fwsim.h"
#include "sim_config.h"
#include "sim_world.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace fwsim;

struct zdp_provider {
    std::shared_ptr<World> world;
    std::chrono::milliseconds wakeDelay{0};
    std::string lockPath;
    int lockFd = -1;
    std::string errorText;
};

namespace {

// The value a module with the clamp fault keeps: the ceiling in place of a larger number.
std::string clamped(std::string_view value) {
    double number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    const bool larger = error == std::errc() && end != value.data() && number > kClampCeiling;
    return std::string(larger ? kClampCeilingText : value);
}

constexpr int16_t kFailed = 1;
// What a module sends after the NUL that ends its answer.
constexpr char kPadding[] = "\0\xA5\xA5\xA5\xA5\xA5\xA5\xA5";
constexpr size_t kPaddingLength = sizeof kPadding - 1;

std::mutex createErrorMutex;
std::string createError;

// Carries an error status out of a call; guarded() turns it into the return value.
struct Failure {
    int32_t status;
    std::string text;
};

[[noreturn]] void fail(int32_t status, std::string text) {
    throw Failure{status, std::move(text)};
}

void setCreateError(std::string text) {
    const std::lock_guard lock(createErrorMutex);
    createError = std::move(text);
}

int32_t record(zdp_provider *dp, int32_t status, std::string text) {
    try {
        if (dp)
            dp->errorText = std::move(text);
        else
            setCreateError(std::move(text));
    } catch (...) {
        // Out of memory while describing the failure: the status still says it.
    }
    return status;
}

// Runs one ABI call; no exception may cross the C boundary.
template <typename Body> int32_t guarded(zdp_provider *dp, Body &&body) {
    try {
        body();
        return 0;
    } catch (const Failure &failure) {
        return record(dp, failure.status, failure.text);
    } catch (const std::bad_alloc &) {
        return record(dp, FWSIM_ERR_INTERNAL, "The simulator ran out of memory");
    } catch (const std::exception &error) {
        return record(dp, FWSIM_ERR_INTERNAL, std::string("Unexpected failure: ") + error.what());
    } catch (...) {
        return record(dp, FWSIM_ERR_INTERNAL, "Unexpected failure");
    }
}

void require(bool condition, const char *what) {
    if (!condition)
        fail(FWSIM_ERR_BAD_ARGUMENT, what);
}

// Counts and logs a call (argument -1: none) and gives the faults in force for it.
Faults begin(zdp_provider *dp, Call call, int argument = -1) {
    const std::lock_guard lock(dp->world->mutex);
    dp->world->record(call, argument);
    return dp->world->faults;
}

void injected(const Faults &faults, CallFault fault, const char *function) {
    if (faults.has(fault))
        fail(FWSIM_ERR_INJECTED, std::string("Injected fault: ") + function + " fails");
}

void requireOpen(const World &world) {
    if (!world.open)
        fail(FWSIM_ERR_NOT_OPEN, "The base station is not open");
}

void releaseLock(zdp_provider *dp) {
    if (dp->lockFd >= 0) {
        ::close(dp->lockFd); // closing the descriptor drops the flock
        dp->lockFd = -1;
    }
}

[[noreturn]] void failLock(const std::string &path, const std::string &reason) {
    fail(FWSIM_ERR_SYSTEM, "Cannot use the lock file " + escaped(path) + ": " + reason);
}

// Opens the lock file, creating it when it is missing; a named pipe must not stall the
// open, and a link to nothing is not followed to create a file wherever it points.
int openLockFile(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0)
            failLock(path, "it is a symbolic link to nothing");
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    }
    if (fd < 0)
        failLock(path, std::strerror(errno));
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        failLock(path, "it is not a regular file");
    }
    return fd;
}

// Takes the base station for this provider; false when another holder has it.
bool takeLock(zdp_provider *dp) {
    const int fd = openLockFile(dp->lockPath);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return false;
        failLock(dp->lockPath, std::strerror(error));
    }
    dp->lockFd = fd;
    return true;
}

void closeConnection(zdp_provider *dp) {
    const std::lock_guard lock(dp->world->mutex);
    releaseLock(dp);
    if (dp->world->open) {
        dp->world->open = false;
        dp->world->paired = 0;
        dp->world->writeState();
    }
}

} // namespace

extern "C" {

ZDP_EXPORT uint32_t zdp_abi_version(void) {
    return ZDP_ABI_VERSION;
}

ZDP_EXPORT int32_t zdp_create(zdp_provider **out) {
    return guarded(nullptr, [&] {
        require(out != nullptr, "zdp_create needs somewhere to put the provider");
        Config config;
        try {
            config = configFromEnvironment();
        } catch (const SettingError &error) {
            fail(FWSIM_ERR_BAD_SETTING, error.what());
        }
        if (config.faults.has(CallFault::Create))
            fail(FWSIM_ERR_INJECTED, "Injected fault: zdp_create fails");
        auto dp = std::make_unique<zdp_provider>();
        dp->world = std::make_shared<World>(config);
        dp->wakeDelay = config.wakeDelay;
        dp->lockPath = config.lockPath;
        // Checked here so that an unusable lock file is named at creation rather than
        // passing for a busy base station when the program opens it.
        ::close(openLockFile(dp->lockPath));
        if (std::string why; !dp->world->writeState(&why))
            fail(FWSIM_ERR_SYSTEM,
                 "Cannot write the state file " + escaped(config.statePath) + ": " + why);
        setCurrentWorld(dp->world);
        *out = dp.release();
    });
}

ZDP_EXPORT void zdp_destroy(zdp_provider *dp) {
    if (!dp)
        return;
    try {
        closeConnection(dp);
    } catch (...) {
        // Destroying must not fail; the descriptor is closed by now.
    }
    delete dp;
}

ZDP_EXPORT const char *zdp_error_text(const zdp_provider *dp) {
    if (dp)
        return dp->errorText.c_str();
    const std::lock_guard lock(createErrorMutex);
    return createError.c_str();
}

ZDP_EXPORT int32_t zdp_probe_provider(zdp_provider *dp, int32_t *result) {
    if (!dp)
        return FWSIM_ERR_BAD_ARGUMENT;
    return guarded(dp, [&] {
        const Faults faults = begin(dp, Call::Probe);
        injected(faults, CallFault::ProbeStatus, "zdp_probe_provider");
        if (result)
            *result = static_cast<int32_t>(ZDP_PROBE_SIMULATED);
    });
}

ZDP_EXPORT int32_t zdp_open_connection(zdp_provider *dp, int32_t, int32_t, int16_t *failure_flag) {
    if (!dp)
        return FWSIM_ERR_BAD_ARGUMENT;
    return guarded(dp, [&] {
        const Faults faults = begin(dp, Call::Open);
        require(failure_flag != nullptr, "zdp_open_connection needs a failure flag");
        injected(faults, CallFault::OpenStatus, "zdp_open_connection");
        if (faults.has(CallFault::OpenFlag)) {
            *failure_flag = kFailed;
            return;
        }
        const std::lock_guard lock(dp->world->mutex);
        if (dp->lockFd < 0 && !takeLock(dp)) {
            *failure_flag = kFailed;
            return;
        }
        dp->world->open = true;
        dp->world->writeState();
        *failure_flag = 0;
    });
}

ZDP_EXPORT int32_t zdp_close_connection(zdp_provider *dp) {
    if (!dp)
        return FWSIM_ERR_BAD_ARGUMENT;
    return guarded(dp, [&] {
        const Faults faults = begin(dp, Call::Close);
        injected(faults, CallFault::CloseStatus, "zdp_close_connection");
        closeConnection(dp);
    });
}

ZDP_EXPORT int32_t zdp_get_base_channel(zdp_provider *dp, int32_t, uint8_t *channel) {
    if (!dp)
        return FWSIM_ERR_BAD_ARGUMENT;
    return guarded(dp, [&] {
        const Faults faults = begin(dp, Call::GetChannel);
        require(channel != nullptr, "zdp_get_base_channel needs somewhere to put the channel");
        const std::lock_guard lock(dp->world->mutex);
        requireOpen(*dp->world);
        injected(faults, CallFault::GetChannelStatus, "zdp_get_base_channel");
        *channel = dp->world->baseChannel;
    });
}

ZDP_EXPORT int32_t zdp_set_base_channel(zdp_provider *dp, int32_t, uint8_t channel) {
    if (!dp)
        return FWSIM_ERR_BAD_ARGUMENT;
    return guarded(dp, [&] {
        const Faults faults = begin(dp, Call::SetChannel, channel);
        const std::lock_guard lock(dp->world->mutex);
        requireOpen(*dp->world);
        injected(faults, CallFault::SetChannelStatus, "zdp_set_base_channel");
        // Like the hardware, a channel it cannot take is ignored without a word; the
        // host sees it when it reads the channel back.
        if (faults.has(CallFault::RefuseChannel) || channel < kMinChannel || channel > kMaxChannel)
            return;
        dp->world->baseChannel = channel;
        dp->world->keepChannel();
        dp->world->writeState();
    });
}

ZDP_EXPORT int32_t zdp_pair_module(zdp_provider *dp, int32_t, int32_t channel_mode,
                                   int32_t window_s, uint32_t *module_id, int32_t *extra,
                                   int32_t *result) {
    if (!dp)
        return FWSIM_ERR_BAD_ARGUMENT;
    return guarded(dp, [&] {
        const Faults faults = begin(dp, Call::Pair, channel_mode);
        require(module_id != nullptr, "zdp_pair_module needs a module ID");
        require(channel_mode == 0 || channel_mode == 1,
                "zdp_pair_module takes channel mode 0 or 1");
        {
            const std::lock_guard lock(dp->world->mutex);
            requireOpen(*dp->world);
        }
        injected(faults, CallFault::PairStatus, "zdp_pair_module");

        // The operator power-cycles the module now; one that takes longer than the window
        // to wake is missed, as the operator who is too late or leaves the modules alone.
        const auto window = std::chrono::milliseconds(int64_t{std::max(window_s, 0)} * 1000);
        const bool wakesInTime = dp->wakeDelay < window;
        std::this_thread::sleep_for(wakesInTime ? dp->wakeDelay : window);

        World &world = *dp->world;
        const std::lock_guard lock(world.mutex);
        if (!wakesInTime || world.modules.empty() || faults.has(CallFault::NoPair)) {
            world.paired = 0;
            *module_id = 0;
            if (extra)
                *extra = 0;
            if (result)
                *result = 0;
            world.writeState();
            return;
        }
        Module &module = world.modules[world.nextToWake];
        world.nextToWake = (world.nextToWake + 1) % world.modules.size();
        module.working = module.saved; // a power cycle drops what was not saved
        // A library that cannot move modules pairs all the same and says where the module is.
        if (channel_mode == 0 && !faults.has(CallFault::IgnoreChannel))
            module.channel = world.baseChannel;
        world.paired = module.id;
        *module_id = module.id;
        if (extra)
            *extra = module.channel;
        if (result)
            *result = 1;
        world.writeState();
    });
}

ZDP_EXPORT int32_t zdp_write_module_command(zdp_provider *dp, uint8_t, uint32_t module_id,
                                            uint8_t command, const char *payload,
                                            size_t payload_len, int16_t *failure_flag) {
    if (!dp)
        return FWSIM_ERR_BAD_ARGUMENT;
    return guarded(dp, [&] {
        const Faults faults = begin(dp, Call::Write, command);
        require(failure_flag != nullptr, "zdp_write_module_command needs a failure flag");
        require(payload != nullptr || payload_len == 0,
                "zdp_write_module_command got no payload bytes");
        World &world = *dp->world;
        const std::lock_guard lock(world.mutex);
        requireOpen(world);
        if (faults.writeStatus.test(command))
            fail(FWSIM_ERR_INJECTED, "Injected fault: zdp_write_module_command fails for "
                                     "command code " +
                                         std::to_string(command));
        *failure_flag = kFailed;
        if (faults.writeFlag.test(command) || module_id == 0 || module_id != world.paired)
            return;
        Module *module = world.find(module_id);
        if (!module)
            return;
        const std::optional<std::string_view> carried =
            fw::valueOfPayload(std::string_view(payload, payload_len));
        if (!carried)
            return;
        const std::string_view value = *carried;
        if (command == kSaveCode || command == kResetCode) {
            if (!value.empty())
                return;
            if (command == kSaveCode)
                module->saved = module->working;
            else
                module->working = module->saved;
        } else if (const std::optional<size_t> index = parameterIndex(command)) {
            if (!isStorableValue(value))
                return;
            module->working[*index] =
                faults.clamp.test(command) ? clamped(value) : std::string(value);
        } else {
            return;
        }
        world.writeState();
        *failure_flag = 0;
    });
}

ZDP_EXPORT int32_t zdp_read_module_command(zdp_provider *dp, uint8_t, uint32_t module_id,
                                           uint8_t command, char *value, size_t capacity,
                                           size_t *value_len, int16_t *failure_flag) {
    if (!dp)
        return FWSIM_ERR_BAD_ARGUMENT;
    return guarded(dp, [&] {
        const Faults faults = begin(dp, Call::Read, command);
        require(failure_flag != nullptr && value_len != nullptr,
                "zdp_read_module_command needs a failure flag and a length");
        require(value != nullptr || capacity == 0,
                "zdp_read_module_command got no buffer for the answer");
        World &world = *dp->world;
        const std::lock_guard lock(world.mutex);
        requireOpen(world);
        if (faults.readStatus.test(command))
            fail(FWSIM_ERR_INJECTED, "Injected fault: zdp_read_module_command fails for "
                                     "command code " +
                                         std::to_string(command));
        *value_len = 0;
        *failure_flag = kFailed;
        if (faults.readFlag.test(command) || module_id == 0 || module_id != world.paired)
            return;
        const Module *module = world.find(module_id);
        if (!module)
            return;
        std::string answer;
        if (command == kModelCode)
            answer = module->model;
        else if (const std::optional<size_t> index = parameterIndex(command))
            answer = module->working[*index];
        else
            return;
        answer.append(kPadding, kPaddingLength);
        const size_t copied = std::min(capacity, answer.size());
        if (copied > 0)
            // NOLINTNEXTLINE(bugprone-not-null-terminated-result): bytes, not text
            std::memcpy(value, answer.data(), copied);
        *value_len = copied;
        *failure_flag = 0;
    });
}

} // extern "C"
