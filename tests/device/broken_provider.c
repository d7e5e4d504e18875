/* A data-provider library with one fault, chosen by a compile definition: the loader must
 * refuse it without zdp_read_module_command (FW_OMIT_READ) or with another ABI version
 * (FW_ABI_VERSION), the provider checker must find exactly that fault in it and in the
 * others below, and the program must survive each crash, exit and hang. Without a fault it
 * is a base station with no module in reach: once open, every call succeeds, reads and
 * writes answer failure flag 1, pairing answers module ID 0; before opening and after
 * closing, the calls that need the station answer an error status (FW_IGNORES_OPEN: they
 * succeed all the same, so that no error status is ever seen). */
#include "dataprovider_abi.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* A plain crash, past any sanitizer's handler. */
__attribute__((unused)) static void crash(void) {
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
}

__attribute__((unused)) static void hang(void) {
    for (;;)
        pause();
}

#ifdef FW_CONSTRUCTOR_EXIT
__attribute__((constructor)) static void endAtLoad(void) {
    exit(3);
}
#endif

#ifdef FW_PRINTS
/* Output that would read as a TAP line, at load time and in a call. */
__attribute__((constructor)) static void printAtLoad(void) {
    printf("ok 1 - printed by the library\n");
    fflush(stdout);
}
#endif

#ifndef FW_ABI_VERSION
#define FW_ABI_VERSION ZDP_ABI_VERSION
#endif

static int provider;
static int probed;
static int open_station;
static const char *error_text = "";

/* The calls that need an open base station refuse without one. */
#ifdef FW_IGNORES_OPEN
#define REQUIRE_OPEN()
#else
#define REQUIRE_OPEN()                                                                             \
    do {                                                                                           \
        if (!open_station)                                                                         \
            return refuse_closed();                                                                \
    } while (0)
#endif

#ifndef FW_IGNORES_OPEN
static int32_t refuse_closed(void) {
#ifdef FW_EMPTY_ERROR_TEXT
    error_text = "";
#else
    error_text = "The base station is not open";
#endif
    return -2;
}
#endif

#ifdef FW_REFUSES_WITH_STATUS
/* No module is ever paired here, so every read and write is for an unknown one. */
static int32_t refuse_unknown(void) {
    error_text = "No such module";
    return -5;
}
#endif

uint32_t zdp_abi_version(void) {
    return FW_ABI_VERSION;
}

int32_t zdp_create(zdp_provider **out) {
#ifdef FW_CREATE_CRASH
    crash();
#endif
#ifdef FW_PRINTS
    printf("ok 2 - printed by the library\n");
    fflush(stdout);
#endif
#ifdef FW_CREATE_STATUS_FROM_ENV
    /* The status of the test's choice, so that one library answers 1 to 4 in turn. */
    const char *status = getenv("FW_TEST_CREATE_STATUS");
    if (status && atoi(status) != 0) {
        error_text = "Base station driver refused";
        return atoi(status);
    }
#endif
    *out = (zdp_provider *)&provider;
    return 0;
}

void zdp_destroy(zdp_provider *dp) {
    (void)dp;
#ifdef FW_DESTROY_HANG
    if (dp)
        hang();
#endif
#ifdef FW_DESTROY_CRASH_AFTER_PROBE
    if (dp && probed)
        crash();
#endif
}

const char *zdp_error_text(const zdp_provider *dp) {
    (void)dp;
#ifdef FW_NULL_ERROR_TEXT
    return NULL;
#else
    return error_text;
#endif
}

int32_t zdp_probe_provider(zdp_provider *dp, int32_t *result) {
    (void)dp;
#ifdef FW_PROBE_CRASH
    crash();
#endif
    probed = 1;
    *result = 0;
    return 0;
}

int32_t zdp_open_connection(zdp_provider *dp, int32_t arg1, int32_t arg2, int16_t *failure_flag) {
    (void)dp, (void)arg1, (void)arg2;
#ifdef FW_OPEN_HANG
    hang();
#endif
#ifdef FW_REFUSES_SECOND_OPEN
    if (open_station) {
        *failure_flag = 1;
        return 0;
    }
#endif
    open_station = 1;
    *failure_flag = 0;
    return 0;
}

int32_t zdp_close_connection(zdp_provider *dp) {
    (void)dp;
    open_station = 0;
    return 0;
}

int32_t zdp_get_base_channel(zdp_provider *dp, int32_t arg1, uint8_t *channel) {
    (void)dp, (void)arg1;
    REQUIRE_OPEN();
#ifdef FW_CHANNEL_ZERO
    *channel = 0;
#else
    *channel = 1;
#endif
    return 0;
}

int32_t zdp_set_base_channel(zdp_provider *dp, int32_t arg1, uint8_t channel) {
    (void)dp, (void)arg1, (void)channel;
    REQUIRE_OPEN();
    return 0;
}

int32_t zdp_pair_module(zdp_provider *dp, int32_t arg1, int32_t channel_mode, int32_t window_s,
                        uint32_t *module_id, int32_t *extra, int32_t *result) {
    (void)dp, (void)arg1, (void)channel_mode, (void)window_s, (void)extra, (void)result;
    REQUIRE_OPEN();
#ifdef FW_PAIR_CRASH
    crash();
#endif
#ifdef FW_PAIR_HANG
    hang();
#endif
#ifndef FW_PAIR_KEEPS_ID
    *module_id = 0;
#else
    (void)module_id;
#endif
    return 0;
}

int32_t zdp_write_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                 uint8_t command, const char *payload, size_t payload_len,
                                 int16_t *failure_flag) {
    (void)dp, (void)arg1, (void)module_id, (void)command, (void)payload, (void)payload_len;
    REQUIRE_OPEN();
#ifdef FW_REFUSES_WITH_STATUS
    (void)failure_flag;
    return refuse_unknown();
#else
    *failure_flag = 1;
    return 0;
#endif
}

#ifndef FW_OMIT_READ
int32_t zdp_read_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id, uint8_t command,
                                char *value, size_t capacity, size_t *value_len,
                                int16_t *failure_flag) {
    (void)dp, (void)arg1, (void)module_id, (void)command, (void)value, (void)capacity;
    REQUIRE_OPEN();
#ifdef FW_READ_EXIT
    exit(3);
#endif
#ifdef FW_READ_OVERRUN
    memset(value, 'x', capacity + 8);
#endif
#ifdef FW_REFUSES_WITH_STATUS
    (void)value_len, (void)failure_flag;
    return refuse_unknown();
#else
    *value_len = 0;
    *failure_flag = 1;
    return 0;
#endif
}
#endif
