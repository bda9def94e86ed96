// The only code of kx_hwmond that opens, reads and writes device files.
#pragma once

#include <stddef.h>
#include <sys/types.h>

namespace hwmond {

// Writes at most the first 32 bytes of text to path; 0, -1, or the failed write's result.
int kx_hwmond_set(const char *path, const char *text);
// Fills the 32-byte buffer from path, always terminated and cut at its first newline; 0 or -1.
int kx_hwmond_get(const char *path, char *buffer);

// A path counts as present unless access() says it or a parent is missing.
bool path_present(const char *path);
bool path_accessible(const char *path);

// Writes the GPIO number text to /sys/class/gpio/export; 0 or -1.
int gpio_export(const char *number_text);
// Writes "out" with its terminating NUL to a GPIO direction file; 0 or -1.
int gpio_direction_out(const char *direction_path);
// A GPIO value file, opened on construction; each put writes one character and closes
// the file, so that every level reaches the driver as a write of its own.
class gpio_value {
public:
	explicit gpio_value(const char *value_path);
	~gpio_value();
	gpio_value(const gpio_value &) = delete;
	gpio_value &operator=(const gpio_value &) = delete;
	bool ok() const { return opened_; }
	int put(char level);

private:
	const char *path_;
	int fd_;
	bool opened_;
};

// EEPROM attribute descriptor access at an absolute offset; number of bytes moved or -1.
int eeprom_open(const char *attribute_path);
ssize_t eeprom_read_at(int fd, long offset, unsigned char *bytes, size_t count);
ssize_t eeprom_write_at(int fd, long offset, const unsigned char *bytes, size_t count);
void eeprom_close(int fd);

// Runs a command text with the system shell.
void run_shell(const char *command);

}  // namespace hwmond
