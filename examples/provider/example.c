/*
 * example.c: a Fleetwright data-provider library in one file.
 *
 * It shows the shape of a real provider: one object per zdp_create, a base station that
 * must be opened before it is used, error statuses with a description, failure flags for
 * what the device refuses, pairing within a window, payloads that end with two NULs and
 * answers that are cut to the caller's capacity. Where a real library would talk to the
 * base station over USB, this one emulates a base station with a single module, so that
 * it runs anywhere:
 *
 *     make                  # builds libzarvik-dataprovider.so.1 with pkg-config's flags
 *     make check            # fleetwright-provider-check --module --write on it
 *     FLEETWRIGHT_PROVIDER=$PWD/libzarvik-dataprovider.so.1 fleetwright
 *
 * The contract is dataprovider_abi.h and fleetwright-provider(7). Every call here comes
 * from one thread of the program's provider host, so nothing needs a lock.
 */
#define _POSIX_C_SOURCE 200809L /* nanosleep, clock_gettime */

#include <dataprovider_abi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* This library's error statuses; zdp_error_text says more. Any non-zero value would do. */
#define EXAMPLE_ERR_BAD_ARGUMENT (-1) /* a NULL where an output is needed */
#define EXAMPLE_ERR_NOT_OPEN (-2)     /* the call needs an open base station */
#define EXAMPLE_ERR_NO_MEMORY (-3)

/* A failure flag: the device did not do what was asked. */
#define REFUSED 1

/* The emulated module wakes this long after the operator is asked to power-cycle it. A
 * real library waits for the module's wake-up message on the radio instead. */
#define WAKE_MS 1500

/* The parameters a module keeps, by command code; values are text of 1 to 32 bytes. */
#define PARAMETERS 4
#define VALUE_MAX 32
static const uint8_t parameter_codes[PARAMETERS] = {ZDP_CMD_TX_INTERVAL, ZDP_CMD_SAMPLE_TIME,
                                                    ZDP_CMD_SLEEP_DELAY, ZDP_CMD_LOW_POWER_MODE};

struct module {
    uint32_t id;
    const char *model;
    uint8_t channel;
    char working[PARAMETERS][VALUE_MAX + 1]; /* what reads answer and writes change */
    char saved[PARAMETERS][VALUE_MAX + 1];   /* what survives a power cycle (55 saves) */
};

struct zdp_provider {
    int open;
    uint8_t base_channel;
    uint32_t paired; /* 0: no module paired */
    struct module module;
    char error[256]; /* the description of the last error status; "" before any */
};

/* zdp_error_text(NULL): why the last zdp_create failed. */
static char create_error[256];

/* Records the description of an error status on dp and returns the status. A call given
 * no provider has nowhere to keep one: zdp_error_text(NULL) describes zdp_create only. */
static int32_t fail(zdp_provider *dp, int32_t status, const char *format, ...) {
    if (!dp)
        return status;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(dp->error, sizeof dp->error, format, arguments);
    va_end(arguments);
    return status;
}

static int32_t fail_create(int32_t status, const char *text) {
    snprintf(create_error, sizeof create_error, "%s", text);
    return status;
}

/* Every call but creation and probing needs the base station open. */
static int32_t require_open(zdp_provider *dp, const char *call) {
    if (!dp->open)
        return fail(dp, EXAMPLE_ERR_NOT_OPEN, "%s: the base station is not open", call);
    return 0;
}

static int parameter_index(uint8_t command) {
    for (int i = 0; i < PARAMETERS; ++i)
        if (parameter_codes[i] == command)
            return i;
    return -1;
}

static void sleep_ms(long ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

ZDP_EXPORT uint32_t zdp_abi_version(void) {
    return ZDP_ABI_VERSION;
}

ZDP_EXPORT int32_t zdp_create(zdp_provider **out) {
    if (!out)
        return fail_create(EXAMPLE_ERR_BAD_ARGUMENT, "zdp_create: no place for the provider");
    zdp_provider *dp = calloc(1, sizeof *dp);
    if (!dp)
        return fail_create(EXAMPLE_ERR_NO_MEMORY, "zdp_create: out of memory");
    /* A real library finds its USB device here, without opening it yet. */
    dp->base_channel = ZDP_CHANNEL_MIN;
    dp->module.id = 0x1A2B3C;
    dp->module.model = "RX-LC";
    dp->module.channel = 3;
    const char *defaults[PARAMETERS] = {"1000", "10", "60", "0"};
    for (int i = 0; i < PARAMETERS; ++i) {
        strcpy(dp->module.working[i], defaults[i]);
        strcpy(dp->module.saved[i], defaults[i]);
    }
    *out = dp;
    return 0;
}

ZDP_EXPORT void zdp_destroy(zdp_provider *dp) {
    if (!dp)
        return;
    dp->open = 0; /* a real library closes its USB device here */
    free(dp);
}

ZDP_EXPORT const char *zdp_error_text(const zdp_provider *dp) {
    return dp ? dp->error : create_error;
}

ZDP_EXPORT int32_t zdp_probe_provider(zdp_provider *dp, int32_t *result) {
    if (!dp || !result)
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT, "zdp_probe_provider: NULL argument");
    /* This library emulates its base station, and says so; one that drives real hardware
     * sets 0. */
    *result = (int32_t)ZDP_PROBE_SIMULATED;
    return 0;
}

ZDP_EXPORT int32_t zdp_open_connection(zdp_provider *dp, int32_t arg1, int32_t arg2,
                                       int16_t *failure_flag) {
    (void)arg1, (void)arg2; /* the program passes 0, 0 */
    if (!dp || !failure_flag)
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT, "zdp_open_connection: NULL argument");
    /* No base station plugged in, or another program holding it, is a failure flag, not
     * an error status: the program then tells the operator "Cannot open USB interface". */
    dp->open = 1;
    *failure_flag = 0;
    return 0;
}

ZDP_EXPORT int32_t zdp_close_connection(zdp_provider *dp) {
    if (!dp)
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT, "zdp_close_connection: NULL provider");
    dp->open = 0; /* closing a closed base station is harmless */
    dp->paired = 0;
    return 0;
}

ZDP_EXPORT int32_t zdp_get_base_channel(zdp_provider *dp, int32_t arg1, uint8_t *channel) {
    (void)arg1;
    if (!dp || !channel)
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT, "zdp_get_base_channel: NULL argument");
    int32_t status = require_open(dp, "zdp_get_base_channel");
    if (status != 0)
        return status;
    *channel = dp->base_channel; /* always 1 to 16 */
    return 0;
}

ZDP_EXPORT int32_t zdp_set_base_channel(zdp_provider *dp, int32_t arg1, uint8_t channel) {
    (void)arg1;
    if (!dp)
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT, "zdp_set_base_channel: NULL provider");
    int32_t status = require_open(dp, "zdp_set_base_channel");
    if (status != 0)
        return status;
    /* A channel the station cannot take is ignored: the program reads the channel back. */
    if (channel >= ZDP_CHANNEL_MIN && channel <= ZDP_CHANNEL_MAX)
        dp->base_channel = channel;
    return 0;
}

ZDP_EXPORT int32_t zdp_pair_module(zdp_provider *dp, int32_t arg1, int32_t channel_mode,
                                   int32_t window_s, uint32_t *module_id, int32_t *extra,
                                   int32_t *result) {
    (void)arg1;
    if (!dp || !module_id || !extra || !result)
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT, "zdp_pair_module: NULL argument");
    if (channel_mode != 0 && channel_mode != 1)
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT,
                    "zdp_pair_module: channel mode %d is neither 0 nor 1", (int)channel_mode);
    int32_t status = require_open(dp, "zdp_pair_module");
    if (status != 0)
        return status;
    /* *module_id holds the previous pairing's ID (or anything else): it is not a module to
     * wait for. Whichever module wakes within the window is the one to pair. */
    dp->paired = 0;
    *module_id = 0;
    *extra = 0;
    *result = 0;
    long window_ms = window_s > 0 ? (long)window_s * 1000 : 0;
    if (window_ms <= WAKE_MS) {
        sleep_ms(window_ms); /* nobody woke in time */
        return 0;
    }
    sleep_ms(WAKE_MS); /* a real library returns as soon as the module's message comes */
    struct module *module = &dp->module;
    memcpy(module->working, module->saved, sizeof module->working); /* a power cycle */
    if (channel_mode == 0)
        module->channel = dp->base_channel;
    dp->paired = module->id;
    *module_id = module->id;
    *extra = module->channel;
    *result = 1;
    return 0;
}

ZDP_EXPORT int32_t zdp_write_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                            uint8_t command, const char *payload,
                                            size_t payload_len, int16_t *failure_flag) {
    (void)arg1;
    if (!dp || !failure_flag || (!payload && payload_len > 0))
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT, "zdp_write_module_command: NULL argument");
    int32_t status = require_open(dp, "zdp_write_module_command");
    if (status != 0)
        return status;
    *failure_flag = REFUSED;
    if (module_id == 0 || module_id != dp->paired)
        return 0;
    /* The payload is the value, then two NULs that payload_len counts. */
    if (payload_len < ZDP_PAYLOAD_NULS || payload[payload_len - 1] != '\0' ||
        payload[payload_len - 2] != '\0')
        return 0;
    size_t value_len = payload_len - ZDP_PAYLOAD_NULS;
    if (memchr(payload, '\0', value_len))
        return 0;
    struct module *module = &dp->module;
    if (command == ZDP_CMD_SAVE || command == ZDP_CMD_RESET) {
        if (value_len != 0)
            return 0;
        if (command == ZDP_CMD_SAVE)
            memcpy(module->saved, module->working, sizeof module->saved);
        else
            memcpy(module->working, module->saved, sizeof module->working);
    } else {
        int index = parameter_index(command);
        if (index < 0 || value_len == 0 || value_len > VALUE_MAX)
            return 0;
        memcpy(module->working[index], payload, value_len);
        module->working[index][value_len] = '\0';
    }
    *failure_flag = 0;
    return 0;
}

ZDP_EXPORT int32_t zdp_read_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                           uint8_t command, char *value, size_t capacity,
                                           size_t *value_len, int16_t *failure_flag) {
    (void)arg1;
    if (!dp || !value_len || !failure_flag || (!value && capacity > 0))
        return fail(dp, EXAMPLE_ERR_BAD_ARGUMENT, "zdp_read_module_command: NULL argument");
    int32_t status = require_open(dp, "zdp_read_module_command");
    if (status != 0)
        return status;
    *value_len = 0;
    *failure_flag = REFUSED;
    if (module_id == 0 || module_id != dp->paired)
        return 0;
    const char *answer = NULL;
    int index = parameter_index(command);
    if (command == ZDP_CMD_MODEL)
        answer = dp->module.model;
    else if (index >= 0)
        answer = dp->module.working[index];
    else
        return 0;
    /* The answer is text; its NUL goes along when there is room, and nothing ever goes
     * past capacity. */
    size_t length = strlen(answer) + 1;
    if (length > capacity)
        length = capacity;
    if (length > 0)
        memcpy(value, answer, length);
    *value_len = length;
    *failure_flag = 0;
    return 0;
}
