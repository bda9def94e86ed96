// Device-file access of kx_hwmond: one attribute read or written per call.
#include "sysfs_io.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "hwmond_log.h"
#include "hwmond_state.h"

namespace hwmond {

int kx_hwmond_set(const char *path, const char *text)
{
	if (text == nullptr) {
		out("in_buff null\n");
		return -1;
	}
	size_t len = strnlen(text, kTextSize);
	// The whole text is shown; only its first 32 bytes are written.
	out("kx_hwmond_set path %s buf %s len %d.\n", path, text, (int)len);
	int fd = open(path, O_WRONLY | O_CLOEXEC);
	if (fd < 0) {
		out("kx_hwmond_set open %s error!\n", path);
		return -1;
	}
	ssize_t ret = write(fd, text, len);
	int saved = errno;
	close(fd);
	if (ret < 0) {
		out("kx_hwmond_set write device file ret %d error %d!\n", (int)ret, saved);
		return (int)ret;
	}
	return 0;
}

int kx_hwmond_get(const char *path, char *buffer)
{
	if (buffer == nullptr) {
		out("out_buff null\n");
		return -1;
	}
	memset(buffer, 0, kTextSize);
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		out("kx_hwmond_get open %s error!\n", path);
		return -1;
	}
	// One byte short of the buffer, so that a long value stays terminated.
	ssize_t ret = read(fd, buffer, kTextSize - 1);
	close(fd);
	if (ret < 0) {
		memset(buffer, 0, kTextSize);
		out("read device file error!\n");
		return -1;
	}
	// Drivers end their values with a newline; the value is what comes before it.
	char *newline = static_cast<char *>(memchr(buffer, '\n', (size_t)ret));
	if (newline != nullptr)
		memset(newline, 0, (size_t)(buffer + kTextSize - newline));
	out("kx_hwmond_get read buffer %s.\n", buffer);
	return 0;
}

bool path_present(const char *path)
{
	if (access(path, F_OK) == 0)
		return true;
	return errno != ENOENT && errno != ENOTDIR;
}

bool path_accessible(const char *path) { return access(path, F_OK) == 0; }

int gpio_export(const char *number_text)
{
	int fd = open("/sys/class/gpio/export", O_WRONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	size_t len = strlen(number_text);
	ssize_t ret = write(fd, number_text, len);
	close(fd);
	return ret == (ssize_t)len ? 0 : -1;
}

int gpio_direction_out(const char *direction_path)
{
	int fd = open(direction_path, O_WRONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	static const char out_text[4] = {'o', 'u', 't', '\0'};
	ssize_t ret = write(fd, out_text, sizeof out_text);
	close(fd);
	return ret < 0 ? -1 : 0;
}

gpio_value::gpio_value(const char *value_path)
	: path_(value_path), fd_(open(value_path, O_WRONLY | O_CLOEXEC)), opened_(fd_ >= 0)
{
}

gpio_value::~gpio_value()
{
	if (fd_ >= 0)
		close(fd_);
}

int gpio_value::put(char level)
{
	if (!opened_)
		return -1;
	if (fd_ < 0)
		fd_ = open(path_, O_WRONLY | O_CLOEXEC);
	if (fd_ < 0)
		return -1;
	ssize_t ret = write(fd_, &level, 1);
	close(fd_);
	fd_ = -1;
	return ret == 1 ? 0 : -1;
}

int eeprom_open(const char *attribute_path) { return open(attribute_path, O_RDWR | O_CLOEXEC); }

ssize_t eeprom_read_at(int fd, long offset, unsigned char *bytes, size_t count)
{
	size_t done = 0;
	while (done < count) {
		ssize_t ret = pread(fd, bytes + done, count - done, offset + (off_t)done);
		if (ret < 0 && errno == EINTR)
			continue;
		if (ret <= 0)
			return done > 0 ? (ssize_t)done : ret;
		done += (size_t)ret;
	}
	return (ssize_t)done;
}

ssize_t eeprom_write_at(int fd, long offset, const unsigned char *bytes, size_t count)
{
	size_t done = 0;
	while (done < count) {
		ssize_t ret = pwrite(fd, bytes + done, count - done, offset + (off_t)done);
		if (ret < 0 && errno == EINTR)
			continue;
		if (ret <= 0)
			return done > 0 ? (ssize_t)done : ret;
		done += (size_t)ret;
	}
	return (ssize_t)done;
}

void eeprom_close(int fd)
{
	if (fd >= 0)
		close(fd);
}

void run_shell(const char *command)
{
	int status = system(command);
	(void)status;  // the command's result is not examined
}

}  // namespace hwmond
