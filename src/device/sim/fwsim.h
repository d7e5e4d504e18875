/*
 * Test-only interface of the simulated base station (libfleetwright-simulator.so).
 *
 * These functions are not part of the data-provider ABI: a host program never calls
 * them. Tests dlopen the simulator (the same instance that the program's provider
 * runs in) and look at the state that the provider's calls left behind. They inspect
 * the most recently created provider, also after it was destroyed, until the next
 * zdp_create() replaces it. All are safe to call from any thread.
 */
#ifndef FLEETWRIGHT_FWSIM_H
#define FLEETWRIGHT_FWSIM_H

/* C and C++ callers share this header, so it takes the C library headers. */
#include <stddef.h> /* NOLINT(modernize-deprecated-headers) */
#include <stdint.h> /* NOLINT(modernize-deprecated-headers) */

#ifdef __cplusplus
extern "C" {
#endif

#define FWSIM_EXPORT __attribute__((visibility("default")))

/* Error statuses of the simulator's zdp_* calls; zdp_error_text() gives details. */
#define FWSIM_ERR_BAD_ARGUMENT (-1) /* NULL pointer or an argument out of its domain */
#define FWSIM_ERR_BAD_SETTING (-2)  /* a FLEETWRIGHT_SIM_* variable is malformed */
#define FWSIM_ERR_INJECTED (-3)     /* a fault asked for in FLEETWRIGHT_SIM_FAULTS */
#define FWSIM_ERR_NOT_OPEN (-4)     /* the call needs an open base station */
#define FWSIM_ERR_SYSTEM (-5)       /* lock or state file could not be used */
#define FWSIM_ERR_INTERNAL (-6)     /* out of memory or another unexpected failure */

/* The base station's radio channel, or -1 when no provider was created. */
FWSIM_EXPORT int fwsim_base_channel(void);

/* 1 when the base station is open, 0 when not, -1 when no provider was created. */
FWSIM_EXPORT int fwsim_is_open(void);

/* The ID of the module paired last, 0 when none is paired. */
FWSIM_EXPORT uint32_t fwsim_paired_module(void);

/* Number of modules in the fleet, and the ID of the one at index (0 when out of range),
 * in the order in which they wake. */
FWSIM_EXPORT int fwsim_module_count(void);
FWSIM_EXPORT uint32_t fwsim_module_id(int index);

/* A module's radio channel, or -1 for an unknown ID. */
FWSIM_EXPORT int fwsim_module_channel(uint32_t id);

/* Copies one value of a module into buf as a NUL-terminated text, cut to cap - 1 bytes,
 * and returns its whole length; -1 for an unknown ID or command code. command 51 gives
 * the model; 76, 78, 77 and 75 the parameter from the working set (saved == 0) or the
 * saved set (saved != 0). buf may be NULL when cap is 0. */
FWSIM_EXPORT long fwsim_module_value(uint32_t id, uint8_t command, int saved, char *buf,
                                     size_t cap);

/* How many times the named zdp_* function was called on the provider (a name such as
 * "zdp_pair_module"; zdp_create, zdp_destroy, zdp_abi_version and zdp_error_text are
 * not counted), or -1 for a name that is not counted. */
FWSIM_EXPORT long fwsim_call_count(const char *function);

/* The latest calls counted by fwsim_call_count(), oldest first, one per line ending in
 * '\n': the function's name, then for reads and writes a blank and the command code, for
 * zdp_set_base_channel the channel asked for, for zdp_pair_module the channel mode (for
 * example "zdp_read_module_command 51"). Copied into buf as a NUL-terminated text, cut to
 * cap - 1 bytes; returns its whole length. Keeps the latest 10000 calls. */
FWSIM_EXPORT long fwsim_call_log(char *buf, size_t cap);

/* Empties the call log; the counts stay. */
FWSIM_EXPORT void fwsim_clear_call_log(void);

/* Replaces the injected faults of the provider, as FLEETWRIGHT_SIM_FAULTS would have set
 * them at its creation; NULL or "" removes them all ("create" has no effect by then).
 * Returns 0, FWSIM_ERR_BAD_SETTING for a malformed list (the faults stay as they were) or
 * -1 when no provider was created. */
FWSIM_EXPORT int fwsim_set_faults(const char *faults);

#ifdef __cplusplus
}
#endif

#endif /* FLEETWRIGHT_FWSIM_H */
