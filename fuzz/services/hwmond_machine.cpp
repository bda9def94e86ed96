// The in-memory device files behind kx_hwmond's sysfs access functions, its
// quiet log, and the reset of its state record between inputs.
#include "hwmond_machine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

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

struct machine {
	std::mutex lock;
	std::map<std::string, std::string> files;
	std::map<int, std::string> open_files;
	int next_fd = 100;
	bool odd_texts = false;
};

// Made at boot and dropped at shut-down, so an input frees all it allocates
// (libFuzzer runs a leak check after every input that does not).
std::optional<machine> g_machine;

machine &m()
{
	return *g_machine;
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

bool exists(const machine &mm, const std::string &path)
{
	if (mm.files.count(path) != 0)
		return true;
	auto next = mm.files.lower_bound(path + "/");
	return next != mm.files.end() && next->first.compare(0, path.size() + 1, path + "/") == 0;
}

int open_file(const char *path)
{
	machine &mm = m();
	std::lock_guard<std::mutex> hold(mm.lock);
	if (mm.files.count(path) == 0)
		return -1;
	const int fd = mm.next_fd++;
	mm.open_files[fd] = path;
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
	auto file = mm.files.find(path);
	if (file == mm.files.end())
		return -1;
	file->second.assign(bytes, len);
	if (std::strcmp(path, "/sys/class/gpio/export") == 0) {
		const std::string number(bytes, len);
		for (int known : kGpioNumbers)
			if (number == std::to_string(known))
				add_gpio(mm.files, known);
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
	auto file = mm.files.find(path);
	if (file == mm.files.end())
		return -1;
	const std::string &value = mm.odd_texts ? kOddText : file->second;
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
	const std::string &image = mm.files[open->second];
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
	std::string &image = mm.files[open->second];
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

} // namespace

void boot(std::uint8_t profile)
{
	machine &mm = g_machine.emplace();
	populate(mm.files, profile);
	mm.odd_texts = (profile & kOddTexts) != 0;
	reset_state();
	hwmond::discover_devices();
}

void shut_down()
{
	stop_led_threads();
	hwmond::release_devices();
	FUZZ_CHECK(m().open_files.empty(), "no device descriptor stays open after release");
	g_machine.reset();
}

} // namespace hwmond_machine
