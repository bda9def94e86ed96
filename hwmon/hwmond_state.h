// The process-wide device tables and thread records of kx_hwmond.
#pragma once

#include <pthread.h>

#include <array>
#include <atomic>

namespace hwmond {

inline constexpr int kTextSize = 32;  // every attribute value travels in 32 bytes
inline constexpr int kSensorCount = 8;
inline constexpr int kEepromCount = 2;
inline constexpr int kEepromWindow = 256;

struct gpio_line {
	const char *direction_path;
	const char *value_path;
	const char *number_text;
	int number;
};

struct led_entry {
	gpio_line gpio;
	std::atomic<int> last_value{0};  // last value of a steady set
};

struct hash_board_line {
	const char *name;
	gpio_line gpio;
};

struct temp_sensor {
	const char *hwmon_dir;
	int bus;
	int address;
	int hwmon_index = -1;
};

struct eeprom_entry {
	const char *attribute_path;
	int bus;
	int address;
	int fd = -1;
};

// Shared between the bus thread and the flash thread; the fields are polled, not locked.
struct flash_record {
	pthread_t thread{};
	bool joinable = false;         // bus thread only: a started thread not yet joined
	std::atomic<int> active{0};    // stands for the thread handle: 0 when no flash thread runs
	std::atomic<int> blue{0};
	std::atomic<int> red{0};
	std::atomic<int> mode{0};
	std::atomic<int> count{0};
	std::atomic<int> stop{0};
};

struct led_thread_record {
	pthread_t thread{};
	bool joinable = false;  // bus thread only
	std::atomic<int> mode{0};
	std::atomic<int> stop{0};
	std::atomic<int> running{0};
};

struct state {
	int psu_index = -1;
	char psu_model[kTextSize] = {};
	std::array<int, 2> fan_index{-1, -1};  // fan 0 "inlet", fan 1 "outlet"
	std::array<led_entry, 2> leds{{
		{{"/sys/class/gpio/gpio1/direction", "/sys/class/gpio/gpio1/value", "1", 1}},
		{{"/sys/class/gpio/gpio2/direction", "/sys/class/gpio/gpio2/value", "2", 2}},
	}};
	std::array<hash_board_line, 4> hash_boards{{
		{"hash_board1", {"/sys/class/gpio/gpio50/direction", "/sys/class/gpio/gpio50/value", "50", 50}},
		{"hash_board2", {"/sys/class/gpio/gpio51/direction", "/sys/class/gpio/gpio51/value", "51", 51}},
		{"hash_board3", {"/sys/class/gpio/gpio106/direction", "/sys/class/gpio/gpio106/value", "106", 106}},
		{"hash_board4", {"/sys/class/gpio/gpio107/direction", "/sys/class/gpio/gpio107/value", "107", 107}},
	}};
	std::array<temp_sensor, kSensorCount> sensors{{
		{"/sys/bus/i2c/devices/5-0048/hwmon", 5, 0x48},
		{"/sys/bus/i2c/devices/5-0049/hwmon", 5, 0x49},
		{"/sys/bus/i2c/devices/5-004a/hwmon", 5, 0x4a},
		{"/sys/bus/i2c/devices/5-004c/hwmon", 5, 0x4c},
		{"/sys/bus/i2c/devices/4-0048/hwmon", 4, 0x48},
		{"/sys/bus/i2c/devices/4-0049/hwmon", 4, 0x49},
		{"/sys/bus/i2c/devices/4-004a/hwmon", 4, 0x4a},
		{"/sys/bus/i2c/devices/4-004c/hwmon", 4, 0x4c},
	}};
	std::array<eeprom_entry, kEepromCount> eeproms{{
		{"/sys/bus/i2c/devices/5-0050/kx_eeprom", 5, 0x50},
		{"/sys/bus/i2c/devices/4-0050/kx_eeprom", 4, 0x50},
	}};
	flash_record flash;
	led_thread_record led_thread;
};

// The one state record of the process.
state &hw();

// A hwmon index of 0 or less counts as absent for every PSU and fan operation.
inline bool hwmon_present(int index) { return index > 0; }

}  // namespace hwmond
