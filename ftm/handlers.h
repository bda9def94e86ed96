// The request handlers of "ftm", one per routed (key, action) pair.
#pragma once

#include <jansson.h>

namespace ftm {

using key_handler = void (*)(const json_t *request, char *resp, int size);

void ftm_get_dev_base(const json_t *request, char *resp, int size);
void ftm_set_dev_base(const json_t *request, char *resp, int size);
void ftm_set_sdcard_test(const json_t *request, char *resp, int size);
void ftm_get_mboard(const json_t *request, char *resp, int size);
void ftm_set_mboard_base(const json_t *request, char *resp, int size);
void ftm_get_mboard_diagnose(const json_t *request, char *resp, int size);
void uart_test(const json_t *request, char *resp, int size);
void get_i2c1_temp(const json_t *request, char *resp, int size);

// Writes text as the reply, cut to the capacity.
void reply(char *resp, int size, const char *text);

}  // namespace ftm
