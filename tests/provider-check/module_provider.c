/* A data-provider library with two modules in reach and one fault, chosen by a compile
 * definition, that only a live-module check can see; the provider checker must find
 * exactly that fault with --module --write:
 *   FW_REFUSES_SAVE_RESET    the module refuses 55 (save) and 54 (reset)
 *   FW_WAITS_FOR_INCOMING_ID pairing takes a non-zero incoming ID as the module to wait for
 *   FW_OVERRUNS_ANSWER       a real answer is written 44 bytes past the caller's capacity
 *   FW_PADS_MODEL            the model comes padded with blanks, "RX-LC   "
 *   FW_COUNTS_UNWRITTEN_NUL  the model is copied without its NUL, which *value_len counts
 *   FW_CLAIMS_MOVE           channel mode 0 reports the module on the base channel but
 *                            leaves it on its own
 *   FW_REFUSES_FRACTIONS     the module refuses a value with a decimal point (failure flag 1),
 *                            which the contract allows
 * The modules wake in turn, at once in any window longer than 1 s (so a 1 s window stays
 * empty), and each keeps the parameters written to it; otherwise the library keeps the
 * contract. */
#include "dataprovider_abi.h"

#include <string.h>

#define NOT_OPEN (-2)

static const uint32_t fleet[2] = {0x1A2B3C, 0x12AB};
static uint8_t channel_of[2] = {3, 5};
static int provider;
static int open_station;
static unsigned next_to_wake;
static uint32_t paired;
static const char *error_text = "";

/* Each module's parameters by command code, as text. */
#define PARAMETERS 4
static const uint8_t parameter_codes[PARAMETERS] = {ZDP_CMD_TX_INTERVAL, ZDP_CMD_SAMPLE_TIME,
                                                    ZDP_CMD_SLEEP_DELAY, ZDP_CMD_LOW_POWER_MODE};
static char values[2][PARAMETERS][33] = {{"1000", "10", "60", "0"}, {"1000", "10", "60", "0"}};

static char *value_of(uint32_t module_id, uint8_t command) {
    for (unsigned m = 0; m < 2; ++m)
        for (unsigned p = 0; p < PARAMETERS; ++p)
            if (fleet[m] == module_id && parameter_codes[p] == command)
                return values[m][p];
    return NULL;
}

static int32_t refuse_closed(void) {
    error_text = "The base station is not open";
    return NOT_OPEN;
}

ZDP_EXPORT uint32_t zdp_abi_version(void) {
    return ZDP_ABI_VERSION;
}

ZDP_EXPORT int32_t zdp_create(zdp_provider **out) {
    *out = (zdp_provider *)&provider;
    return 0;
}

ZDP_EXPORT void zdp_destroy(zdp_provider *dp) {
    (void)dp;
    open_station = 0;
}

ZDP_EXPORT const char *zdp_error_text(const zdp_provider *dp) {
    (void)dp;
    return error_text;
}

ZDP_EXPORT int32_t zdp_probe_provider(zdp_provider *dp, int32_t *result) {
    (void)dp;
    *result = (int32_t)ZDP_PROBE_SIMULATED;
    return 0;
}

ZDP_EXPORT int32_t zdp_open_connection(zdp_provider *dp, int32_t arg1, int32_t arg2,
                                       int16_t *failure_flag) {
    (void)dp, (void)arg1, (void)arg2;
    open_station = 1;
    *failure_flag = 0;
    return 0;
}

ZDP_EXPORT int32_t zdp_close_connection(zdp_provider *dp) {
    (void)dp;
    open_station = 0;
    paired = 0;
    return 0;
}

static uint8_t base_channel = 1;

ZDP_EXPORT int32_t zdp_get_base_channel(zdp_provider *dp, int32_t arg1, uint8_t *channel) {
    (void)dp, (void)arg1;
    if (!open_station)
        return refuse_closed();
    *channel = base_channel;
    return 0;
}

ZDP_EXPORT int32_t zdp_set_base_channel(zdp_provider *dp, int32_t arg1, uint8_t channel) {
    (void)dp, (void)arg1;
    if (!open_station)
        return refuse_closed();
    if (channel >= ZDP_CHANNEL_MIN && channel <= ZDP_CHANNEL_MAX)
        base_channel = channel;
    return 0;
}

ZDP_EXPORT int32_t zdp_pair_module(zdp_provider *dp, int32_t arg1, int32_t channel_mode,
                                   int32_t window_s, uint32_t *module_id, int32_t *extra,
                                   int32_t *result) {
    (void)dp, (void)arg1;
    if (!open_station)
        return refuse_closed();
    paired = 0;
    unsigned woke = 0;
    if (window_s > 1) {
        woke = next_to_wake++ % 2;
#ifdef FW_WAITS_FOR_INCOMING_ID
        if (*module_id == 0 || *module_id == fleet[woke])
            paired = fleet[woke];
#else
        paired = fleet[woke];
#endif
    }
    *module_id = paired;
    *extra = paired ? channel_of[woke] : 0;
    if (paired && channel_mode == 0) {
#ifndef FW_CLAIMS_MOVE
        channel_of[woke] = base_channel;
#endif
        *extra = base_channel;
    }
    *result = paired != 0;
    return 0;
}

ZDP_EXPORT int32_t zdp_write_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                            uint8_t command, const char *payload,
                                            size_t payload_len, int16_t *failure_flag) {
    (void)dp, (void)arg1;
    if (!open_station)
        return refuse_closed();
    *failure_flag = 1;
    if (module_id == 0 || module_id != paired || payload_len < ZDP_PAYLOAD_NULS)
        return 0;
#ifdef FW_REFUSES_SAVE_RESET
    if (command == ZDP_CMD_SAVE || command == ZDP_CMD_RESET)
        return 0;
#endif
#ifdef FW_REFUSES_FRACTIONS
    if (memchr(payload, '.', payload_len))
        return 0;
#endif
    char *kept = value_of(module_id, command);
    if (kept && payload_len - ZDP_PAYLOAD_NULS < sizeof values[0][0]) {
        memcpy(kept, payload, payload_len - ZDP_PAYLOAD_NULS);
        kept[payload_len - ZDP_PAYLOAD_NULS] = '\0';
    }
    *failure_flag = 0;
    return 0;
}

ZDP_EXPORT int32_t zdp_read_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                           uint8_t command, char *value, size_t capacity,
                                           size_t *value_len, int16_t *failure_flag) {
    (void)dp, (void)arg1;
    if (!open_station)
        return refuse_closed();
    *value_len = 0;
    *failure_flag = 1;
    if (module_id == 0 || module_id != paired)
        return 0;
#ifdef FW_PADS_MODEL
    const char *model = "RX-LC   ";
#else
    const char *model = "RX-LC";
#endif
    const char *kept = value_of(module_id, command);
    const char *answer = command == ZDP_CMD_MODEL ? model : kept ? kept : "60";
    size_t length = strlen(answer) + 1;
#ifdef FW_OVERRUNS_ANSWER
    memset(value, 0, capacity + 44); /* as if the answer were 300 bytes long */
#endif
    if (length > capacity)
        length = capacity;
#ifdef FW_COUNTS_UNWRITTEN_NUL
    memcpy(value, answer, command == ZDP_CMD_MODEL ? length - 1 : length);
#else
    memcpy(value, answer, length);
#endif
    *value_len = length;
    *failure_flag = 0;
    return 0;
}
