/*
 * Fleetwright data-provider ABI, version 1.
 *
 * A data-provider library carries all traffic between the program and a USB base
 * station with its remote acquisition modules. The program loads it at run time
 * (dlopen) and calls only the symbols below; a device maker builds a shared library
 * that exports them, and the program's simulated base station does the same.
 *
 * Conventions
 *  - Every int32_t return value is the call's status: 0 when the call succeeded,
 *    any other value an error status (the call itself failed and its outputs are
 *    left unset). zdp_error_text() describes the last error status.
 *  - A failure flag (int16_t out-parameter) is the device's own answer: 0 means the
 *    base station or module did what was asked, any other value that it did not.
 *    A call can succeed (status 0) and still report a non-zero failure flag.
 *  - Strings returned by the library stay owned by the library; the caller never
 *    frees them. They remain valid until the next call on the same provider.
 *  - All calls on one provider come from one thread.
 */
#ifndef FLEETWRIGHT_DATAPROVIDER_ABI_H
#define FLEETWRIGHT_DATAPROVIDER_ABI_H

/* C and C++ hosts share this header, so it takes the C library headers. */
#include <stddef.h> /* NOLINT(modernize-deprecated-headers) */
#include <stdint.h> /* NOLINT(modernize-deprecated-headers) */

#ifdef __cplusplus
extern "C" {
#endif

/* The ABI version that this header describes; zdp_abi_version() returns it. */
#define ZDP_ABI_VERSION 1u

/* Smallest buffer that a host passes to zdp_read_module_command(). */
#define ZDP_MIN_READ_CAPACITY 256u

typedef struct zdp_provider zdp_provider; /* NOLINT(modernize-use-using): C */

/* Returns ZDP_ABI_VERSION. The host checks it before it calls anything else. */
uint32_t zdp_abi_version(void);

/* Creates a provider object into *out. On an error status *out is left unset. */
int32_t zdp_create(zdp_provider **out);

/* Releases a provider made by zdp_create(); NULL is allowed and does nothing. */
void zdp_destroy(zdp_provider *dp);

/* Describes the last error status on dp; with dp == NULL, that of the last failed
 * zdp_create(). Never NULL; an empty string when there was no error. */
const char *zdp_error_text(const zdp_provider *dp);

/* *result of zdp_probe_provider() from a provider that emulates a base station instead
 * of driving one ("SIMU"); a library that drives real hardware sets 0. */
#define ZDP_PROBE_SIMULATED 0x53494D55u

/* Proves that the library answers. *result is 0, or ZDP_PROBE_SIMULATED. */
int32_t zdp_probe_provider(zdp_provider *dp, int32_t *result);

/* Opens the base station. The program passes 0, 0. *failure_flag: 0 when open. */
int32_t zdp_open_connection(zdp_provider *dp, int32_t arg1, int32_t arg2, int16_t *failure_flag);

/* Closes the base station; closing one that is not open does nothing. */
int32_t zdp_close_connection(zdp_provider *dp);

/* Reads the base station's radio channel. The program passes arg1 = 1. */
int32_t zdp_get_base_channel(zdp_provider *dp, int32_t arg1, uint8_t *channel);

/* Asks the base station to take a radio channel. The program passes arg1 = 1.
 * Whether the station took it is seen only by reading the channel back. */
int32_t zdp_set_base_channel(zdp_provider *dp, int32_t arg1, uint8_t channel);

/* Waits up to window_s seconds for a remote module to wake and pairs with it.
 * channel_mode 0 moves the module to the base station's channel, 1 leaves the
 * module's radio settings as they are. *module_id is in and out: on return it holds
 * the paired module's ID, or 0 when no module paired in the window. *extra and
 * *result are informational only. The program passes arg1 = 1, window_s = 10. */
int32_t zdp_pair_module(zdp_provider *dp, int32_t arg1, int32_t channel_mode, int32_t window_s,
                        uint32_t *module_id, int32_t *extra, int32_t *result);

/* Sends one command to the paired module. payload holds payload_len bytes (NULs
 * allowed; the program ends every payload with two NULs). The program passes
 * arg1 = 1. *failure_flag: 0 when the module took the command. */
int32_t zdp_write_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                 uint8_t command, const char *payload, size_t payload_len,
                                 int16_t *failure_flag);

/* Asks the paired module for one value. The library copies at most capacity bytes
 * of the answer (NULs allowed) into value, sets *value_len to the number copied and
 * never writes past capacity; the host passes at least ZDP_MIN_READ_CAPACITY bytes.
 * The program passes arg1 = 1. *failure_flag: 0 when value holds the answer. */
int32_t zdp_read_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id, uint8_t command,
                                char *value, size_t capacity, size_t *value_len,
                                int16_t *failure_flag);

#ifdef __cplusplus
}
#endif

#endif /* FLEETWRIGHT_DATAPROVIDER_ABI_H */
