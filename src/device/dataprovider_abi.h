/*
 * Fleetwright data-provider ABI, version 1: the whole contract between the program and a
 * data-provider library. fleetwright-provider(7) says the same with examples.
 *
 * A data-provider library carries all traffic between the program and a USB base
 * station with its remote acquisition modules. The program loads it at run time
 * (dlopen) and calls only the twelve zdp_* functions below; a device maker builds a
 * shared library that exports them with C linkage, and the program's simulated base
 * station does the same.
 *
 * Building and installing
 *  - Export the twelve calls; the program looks up no other symbol, and a library may
 *    export more of its own (the simulated base station exports fwsim_* functions for its
 *    tests). Compile with -fvisibility=hidden so that nothing else leaks out by accident;
 *    the declarations below carry ZDP_EXPORT, and a definition may repeat it.
 *        cc $(pkg-config --cflags fleetwright-provider) -fvisibility=hidden -shared -fPIC \
 *           -Wl,-soname,libzarvik-dataprovider.so.1 -o libzarvik-dataprovider.so.1 provider.c
 *  - The program loads the library given by its option --provider FILE or named by the
 *    environment variable FLEETWRIGHT_PROVIDER (a path, or a name for the dynamic linker),
 *    else libzarvik-dataprovider.so.1 from the dynamic linker's search path: install it
 *    in the folder that pkg-config's variable providerdir names
 *    (pkg-config --variable=providerdir fleetwright-provider).
 *  - fleetwright-provider-check(1) runs what the program does against a library and says
 *    whether it keeps this contract.
 *
 * How the program runs the library
 *  - In a host process of its own, one provider per process: a library that crashes or
 *    hangs takes only that process down. The host gives every call 5 s
 *    (ZDP_HOST_CALL_DEADLINE_S) and zdp_pair_module its window plus 5 s; a call that has not
 *    returned by then, or a crash, ends the host's process (SIGKILL), the update under way
 *    fails and the program starts a new host for the next one.
 *  - The checker is stricter, and a library should be too: every call except pairing
 *    returns within 1 s (ZDP_CALL_LIMIT_S), pairing within its window plus 1 s.
 *  - Threading: all calls on one provider, and zdp_create, come from one thread, one call
 *    at a time; it need not be the thread that loaded the library. A library may run
 *    threads of its own but must not call back into the host.
 *  - Order over a run: zdp_abi_version, zdp_create, zdp_probe_provider,
 *    zdp_open_connection, zdp_get_base_channel; per update zdp_get_base_channel, then
 *    either zdp_pair_module with channel mode 1, or (when the operator chose "Change the
 *    remote module RADIO channel") zdp_set_base_channel when the channel differs,
 *    zdp_get_base_channel and zdp_pair_module with channel mode 0; then the module's reads
 *    and writes (see "Module commands"); at the end zdp_close_connection and zdp_destroy.
 *
 * Statuses, failure flags and error texts
 *  - Every int32_t return value is the call's status: 0 when the call succeeded, any
 *    other value an error status (the call itself failed and its outputs are left unset).
 *  - A failure flag (int16_t out-parameter) is the device's own answer: 0 means the base
 *    station or module did what was asked, any other value that it did not. A call can
 *    succeed (status 0) and still report a non-zero failure flag. Expected failures (no
 *    base station plugged in, a module that refuses a command) are failure flags; an error
 *    status is for a call that could not be carried out at all.
 *  - The program shows an error status to the operator as the text of zdp_error_text,
 *    followed by " [Code: n]" with the status in decimal, for example
 *    "Communication with the base station failed!" / "USB transfer timed out [Code: -7]".
 *    Invalid UTF-8 shows as U+FFFD and the text is cut after 1000 characters.
 *  - Calls on a provider whose base station is not open (before zdp_open_connection
 *    succeeded with failure flag 0, or after zdp_close_connection) return an error status
 *    with a non-empty text: zdp_get_base_channel, zdp_set_base_channel, zdp_pair_module,
 *    zdp_write_module_command and zdp_read_module_command. zdp_probe_provider works on a
 *    provider that is not open; zdp_close_connection on one that is not open does nothing
 *    and returns 0; zdp_open_connection on one that is open returns 0 with failure flag 0.
 *  - Strings returned by the library stay owned by the library; the caller never frees
 *    them.
 *
 * Rules that settle what the above leaves open (in brackets: the checker's check that
 * holds a library to the rule, where one does)
 *  R1  The error text of dp describes the last error status on dp until the next one; a
 *      success in between may leave it or empty it. Before any error status it is empty.
 *      [error-text]
 *  R2  zdp_error_text is not "the next call": asking again gives the same text, and the
 *      string stays valid until a call of another function on that provider.
 *  R3  dp == NULL: every call that takes a provider answers an error status and writes no
 *      output; zdp_destroy(NULL) does nothing [destroy-null]. Such calls leave the text of
 *      zdp_error_text(NULL), which describes the last failed zdp_create only. The program
 *      never passes NULL.
 *  R4  A channel mode other than 0 or 1 answers an error status. The program passes only
 *      0 and 1.
 *  R5  arg1 of the channel, pairing, read and write calls, and both arguments of
 *      zdp_open_connection, carry no meaning: the program passes the values named at each
 *      call (1; 0 and 0 for opening), the checker the same, and a library may ignore them.
 *  R6  Opening is exclusive per base station: while one provider, in any process, holds
 *      the station open, opening it through another answers failure flag non-zero with
 *      status 0. Where the lock lives is the library's choice (the simulated station
 *      uses a lock file). Opening a provider that is open already answers 0 with flag 0
 *      and leaves it open [open-twice]. The checker runs its groups one after another,
 *      one provider at a time; two checkers on one base station fail each other's open.
 *  R7  A pairing that finds no module ends the previous pairing: reads and writes for the
 *      old ID answer a failure flag. The program ends an update at such a pairing.
 *  R8  Values come as the program writes them: 76, 78 and 77 as plain decimal text,
 *      digits with at most one "." ("333", "7.5", "1.5", "0"), no sign, no blanks, up to
 *      15 significant digits and 22 characters; only a sleep delay below 0.00001 comes in
 *      exponent form ("1E-06"). 75 comes as "0" or "1". A module may refuse a form it
 *      cannot run (a fraction, say) with a failure flag; the operator then reads "Cannot
 *      write TX Interval!" or the like. A value taken must read back as the same number.
 *      [update-acquisition-forms]
 *  R9  Refusals are failure flags with status 0: a read or write for an unpaired or
 *      unknown module ID (0 among them), a malformed payload (not ending in
 *      ZDP_PAYLOAD_NULS NULs, or a NUL inside) and a refused value. An error status there
 *      tells the operator that the base station failed. [unknown-module]
 *  R10 The channel that channel mode 0 gives a module is its own at once and stays through
 *      power cycles without 55: radio settings are not among the saved parameters. 55
 *      saves the four parameters; a power cycle or 54 brings back the saved ones, so
 *      writes not saved are lost. *extra says so: after mode 0 and at every pairing of
 *      that module after it, the new channel [module-pair-channel].
 *  R11 An answer is the value alone, in UTF-8: no blank, padding or control character
 *      before or after it (the program compares the model whole), and *value_len counts
 *      only bytes copied: one counted but not copied (a NUL left behind) is part of the
 *      answer with whatever the buffer held, which the checker fills with 0x96
 *      [module-model, module-read-*].
 *      The program checks the model against its list on the "Acquisition Modules" tab
 *      only; the "General" tab takes any model, as the operator's choice of tab says.
 *  R12 The models the program accepts are those under "Module commands" below (the manual
 *      page's MODELS): RX,IM with its comma, as the module answers it.
 *  R13 No status value is reserved: any non-zero status is the library's own and the
 *      operator sees it with its number. An error status from zdp_probe_provider ends
 *      start-up with its text; one from zdp_close_connection at the close is not shown,
 *      since the program is ending, and the close goes on.
 *  R14 The program opens with 0, 0 and passes no settings of its own: a library reads its
 *      configuration (a device path, a log level) from environment variables or files of
 *      its own, at zdp_create. The host keeps the program's environment.
 *  R15 A SONAME is not needed (the program loads the library by path, or by the name
 *      libzarvik-dataprovider.so.1), but setting it to that name, as the example's
 *      Makefile does with -Wl,-soname,libzarvik-dataprovider.so.1, lets ldconfig and
 *      packaging tools handle the library as usual.
 */
#ifndef FLEETWRIGHT_DATAPROVIDER_ABI_H
#define FLEETWRIGHT_DATAPROVIDER_ABI_H

/* C and C++ hosts share this header, so it takes the C library headers. */
#include <stddef.h> /* NOLINT(modernize-deprecated-headers) */
#include <stdint.h> /* NOLINT(modernize-deprecated-headers) */

#ifdef __cplusplus
extern "C" {
#endif

/* Makes a call visible outside a library built with -fvisibility=hidden. */
#if defined(__GNUC__) || defined(__clang__)
#define ZDP_EXPORT __attribute__((visibility("default")))
#else
#define ZDP_EXPORT
#endif

/* The ABI version that this header describes; zdp_abi_version() returns it. */
#define ZDP_ABI_VERSION 1u

/* Smallest buffer that a host passes to zdp_read_module_command(). */
#define ZDP_MIN_READ_CAPACITY 256u

/* What zdp_probe_provider() puts in *result: this value for a library that emulates a
 * base station instead of driving one ("SIMU"; the program then says so in its window
 * title), 0 for a library that drives real hardware. Any other value counts as 0. */
#define ZDP_PROBE_SIMULATED 0x53494D55u

/* The radio channels of base station and modules: 1 to 16. */
#define ZDP_CHANNEL_MIN 1u
#define ZDP_CHANNEL_MAX 16u

/* The pairing window the program passes to zdp_pair_module(), in seconds. */
#define ZDP_PAIRING_WINDOW_S 10

/* How long a call may take: see "How the program runs the library" above. */
#define ZDP_CALL_LIMIT_S 1
#define ZDP_HOST_CALL_DEADLINE_S 5

/* A written payload ends with this many NULs, which payload_len counts. */
#define ZDP_PAYLOAD_NULS 2u

/*
 * Module commands: the codes the program sends with zdp_read_module_command and
 * zdp_write_module_command, and the form of their values. Every value is text. A written
 * value is sent as payload: its text, then two NULs (ZDP_PAYLOAD_NULS), never a NUL
 * inside; payload_len counts the NULs, so an empty value has payload_len 2. An answer is
 * read as text up to its first NUL; what follows the NUL is ignored.
 *
 * An update reads 51 (model). On the "Acquisition Modules" tab it then reads 76, 78, 77
 * and 75 (only those the operator left blank), writes 76, 78, 77 and 75 (only those the
 * operator entered), in that order; with "Verify after writing" on, it reads each value
 * written back before the save and ends when the module holds another number. Every
 * update ends with 55 (save), a pause of 1 s and 54 (reset). A module that refuses 55
 * or 54 makes every update fail. A Read pairs in channel mode 1, reads 51, 76, 78, 77
 * and 75, and ends with 54 without 55, so that the module keeps its saved settings.
 *
 * Model strings the program accepts (compared after upper-casing): RX-LC, GHMTX,
 * GH-K410, GH-K520, RX-VM, RX,IM (with a comma), RX-RM, RX-TM. Any other model is
 * refused with "not supported by this software" before any parameter is read.
 */
/* read: the model name, e.g. "RX-LC" */
#define ZDP_CMD_MODEL 51u
/* write, empty value: restart with the saved settings */
#define ZDP_CMD_RESET 54u
/* write, empty value: keep the working settings */
#define ZDP_CMD_SAVE 55u
/* read, write: "0" off, another number on; the program writes "0" or "1" */
#define ZDP_CMD_LOW_POWER_MODE 75u
/* read, write: ms as a decimal number; the program writes 5 to 60000, e.g. "333", "7.5" */
#define ZDP_CMD_TX_INTERVAL 76u
/* read, write: s as a decimal number; the program writes 0 to 3600 */
#define ZDP_CMD_SLEEP_DELAY 77u
/* read, write: ms as a decimal number; the program writes 5 to 60000 */
#define ZDP_CMD_SAMPLE_TIME 78u

typedef struct zdp_provider zdp_provider; /* NOLINT(modernize-use-using): C */

/* Returns ZDP_ABI_VERSION. The host calls it before anything else and refuses a library
 * of another version. */
ZDP_EXPORT uint32_t zdp_abi_version(void);

/* Creates a provider object into *out. On an error status *out is left unset and
 * zdp_error_text(NULL) describes the failure. */
ZDP_EXPORT int32_t zdp_create(zdp_provider **out);

/* Releases a provider made by zdp_create(), closing its base station first when it is
 * open; NULL is allowed and does nothing. */
ZDP_EXPORT void zdp_destroy(zdp_provider *dp);

/* Describes the last error status on dp; with dp == NULL, that of the last failed
 * zdp_create(). Never NULL. Empty before the first error status; after an error status,
 * a non-empty description of it, in UTF-8, that may stay until the next error status.
 * The string stays valid until the next call on the same provider (for NULL: until the
 * next zdp_create) or until the library is unloaded. */
ZDP_EXPORT const char *zdp_error_text(const zdp_provider *dp);

/* Proves that the library answers; needs no open base station. *result: 0 for a library
 * that drives real hardware, ZDP_PROBE_SIMULATED for one that emulates a base station. */
ZDP_EXPORT int32_t zdp_probe_provider(zdp_provider *dp, int32_t *result);

/* Opens the base station. The program passes 0, 0 (a library ignores them).
 * *failure_flag: 0 when open, non-zero when there is no base station or another process
 * holds it. The program ends at start-up on anything but status 0 and flag 0. */
ZDP_EXPORT int32_t zdp_open_connection(zdp_provider *dp, int32_t arg1, int32_t arg2,
                                       int16_t *failure_flag);

/* Closes the base station and forgets the pairing; closing one that is not open does
 * nothing and returns 0. */
ZDP_EXPORT int32_t zdp_close_connection(zdp_provider *dp);

/* Reads the base station's radio channel, always ZDP_CHANNEL_MIN to ZDP_CHANNEL_MAX
 * (the program's channel list shows no other). The program passes arg1 = 1. */
ZDP_EXPORT int32_t zdp_get_base_channel(zdp_provider *dp, int32_t arg1, uint8_t *channel);

/* Asks the base station to take a radio channel. The program passes arg1 = 1 and a
 * channel from 1 to 16. A channel the station cannot take (outside 1 to 16 among them)
 * leaves the channel as it is, with status 0: the host sees it only by reading the
 * channel back, and the update then fails with "Could not set base station RF channel". */
ZDP_EXPORT int32_t zdp_set_base_channel(zdp_provider *dp, int32_t arg1, uint8_t channel);

/* Waits up to window_s seconds for a remote module to wake (the operator power-cycles
 * it) and pairs with it, returning as soon as one paired. channel_mode 0 moves the
 * module to the base station's channel (just set by the update), 1 leaves the module's
 * radio settings as they are.
 * *module_id is in and out. On entry it holds whatever the host had: the program passes
 * the previous pairing's ID (0 at first, or after a pairing that found none), the
 * checker passes 0 or 0x5A5A5A5A. It is not a module to wait for: pair with whichever
 * module wakes. On return (status 0) it holds the paired module's ID, never 0, or 0 when
 * no module paired within the window; the library always writes it.
 * *extra: the paired module's radio channel, 0 when none paired; *result: 1 when a
 * module paired, 0 when none. The program ignores *result but relies on *extra: after
 * channel mode 0, a channel from ZDP_CHANNEL_MIN to ZDP_CHANNEL_MAX that is not the base
 * station's ends the update before any read ("did not take channel"); a library that
 * cannot tell leaves *extra outside that range and is taken at its word.
 * The program passes arg1 = 1 and window_s = ZDP_PAIRING_WINDOW_S; a window of 0 or less
 * answers 0 at once. The call returns within window_s + 1 s. */
ZDP_EXPORT int32_t zdp_pair_module(zdp_provider *dp, int32_t arg1, int32_t channel_mode,
                                   int32_t window_s, uint32_t *module_id, int32_t *extra,
                                   int32_t *result);

/* Sends one command to the paired module (codes and values: "Module commands" above).
 * payload holds payload_len bytes: the value's text followed by two NULs, which
 * payload_len counts ("333" comes as 5 bytes, an empty value as 2). The program passes
 * arg1 = 1. *failure_flag: 0 when the module took the command; non-zero when it refused
 * it, or module_id is not the paired module (0 among them). */
ZDP_EXPORT int32_t zdp_write_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                            uint8_t command, const char *payload,
                                            size_t payload_len, int16_t *failure_flag);

/* Asks the paired module for one value. The library copies at most capacity bytes of
 * the answer into value, sets *value_len to the number of bytes copied (a NUL and any
 * padding after it count when they were copied) and never writes past capacity; the host
 * passes at least ZDP_MIN_READ_CAPACITY bytes. The host reads the answer as the text
 * before the first NUL within those *value_len bytes, or all of them when there is no
 * NUL; an answer need not end with a NUL. The program passes arg1 = 1.
 * *failure_flag: 0 when value holds the answer; non-zero when the module gave none, or
 * module_id is not the paired module (0 among them), with *value_len 0. */
ZDP_EXPORT int32_t zdp_read_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                           uint8_t command, char *value, size_t capacity,
                                           size_t *value_len, int16_t *failure_flag);

#ifdef __cplusplus
}
#endif

#endif /* FLEETWRIGHT_DATAPROVIDER_ABI_H */
