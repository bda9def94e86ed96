/* libsoc GPIO over /sys/class/gpio: export, direction, value and unexport files. */
#include "libsoc_gpio.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#define GPIO_SYSFS "/sys/class/gpio"

static int write_text(const char *path, const char *text)
{
	int fd = open(path, O_WRONLY | O_SYNC | O_CLOEXEC);
	if (fd < 0)
		return -1;
	size_t len = strlen(text);
	ssize_t n = write(fd, text, len);
	int closed = close(fd);
	return n == (ssize_t)len && closed == 0 ? 0 : -1;
}

static int line_path(char *buf, size_t cap, unsigned int id, const char *file)
{
	int n = snprintf(buf, cap, GPIO_SYSFS "/gpio%u%s%s", id, file ? "/" : "", file ? file : "");
	return n > 0 && (size_t)n < cap ? 0 : -1;
}

static int line_exported(unsigned int id)
{
	char path[64];
	return line_path(path, sizeof path, id, "value") == 0 && access(path, F_OK) == 0;
}

static int write_line_number(const char *control, unsigned int id)
{
	char text[16];
	snprintf(text, sizeof text, "%u", id);
	return write_text(control, text);
}

gpio *libsoc_gpio_request(unsigned int gpio_id, gpio_mode mode)
{
	if (mode != LS_GPIO_SHARED && mode != LS_GPIO_GREEDY && mode != LS_GPIO_WEAK)
		mode = LS_GPIO_SHARED;
	int shared = 0;
	if (line_exported(gpio_id)) {
		if (mode == LS_GPIO_WEAK)
			return NULL;
		shared = mode == LS_GPIO_SHARED;
	} else if (write_line_number(GPIO_SYSFS "/export", gpio_id) != 0 || !line_exported(gpio_id)) {
		return NULL;
	}
	char path[64];
	if (line_path(path, sizeof path, gpio_id, "value") != 0)
		return NULL;
	int fd = open(path, O_RDWR | O_SYNC | O_CLOEXEC);
	if (fd < 0)
		return NULL;
	gpio *line = (gpio *)calloc(1, sizeof(gpio));
	if (line == NULL) {
		close(fd);
		return NULL;
	}
	line->gpio = gpio_id;
	line->value_fd = fd;
	line->shared = shared;
	return line;
}

int libsoc_gpio_free(gpio *line)
{
	if (line == NULL)
		return EXIT_FAILURE;
	int failed = close(line->value_fd) != 0;
	if (!line->shared && write_line_number(GPIO_SYSFS "/unexport", line->gpio) != 0)
		failed = 1;
	free(line);
	return failed ? EXIT_FAILURE : EXIT_SUCCESS;
}

int libsoc_gpio_set_direction(gpio *line, gpio_direction direction)
{
	char path[64];
	if (line == NULL || (direction != INPUT && direction != OUTPUT) ||
	    line_path(path, sizeof path, line->gpio, "direction") != 0)
		return EXIT_FAILURE;
	return write_text(path, direction == OUTPUT ? "out" : "in") == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

/* Reads a short attribute into text (terminated); 0 on success. */
static int read_text(const char *path, char *text, size_t cap)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	ssize_t n = read(fd, text, cap - 1);
	close(fd);
	if (n <= 0)
		return -1;
	text[n] = '\0';
	return 0;
}

gpio_direction libsoc_gpio_get_direction(gpio *line)
{
	char path[64], text[8];
	if (line == NULL || line_path(path, sizeof path, line->gpio, "direction") != 0 ||
	    read_text(path, text, sizeof text) != 0)
		return DIRECTION_ERROR;
	if (strncmp(text, "in", 2) == 0)
		return INPUT;
	return strncmp(text, "out", 3) == 0 ? OUTPUT : DIRECTION_ERROR;
}

int libsoc_gpio_set_level(gpio *line, gpio_level level)
{
	if (line == NULL || (level != LOW && level != HIGH))
		return EXIT_FAILURE;
	const char *text = level == HIGH ? "1" : "0";
	if (lseek(line->value_fd, 0, SEEK_SET) < 0 || write(line->value_fd, text, 1) != 1)
		return EXIT_FAILURE;
	return EXIT_SUCCESS;
}

gpio_level libsoc_gpio_get_level(gpio *line)
{
	char text[4] = {0};
	if (line == NULL || lseek(line->value_fd, 0, SEEK_SET) < 0 || read(line->value_fd, text, 1) != 1)
		return LEVEL_ERROR;
	return text[0] == '1' ? HIGH : text[0] == '0' ? LOW : LEVEL_ERROR;
}
