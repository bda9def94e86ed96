// Start-up discovery: finds the devices once; later arrivals need a restart.
#include "discovery.h"

#include <stdio.h>
#include <string.h>

#include "hwmond_log.h"
#include "hwmond_state.h"
#include "psu_fans.h"
#include "sysfs_io.h"

namespace hwmond {

namespace {

constexpr int kHwmonSearch = 8;

// First n in [from, 8) whose "/sys/class/hwmon/hwmon<n>/<file>" is present, or -1.
int find_hwmon(const char *file, int from, char *path, size_t path_size)
{
	for (int n = from; n < kHwmonSearch; n++) {
		snprintf(path, path_size, "/sys/class/hwmon/hwmon%d/%s", n, file);
		if (path_present(path))
			return n;
	}
	return -1;
}

// Exports the GPIOs whose direction file is missing; a failed export skips the rest.
template <typename Entries, typename Line>
void export_gpios(const Entries &entries, Line line_of, const char *done_message)
{
	for (const auto &entry : entries) {
		const gpio_line &gpio = line_of(entry);
		if (!path_accessible(gpio.direction_path) && gpio_export(gpio.number_text) < 0)
			return;
		out("%s\n", done_message);
		syslog_only("%s\n", done_message);
	}
}

}  // namespace

void kx_reg_init()
{
	char path[96];
	int n = find_hwmon("vol", 0, path, sizeof path);
	if (n < 0)
		return;
	note("kx_reg_init find reg dev:%d name %s.\n", n, path);
	state &s = hw();
	s.psu_index = n;
	memset(s.psu_model, 0, sizeof s.psu_model);
	char model[kTextSize] = {};
	get_power_model(model);
	note("kx_reg_init find psu model %s.\n", s.psu_model);
	write_psu_info(s.psu_model);
}

void kx_temp_init()
{
	for (temp_sensor &sensor : hw().sensors) {
		if (!path_present(sensor.hwmon_dir))
			continue;
		for (int i = 0; i < kHwmonSearch; i++) {
			char path[96];
			snprintf(path, sizeof path, "/sys/bus/i2c/devices/%d-00%02x/hwmon/hwmon%d/temp1_input",
				 sensor.bus, sensor.address, i);
			if (path_present(path))
				sensor.hwmon_index = i;  // the highest present index wins
		}
	}
}

void kx_fan_init()
{
	state &s = hw();
	int from = 0;
	for (int fan = 0; fan < 2; fan++) {
		char path[96];
		int n = find_hwmon("pwm1", from, path, sizeof path);
		if (n < 0)
			return;
		s.fan_index[(size_t)fan] = n;
		note("kx_fan_init fan rpm dev:%d name %s %d.\n", fan, path, n);
		from = n + 1;
	}
}

void kx_eeprom_init()
{
	for (int index = 0; index < kEepromCount; index++) {
		eeprom_entry &eeprom = hw().eeproms[(size_t)index];
		int fd = eeprom_open(eeprom.attribute_path);
		if (fd >= 0)
			eeprom.fd = fd;
		else
			note("kx_eeprom_init dev:%d error %d.\n", index, fd);
	}
}

void kx_led_init()
{
	export_gpios(hw().leds, [](const led_entry &led) -> const gpio_line & { return led.gpio; },
		     "kx_led_init init gpios.");
}

void kx_hb_init()
{
	export_gpios(hw().hash_boards,
		     [](const hash_board_line &board) -> const gpio_line & { return board.gpio; },
		     "kx_hb_init init gpios.");
}

void discover_devices()
{
	kx_reg_init();
	kx_temp_init();
	kx_fan_init();
	kx_eeprom_init();
	kx_led_init();
	kx_hb_init();
}

void release_devices()
{
	for (eeprom_entry &eeprom : hw().eeproms) {
		eeprom_close(eeprom.fd);
		eeprom.fd = -1;
	}
}

}  // namespace hwmond
