// The in-memory device files behind kx_hwmond's sysfs access functions, its
// quiet log, and the reset of the files and the state record between inputs.
#include "hwmond_machine.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "discovery.h"
#include "fake_shell.h"
#include "fuzz_check.h"
#include "hwmond_log.h"
#include "hwmond_state.h"
#include "sysfs_io.h"

namespace {

// A device text with quotes, escapes, control and non-UTF-8 bytes, format
// directives and no newline within the 32 bytes a value travels in.
const std::string kOddText = "a\"b\\c\x01\x7f\xc3\x28\xff%s%n\t{}[]'`$(reboot);|&<>0123456789abcdefXYZ";

// One attribute of every device any profile has; a profile leaves some absent.
struct device_file {
	std::string value;
	bool present = false;
};
using file_table = std::map<std::string, device_file, std::less<>>;

// What discovery leaves for one profile: the files (in table order) and the
// state record's device indices. Restoring it is how an input starts.
struct booted_machine {
	std::vector<device_file> files;
	int psu_index = -1;
	char psu_model[hwmond::kTextSize] = {};
	std::array<int, 2> fan_index{-1, -1};
	std::array<int, hwmond::kSensorCount> sensor_index{};
};

// Profile bits that change the machine.
constexpr std::uint8_t kProfileBits = 0x3f;

struct machine {
	std::mutex lock;
	file_table files;
	std::map<int, file_table::iterator> open_files;
	int next_fd = 100;
	bool odd_texts = false;
	// Filled the first time a profile is booted, from a machine without any
	// input's changes, so every input of a profile starts alike.
	std::array<std::unique_ptr<booted_machine>, kProfileBits + 1> booted;
};

// Kept from input to input: an input's changes are undone at the next boot.
machine &m()
{
	static machine the_machine;
	return the_machine;
}

const char *const kPsuFiles[] = {
	"vol", "on", "vol_out1", "current_total", "power_total", "power_out", "power_version", "temp1",
	"current_in", "vol_in1", "power_model", "vol_out_min", "vol_out_max", "power_sn", "FANS_status",
	"POWER_status", "INPUT_status", "IOUT_status", "VOUT_status", "TEMP_status",
};

const int kGpioNumbers[] = {1, 2, 50, 51, 106, 107};

void add_gpio(std::map<std::string, std::string> &files, int number)
{
	const std::string dir = "/sys/class/gpio/gpio" + std::to_string(number);
	files[dir + "/direction"] = "in\n";
	files[dir + "/value"] = "0\n";
}

// The files a profile's machine has, with their first values.
void populate(std::map<std::string, std::string> &files, std::uint8_t profile)
{
	files.clear();
	files["/sys/class/gpio/export"] = "";
	if ((profile & hwmond_machine::kNoPsu) == 0) {
		for (const char *name : kPsuFiles)
			files[std::string("/sys/class/hwmon/hwmon1/") + name] = "12000\n";
		files["/sys/class/hwmon/hwmon1/power_model"] = "KX-PSU-3300\n";
	}
	if ((profile & hwmond_machine::kNoFans) == 0) {
		for (const char *dir : {"/sys/class/hwmon/hwmon2/", "/sys/class/hwmon/hwmon3/"}) {
			files[std::string(dir) + "pwm1"] = "4200\n";
			files[std::string(dir) + "pwm_user"] = "60\n";
		}
	}
	if ((profile & hwmond_machine::kNoSensors) == 0) {
		const char *const sensors[] = {"5-0048", "5-0049", "5-004a", "5-004c",
					       "4-0048", "4-0049", "4-004a", "4-004c"};
		int index = 4;
		for (const char *sensor : sensors)
			files[std::string("/sys/bus/i2c/devices/") + sensor + "/hwmon/hwmon" +
			      std::to_string(index++ % 8) + "/temp1_input"] = "45125\n";
	}
	if ((profile & hwmond_machine::kNoEeproms) == 0) {
		for (const char *path : {"/sys/bus/i2c/devices/5-0050/kx_eeprom", "/sys/bus/i2c/devices/4-0050/kx_eeprom"}) {
			std::string image(hwmond::kEepromWindow, '\0');
			for (std::size_t i = 0; i < image.size(); ++i)
				image[i] = static_cast<char>(i * 7 + 3);
			files[path] = image;
		}
	}
	if ((profile & hwmond_machine::kGpiosNotExported) == 0)
		for (int number : kGpioNumbers)
			add_gpio(files, number);
}

// The table of every file, made once: profile 0 has them all.
void make_table(file_table &table)
{
	std::map<std::string, std::string> all;
	populate(all, 0);
	for (auto &[path, value] : all)
		table.emplace(path, device_file{value, false});
}

// The table as the profile's machine starts, before discovery.
void set_profile_files(file_table &table, std::uint8_t profile)
{
	std::map<std::string, std::string> own;
	populate(own, profile);
	std::map<std::string, std::string> all;
	populate(all, 0);
	for (auto &[path, file] : table) {
		auto found = own.find(path);
		file.present = found != own.end();
		file.value = file.present ? found->second : all[path];
	}
}

// A file, or a directory with a file in it.
bool exists(const machine &mm, std::string_view path)
{
	for (auto at = mm.files.lower_bound(path); at != mm.files.end() && at->first.compare(0, path.size(), path) == 0; ++at)
		if (at->second.present && (at->first.size() == path.size() || at->first[path.size()] == '/'))
			return true;
	return false;
}

int open_file(const char *path)
{
	machine &mm = m();
	std::lock_guard<std::mutex> hold(mm.lock);
	auto file = mm.files.find(std::string_view(path));
	if (file == mm.files.end() || !file->second.present)
		return -1;
	const int fd = mm.next_fd++;
	mm.open_files.emplace(fd, file);
	return fd;
}

void close_file(int fd)
{
	machine &mm = m();
	std::lock_guard<std::mutex> hold(mm.lock);
	FUZZ_CHECK(mm.open_files.erase(fd) == 1, "only open descriptors are closed");
}

// Sysfs semantics: a write replaces the value; an export creates the line's files.
int write_file(const char *path, const char *bytes, std::size_t len)
{
	machine &mm = m();
	std::lock_guard<std::mutex> hold(mm.lock);
	auto file = mm.files.find(std::string_view(path));
	if (file == mm.files.end() || !file->second.present)
		return -1;
	file->second.value.assign(bytes, len);
	if (std::strcmp(path, "/sys/class/gpio/export") == 0) {
		const std::string_view number(bytes, len);
		for (int known : kGpioNumbers) {
			if (number != std::to_string(known))
				continue;
			const std::string dir = "/sys/class/gpio/gpio" + std::to_string(known);
			mm.files[dir + "/direction"] = device_file{"in\n", true};
			mm.files[dir + "/value"] = device_file{"0\n", true};
		}
	}
	return static_cast<int>(len);
}

void quiet(const char *fmt, va_list ap)
{
	char line[1024];
	std::vsnprintf(line, sizeof line, fmt, ap);
}

} // namespace

namespace hwmond {

int kx_hwmond_set(const char *path, const char *text)
{
	if (text == nullptr)
		return -1;
	return write_file(path, text, strnlen(text, kTextSize)) < 0 ? -1 : 0;
}

int kx_hwmond_get(const char *path, char *buffer)
{
	if (buffer == nullptr)
		return -1;
	std::memset(buffer, 0, kTextSize);
	machine &mm = m();
	std::lock_guard<std::mutex> hold(mm.lock);
	auto file = mm.files.find(std::string_view(path));
	if (file == mm.files.end() || !file->second.present)
		return -1;
	const std::string &value = mm.odd_texts ? kOddText : file->second.value;
	const std::size_t len = value.size() < kTextSize - 1 ? value.size() : kTextSize - 1;
	std::memcpy(buffer, value.data(), len);
	if (char *newline = static_cast<char *>(std::memchr(buffer, '\n', len)))
		std::memset(newline, 0, static_cast<std::size_t>(buffer + kTextSize - newline));
	return 0;
}

bool path_present(const char *path)
{
	machine &mm = m();
	std::lock_guard<std::mutex> hold(mm.lock);
	return exists(mm, path);
}

bool path_accessible(const char *path)
{
	return path_present(path);
}

int gpio_export(const char *number_text)
{
	return write_file("/sys/class/gpio/export", number_text, std::strlen(number_text)) < 0 ? -1 : 0;
}

int gpio_direction_out(const char *direction_path)
{
	static const char out_text[4] = {'o', 'u', 't', '\0'};
	return write_file(direction_path, out_text, sizeof out_text) < 0 ? -1 : 0;
}

gpio_value::gpio_value(const char *value_path) : path_(value_path), fd_(open_file(value_path)), opened_(fd_ >= 0)
{
}

gpio_value::~gpio_value()
{
	if (fd_ >= 0)
		close_file(fd_);
}

int gpio_value::put(char level)
{
	if (!opened_)
		return -1;
	if (fd_ >= 0)
		close_file(fd_);
	fd_ = -1;
	return write_file(path_, &level, 1) == 1 ? 0 : -1;
}

int eeprom_open(const char *attribute_path)
{
	return open_file(attribute_path);
}

ssize_t eeprom_read_at(int fd, long offset, unsigned char *bytes, size_t count)
{
	machine &mm = m();
	std::lock_guard<std::mutex> hold(mm.lock);
	auto open = mm.open_files.find(fd);
	FUZZ_CHECK(open != mm.open_files.end(), "EEPROM reads go to an open descriptor");
	const std::string &image = open->second->second.value;
	FUZZ_CHECK(offset >= 0 && static_cast<std::size_t>(offset) + count <= image.size(),
		   "EEPROM reads stay within the window");
	std::memcpy(bytes, image.data() + offset, count);
	return static_cast<ssize_t>(count);
}

ssize_t eeprom_write_at(int fd, long offset, const unsigned char *bytes, size_t count)
{
	machine &mm = m();
	std::lock_guard<std::mutex> hold(mm.lock);
	auto open = mm.open_files.find(fd);
	FUZZ_CHECK(open != mm.open_files.end(), "EEPROM writes go to an open descriptor");
	std::string &image = open->second->second.value;
	FUZZ_CHECK(offset >= 0 && static_cast<std::size_t>(offset) + count <= image.size(),
		   "EEPROM writes stay within the window");
	std::memcpy(&image[static_cast<std::size_t>(offset)], bytes, count);
	return static_cast<ssize_t>(count);
}

void eeprom_close(int fd)
{
	if (fd >= 0)
		close_file(fd);
}

void run_shell(const char *command)
{
	fuzz_services::check_shell_command(command);
}

void log_open() {}
void out_flush() {}

#define QUIET_LOG(name)                         \
	void name(const char *fmt, ...)         \
	{                                       \
		va_list ap;                     \
		va_start(ap, fmt);              \
		quiet(fmt, ap);                 \
		va_end(ap);                     \
	}
QUIET_LOG(out)
QUIET_LOG(out_now)
QUIET_LOG(err)
QUIET_LOG(note)
QUIET_LOG(syslog_only)
#undef QUIET_LOG

} // namespace hwmond

namespace hwmond_machine {

namespace {

void stop_led_threads()
{
	hwmond::state &s = hwmond::hw();
	s.led_thread.stop = 1;
	s.flash.stop = 1;
	if (s.led_thread.joinable)
		pthread_join(s.led_thread.thread, nullptr);
	if (s.flash.joinable)
		pthread_join(s.flash.thread, nullptr);
	s.led_thread.joinable = false;
	s.flash.joinable = false;
}

void reset_state()
{
	hwmond::state &s = hwmond::hw();
	s.psu_index = -1;
	std::memset(s.psu_model, 0, sizeof s.psu_model);
	s.fan_index = {-1, -1};
	for (hwmond::led_entry &led : s.leds)
		led.last_value = 0;
	for (hwmond::temp_sensor &sensor : s.sensors)
		sensor.hwmon_index = -1;
	for (hwmond::eeprom_entry &eeprom : s.eeproms)
		eeprom.fd = -1;
	for (std::atomic<int> *field : {&s.flash.active, &s.flash.blue, &s.flash.red, &s.flash.mode, &s.flash.count,
					&s.flash.stop, &s.led_thread.mode, &s.led_thread.stop, &s.led_thread.running})
		*field = 0;
}

// Discovery on the profile's fresh files, and what it left.
std::unique_ptr<booted_machine> discover(machine &mm, std::uint8_t profile)
{
	set_profile_files(mm.files, profile);
	reset_state();
	hwmond::discover_devices();
	hwmond::release_devices();
	auto booted = std::make_unique<booted_machine>();
	for (const auto &entry : mm.files)
		booted->files.push_back(entry.second);
	const hwmond::state &s = hwmond::hw();
	booted->psu_index = s.psu_index;
	std::memcpy(booted->psu_model, s.psu_model, sizeof booted->psu_model);
	booted->fan_index = s.fan_index;
	for (std::size_t i = 0; i < s.sensors.size(); ++i)
		booted->sensor_index[i] = s.sensors[i].hwmon_index;
	return booted;
}

// Puts back what an input changed: file values and presence, then the state record.
void restore(machine &mm, const booted_machine &booted)
{
	std::size_t i = 0;
	for (auto &entry : mm.files) {
		const device_file &first = booted.files[i++];
		entry.second.present = first.present;
		if (entry.second.value != first.value)
			entry.second.value.assign(first.value);
	}
	reset_state();
	hwmond::state &s = hwmond::hw();
	s.psu_index = booted.psu_index;
	std::memcpy(s.psu_model, booted.psu_model, sizeof s.psu_model);
	s.fan_index = booted.fan_index;
	for (std::size_t k = 0; k < s.sensors.size(); ++k)
		s.sensors[k].hwmon_index = booted.sensor_index[k];
	hwmond::kx_eeprom_init();
}

} // namespace

void boot(std::uint8_t profile)
{
	machine &mm = m();
	if (mm.files.empty())
		make_table(mm.files);
	mm.odd_texts = (profile & kOddTexts) != 0;
	std::unique_ptr<booted_machine> &booted = mm.booted[profile & kProfileBits];
	if (!booted)
		booted = discover(mm, profile & kProfileBits);
	restore(mm, *booted);
}

void shut_down()
{
	stop_led_threads();
	hwmond::release_devices();
	FUZZ_CHECK(m().open_files.empty(), "no device descriptor stays open after release");
}

} // namespace hwmond_machine
