// The key operations of the "hwmond" object; each writes exactly one reply.
#pragma once

#include <jansson.h>

namespace hwmond {

using key_handler = int (*)(const json_t *request, char *resp, int size);

// power_fans.cpp
int hwmond_get_power_all(const json_t *request, char *resp, int size);
int hwmond_set_power_all(const json_t *request, char *resp, int size);
int hwmond_set_power_vol(const json_t *request, char *resp, int size);
int hwmond_set_power_en(const json_t *request, char *resp, int size);
int hwmond_get_power_output(const json_t *request, char *resp, int size);
int hwmond_get_fans_duty(const json_t *request, char *resp, int size);
int hwmond_set_fans_duty(const json_t *request, char *resp, int size);
int hwmond_get_fans_rpm(const json_t *request, char *resp, int size);

// leds.cpp
int hwmond_get_leds_all(const json_t *request, char *resp, int size);
int hwmond_set_led_blue(const json_t *request, char *resp, int size);
int hwmond_set_led_red(const json_t *request, char *resp, int size);
int hwmond_set_leds_flash(const json_t *request, char *resp, int size);
int hwmond_get_leds(const json_t *request, char *resp, int size);
int hwmond_set_leds(const json_t *request, char *resp, int size);

// hash_boards.cpp
int hwmond_get_hash_boards(const json_t *request, char *resp, int size);
int hwmond_set_hb(const json_t *request, char *resp, int size);

// eeprom.cpp
int hwmond_get_eeprom(const json_t *request, char *resp, int size);
int hwmond_set_eeprom(const json_t *request, char *resp, int size);

}  // namespace hwmond
