/* A data-provider library that passes every call on to the simulator (the library named by
 * FW_TEST_DELEGATE) unless the file named by FW_TEST_FAULT_FILE holds a fault for that call:
 * a line "crash zdp_pair_module", "hang zdp_pair_module" or "exit zdp_read_module_command"
 * (exit status 3; "exit-stuck" also leaves a destructor that never returns); the first line
 * naming the call counts. The file is read on every call, so
 * that a test can switch the fault on and off while the program runs. Faults that leave processes
 * behind the host's back carry on with the call: "fork" (a child that waits for ever), "setsid" (a
 * child that starts a session and forks again, as a daemon does), "own-group" (a child in a process
 * group of its own); "parent-group" moves the host into its parent's process group and hangs. The
 * call "load" is the library's constructor. */
#include "dataprovider_abi.h"

#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static void *delegate(const char *name) {
    static void *simulator;
    if (!simulator)
        simulator = dlopen(getenv("FW_TEST_DELEGATE"), RTLD_NOW | RTLD_LOCAL);
    if (!simulator)
        abort();
    return dlsym(simulator, name);
}

static int stuckAtUnload;

__attribute__((destructor)) static void atUnload(void) {
    while (stuckAtUnload)
        pause();
}

static void faultIn(const char *call) {
    const char *path = getenv("FW_TEST_FAULT_FILE");
    FILE *file = path ? fopen(path, "r") : NULL;
    if (!file)
        return;
    char action[16] = "";
    char where[64] = "";
    while (fscanf(file, "%15s %63s", action, where) == 2)
        if (strcmp(where, call) == 0)
            break;
    fclose(file);
    if (strcmp(where, call) != 0)
        return;
    if (strcmp(action, "crash") == 0) {
        signal(SIGSEGV, SIG_DFL);
        raise(SIGSEGV);
    } else if (strcmp(action, "hang") == 0) {
        for (;;)
            pause();
    } else if (strcmp(action, "exit") == 0) {
        exit(3);
    } else if (strcmp(action, "exit-stuck") == 0) {
        stuckAtUnload = 1;
        exit(3);
    } else if (strcmp(action, "fork") == 0) {
        if (fork() == 0)
            for (;;)
                pause();
    } else if (strcmp(action, "setsid") == 0) {
        const pid_t child = fork();
        if (child == 0) {
            setsid();
            if (fork() == 0)
                for (;;)
                    pause();
            _exit(0);
        }
        waitpid(child, NULL, 0);
    } else if (strcmp(action, "own-group") == 0) {
        if (fork() == 0) {
            setpgid(0, 0);
            for (;;)
                pause();
        }
    } else if (strcmp(action, "parent-group") == 0) {
        setpgid(0, getpgid(getppid()));
        for (;;)
            pause();
    }
}

__attribute__((constructor)) static void atLoad(void) {
    faultIn("load");
}

/* dlsym's object pointer becomes a function pointer the way POSIX allows. */
#define FORWARD(name, ...)                                                                         \
    faultIn(#name);                                                                                \
    __typeof__(&name) call;                                                                        \
    *(void **)&call = delegate(#name);                                                             \
    return call(__VA_ARGS__)

uint32_t zdp_abi_version(void) {
    FORWARD(zdp_abi_version);
}
int32_t zdp_create(zdp_provider **out) {
    FORWARD(zdp_create, out);
}
void zdp_destroy(zdp_provider *dp) {
    faultIn("zdp_destroy");
    __typeof__(&zdp_destroy) call;
    *(void **)&call = delegate("zdp_destroy");
    call(dp);
}
const char *zdp_error_text(const zdp_provider *dp) {
    FORWARD(zdp_error_text, dp);
}
int32_t zdp_probe_provider(zdp_provider *dp, int32_t *result) {
    FORWARD(zdp_probe_provider, dp, result);
}
int32_t zdp_open_connection(zdp_provider *dp, int32_t arg1, int32_t arg2, int16_t *failure_flag) {
    FORWARD(zdp_open_connection, dp, arg1, arg2, failure_flag);
}
int32_t zdp_close_connection(zdp_provider *dp) {
    FORWARD(zdp_close_connection, dp);
}
int32_t zdp_get_base_channel(zdp_provider *dp, int32_t arg1, uint8_t *channel) {
    FORWARD(zdp_get_base_channel, dp, arg1, channel);
}
int32_t zdp_set_base_channel(zdp_provider *dp, int32_t arg1, uint8_t channel) {
    FORWARD(zdp_set_base_channel, dp, arg1, channel);
}
int32_t zdp_pair_module(zdp_provider *dp, int32_t arg1, int32_t channel_mode, int32_t window_s,
                        uint32_t *module_id, int32_t *extra, int32_t *result) {
    FORWARD(zdp_pair_module, dp, arg1, channel_mode, window_s, module_id, extra, result);
}
int32_t zdp_write_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                 uint8_t command, const char *payload, size_t payload_len,
                                 int16_t *failure_flag) {
    FORWARD(zdp_write_module_command, dp, arg1, module_id, command, payload, payload_len,
            failure_flag);
}
int32_t zdp_read_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id, uint8_t command,
                                char *value, size_t capacity, size_t *value_len,
                                int16_t *failure_flag) {
    FORWARD(zdp_read_module_command, dp, arg1, module_id, command, value, capacity, value_len,
            failure_flag);
}
