// PSU and fan attributes: "/sys/class/hwmon/hwmon%d/<attribute>".
#include "psu_fans.h"

#include <stdio.h>
#include <string.h>

#include "hwmond_log.h"
#include "hwmond_state.h"
#include "sysfs_io.h"

namespace hwmond {

namespace {

constexpr size_t kPathSize = 128;

bool psu_path(const char *file, char *path)
{
	int n = snprintf(path, kPathSize, "/sys/class/hwmon/hwmon%d/%s", hw().psu_index, file);
	return n > 0 && (size_t)n < kPathSize;
}

void psu_write(const char *op, const char *file, const char *absent_message, const char *text)
{
	if (!hwmon_present(hw().psu_index)) {
		note("%s\n", absent_message);
		return;
	}
	char path[kPathSize];
	if (!psu_path(file, path))
		return;
	out("%s reg dev: %s.\n", op, path);
	kx_hwmond_set(path, text);  // a failed write is printed there and not reported
}

int psu_read(const char *op, const char *file, const char *absent_message, char *buffer)
{
	if (!hwmon_present(hw().psu_index)) {
		if (absent_message != nullptr)
			note("%s\n", absent_message);
		return 0;
	}
	char path[kPathSize];
	if (!psu_path(file, path))
		return 0;
	out("%s reg dev: %s.\n", op, path);
	kx_hwmond_get(path, buffer);
	return 0;
}

void fan_path(int index, const char *file, char *path)
{
	snprintf(path, kPathSize, "/sys/class/hwmon/hwmon%d/%s", index, file);
}

void fan_read(const char *file, char *inlet, char *outlet)
{
	char *targets[2] = {inlet, outlet};
	for (int fan = 0; fan < 2; fan++) {
		if (!hwmon_present(hw().fan_index[fan]))
			continue;
		char path[kPathSize];
		fan_path(hw().fan_index[fan], file, path);
		kx_hwmond_get(path, targets[fan]);
	}
}

}  // namespace

int set_power_voltage(const char *text)
{
	psu_write("set_power_voltage", "vol", "set_power_voltage no power exist.", text);
	return 0;
}

int set_power_en(const char *text)
{
	psu_write("set_power_en", "on", "set_power_en no power exist.", text);
	return 0;
}

int get_power_voltage(char *buffer)
{
	return psu_read("get_power_voltage", "vol_out1", "get_power_voltage no power exist.", buffer);
}

int get_power_current(char *buffer) { return psu_read("get_power_current", "current_total", nullptr, buffer); }
int get_total_power(char *buffer) { return psu_read("get_total_power", "power_total", nullptr, buffer); }
int get_output_power(char *buffer) { return psu_read("get_output_power", "power_out", nullptr, buffer); }
int get_power_version(char *buffer) { return psu_read("get_power_version", "power_version", nullptr, buffer); }
int get_power_temp(char *buffer) { return psu_read("get_power_temp", "temp1", nullptr, buffer); }
int get_input_cur(char *buffer) { return psu_read("get_input_cur", "current_in", nullptr, buffer); }

int get_input_vol(char *buffer)
{
	return psu_read("get_input_vol", "vol_in1", "get_input_vol no power exist.", buffer);
}

int get_power_attribute(const char *name, char *buffer)
{
	return psu_read("get_power_temp", name, nullptr, buffer);
}

int get_power_model(char *buffer)
{
	psu_read("get_power_model", "power_model", nullptr, buffer);
	char *cache = hw().psu_model;
	if (buffer[0] != '\0' && strncmp(buffer, cache, kTextSize) != 0) {
		memcpy(cache, buffer, kTextSize);
		cache[kTextSize - 1] = '\0';
		write_psu_info(cache);
	}
	return 0;
}

bool psu_info_command(const char *model, char *command, size_t size)
{
	// Single quotes keep shell characters of a device text from being run; a quote
	// inside the model is closed, escaped and reopened.
	size_t o = 0;
	auto put = [&](const char *s) {
		size_t len = strlen(s);
		if (o + len >= size)
			return false;
		memcpy(command + o, s, len);
		o += len;
		return true;
	};
	if (!put("echo  'model="))
		return false;
	for (size_t i = 0; i < kTextSize && model[i] != '\0'; i++) {
		char one[2] = {model[i], '\0'};
		if (!put(model[i] == '\'' ? "'\\''" : one))
			return false;
	}
	if (!put("' > /userdata/psu.info \n"))
		return false;
	command[o] = '\0';
	return true;
}

void write_psu_info(const char *model)
{
	if (model == nullptr || model[0] == '\0')
		return;
	char command[256];
	if (!psu_info_command(model, command, sizeof command))
		return;
	run_shell(command);
}

int set_fan_duty(const char *inlet, const char *outlet)
{
	const char *texts[2] = {inlet, outlet};
	for (int fan = 0; fan < 2; fan++) {
		if (!hwmon_present(hw().fan_index[fan]))
			continue;
		char path[kPathSize];
		fan_path(hw().fan_index[fan], "pwm1", path);
		int ret = kx_hwmond_set(path, texts[fan]);
		if (ret < 0) {
			out("set_fan_duty error %d!\n", ret);
			return ret;
		}
	}
	return 0;
}

void get_fan_duty(char *inlet, char *outlet) { fan_read("pwm_user", inlet, outlet); }
void get_fan_speed(char *inlet, char *outlet) { fan_read("pwm1", inlet, outlet); }

}  // namespace hwmond
