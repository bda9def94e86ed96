// The few functions of resetkeyd that touch descriptors, the shell and the clock.
#include "rk_io.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "rk_log.h"

int uio_open(const char *path)
{
	return open(path, O_RDWR | O_CLOEXEC);
}

long uio_arm(int fd)
{
	const uint32_t enable = 1;
	return write(fd, &enable, sizeof(enable));
}

long uio_wait(int fd, int *count)
{
	int32_t info = 0;
	const long nb = read(fd, &info, sizeof(info));
	*count = info;
	return nb;
}

int gpio_get_value(int line)
{
	char path[64];
	std::snprintf(path, sizeof(path), "/sys/devices/platform/pinctrl/gpio/gpio%d/value", line);
	const int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		log_line("fail to open %s!", path);
		return -1;
	}
	char text[5] = "0";  // one byte more than is read, so the text always ends
	const long nb = read(fd, text, 4);
	close(fd);
	if (nb < 0)
		return -1;
	return std::atoi(text);
}

int gpio_read_direction(const char *path, char (&text)[9])
{
	std::memset(text, 0, sizeof(text));
	const int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	if (read(fd, text, sizeof(text) - 1) < 0)
		text[0] = '\0';
	close(fd);
	return 0;
}

void gpio_export(const char *number_text)
{
	const int fd = open("/sys/class/gpio/export", O_WRONLY | O_CLOEXEC);
	if (fd < 0)
		return;
	if (write(fd, number_text, std::strlen(number_text) + 1) < 0) {
		// the line's direction file is opened next; its absence is what gets logged
	}
	close(fd);
}

void run_shell(const char *command)
{
	if (std::system(command) < 0) {
		// fire and forget: the command's result is not examined
	}
}

long long now_ms()
{
	struct timeval tv {};
	gettimeofday(&tv, nullptr);
	return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

void pause_ms(int ms)
{
	struct timespec wait {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
	while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
	}
}
