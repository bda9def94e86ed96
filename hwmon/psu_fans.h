// PSU and fan attribute operations of kx_hwmond over the hwmon sysfs interface.
#pragma once

#include <stddef.h>

namespace hwmond {

// Writers return 0 in every case; the write's own result is only printed.
int set_power_voltage(const char *text);
int set_power_en(const char *text);

// Readers fill a zero-filled 32-byte buffer when the PSU is present and return 0.
int get_power_voltage(char *buffer);
int get_power_current(char *buffer);
int get_total_power(char *buffer);
int get_output_power(char *buffer);
int get_power_version(char *buffer);
int get_power_model(char *buffer);  // also refreshes the model cache and /userdata/psu.info
int get_power_temp(char *buffer);
int get_input_vol(char *buffer);
int get_input_cur(char *buffer);
int get_power_attribute(const char *name, char *buffer);

// Writes "model=<model>" to /userdata/psu.info through the shell; nothing for an empty model.
void write_psu_info(const char *model);
// The shell command that writes the model file, quoted so that the model stays one word.
// Returns false when it does not fit.
bool psu_info_command(const char *model, char *command, size_t size);

// Writes the duty texts to fan 0's and fan 1's "pwm1"; 0, or the first failed write's result.
int set_fan_duty(const char *inlet, const char *outlet);
void get_fan_duty(char *inlet, char *outlet);
void get_fan_speed(char *inlet, char *outlet);

}  // namespace hwmond
