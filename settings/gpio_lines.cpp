// Sysfs GPIO lines driven by the settings service: the hash-board reset
// lines and the two status lines (those of the blue and red LEDs).
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "hw_access.h"
#include "svc_log.h"
#include "unique_fd.h"

namespace {

// "out" with its terminating zero, as the direction file takes it.
constexpr char kDirectionOut[] = "out";

struct status_line {
	const char *direction_path;
	const char *value_path;
	const char *name;
	int number;
	int last_level;
};

status_line g_status_lines[2] = {
	{"/sys/class/gpio/gpio1/direction", "/sys/class/gpio/gpio1/value", "1", 1, 0},
	{"/sys/class/gpio/gpio2/direction", "/sys/class/gpio/gpio2/value", "2", 2, 0},
};

bool write_all(int fd, const void *data, std::size_t len)
{
	return write(fd, data, len) == static_cast<ssize_t>(len);
}

} // namespace

void wait_ms(int ms)
{
	sqlite3_sleep(ms);
}

int reset_gpio_set(const char *number_text, int level)
{
	char path[64];
	std::snprintf(path, sizeof(path), "/sys/class/gpio/gpio%s/direction", number_text);
	if (access(path, F_OK) != 0) {
		unique_fd exporter(open("/sys/class/gpio/export", O_WRONLY));
		if (!exporter.valid()) {
			svc_log(kLogError, "Open gpio export file error ");
			svc_log(kLogError, "Can not export reset gpio ");
			return -1;
		}
		if (!write_all(exporter.get(), number_text, std::strlen(number_text))) {
			svc_log(kLogError, "Can not export GPIO%s ", number_text);
			svc_log(kLogError, "Can not export reset gpio ");
			return -1;
		}
	}

	{
		unique_fd direction(open(path, O_WRONLY));
		if (!direction.valid()) {
			svc_log(kLogError, "Can not open direction for gpio%s ", number_text);
			return -1;
		}
		if (!write_all(direction.get(), kDirectionOut, sizeof(kDirectionOut))) {
			svc_log(kLogError, "Can not set direction(out) for gpio%s ", number_text);
			return -1;
		}
	}

	std::snprintf(path, sizeof(path), "/sys/class/gpio/gpio%s/value", number_text);
	unique_fd value(open(path, O_WRONLY));
	if (!value.valid()) {
		svc_log(kLogError, "Can not open:%s ", path);
		return -1;
	}
	if (level != 0 && level != 1) {
		svc_log(kLogError, "Gpio%s value is not 0 or 1", number_text);
		return -1;
	}
	if (!write_all(value.get(), level == 0 ? "0" : "1", 1)) {
		svc_log(kLogError, "Can not set gpio%s value ", number_text);
		return -1;
	}
	return 0;
}

int hb_reset_pulse(const char *number_text, int pulse)
{
	if (reset_gpio_set(number_text, 0) != 0)
		return -1;
	if (pulse != 0) {
		wait_ms(3000);
		if (reset_gpio_set(number_text, 1) != 0)
			return -1;
	}
	wait_ms(100);
	return 0;
}

int status_gpio_set(int index, int level)
{
	if (index < 0 || index > 1)
		return -1;
	status_line &line = g_status_lines[index];
	unique_fd direction(open(line.direction_path, O_WRONLY));
	if (!direction.valid())
		return -1;
	if (!write_all(direction.get(), kDirectionOut, sizeof(kDirectionOut)))
		return -1;
	unique_fd value(open(line.value_path, O_WRONLY));
	if (!value.valid())
		return -2;
	line.last_level = level;
	// The lines are active low.
	if (level == 0)
		write_all(value.get(), "1", 1);
	else if (level == 1)
		write_all(value.get(), "0", 1);
	return 0;
}
