/* A data-provider library that the loader must refuse: built once without
 * zdp_read_module_command (FW_OMIT_READ) and once with another ABI version
 * (FW_ABI_VERSION). Every call that exists succeeds and does nothing. */
#include "dataprovider_abi.h"

#ifndef FW_ABI_VERSION
#define FW_ABI_VERSION ZDP_ABI_VERSION
#endif

static int provider;

uint32_t zdp_abi_version(void) {
    return FW_ABI_VERSION;
}

int32_t zdp_create(zdp_provider **out) {
    *out = (zdp_provider *)&provider;
    return 0;
}

void zdp_destroy(zdp_provider *dp) {
    (void)dp;
}

const char *zdp_error_text(const zdp_provider *dp) {
    (void)dp;
    return "";
}

int32_t zdp_probe_provider(zdp_provider *dp, int32_t *result) {
    (void)dp;
    *result = 0;
    return 0;
}

int32_t zdp_open_connection(zdp_provider *dp, int32_t arg1, int32_t arg2, int16_t *failure_flag) {
    (void)dp, (void)arg1, (void)arg2;
    *failure_flag = 0;
    return 0;
}

int32_t zdp_close_connection(zdp_provider *dp) {
    (void)dp;
    return 0;
}

int32_t zdp_get_base_channel(zdp_provider *dp, int32_t arg1, uint8_t *channel) {
    (void)dp, (void)arg1;
    *channel = 1;
    return 0;
}

int32_t zdp_set_base_channel(zdp_provider *dp, int32_t arg1, uint8_t channel) {
    (void)dp, (void)arg1, (void)channel;
    return 0;
}

int32_t zdp_pair_module(zdp_provider *dp, int32_t arg1, int32_t channel_mode, int32_t window_s,
                        uint32_t *module_id, int32_t *extra, int32_t *result) {
    (void)dp, (void)arg1, (void)channel_mode, (void)window_s, (void)extra, (void)result;
    *module_id = 0;
    return 0;
}

int32_t zdp_write_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id,
                                 uint8_t command, const char *payload, size_t payload_len,
                                 int16_t *failure_flag) {
    (void)dp, (void)arg1, (void)module_id, (void)command, (void)payload, (void)payload_len;
    *failure_flag = 0;
    return 0;
}

#ifndef FW_OMIT_READ
int32_t zdp_read_module_command(zdp_provider *dp, uint8_t arg1, uint32_t module_id, uint8_t command,
                                char *value, size_t capacity, size_t *value_len,
                                int16_t *failure_flag) {
    (void)dp, (void)arg1, (void)module_id, (void)command, (void)value, (void)capacity;
    *value_len = 0;
    *failure_flag = 0;
    return 0;
}
#endif
