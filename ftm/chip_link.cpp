// Chip frames (0x55 read, 0x44 write, 0x90 broadcast) and board power through libsoc.
#include "chip_link.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <libsoc_gpio.h>

#include "ftm_log.h"
#include "ftm_state.h"
#include "serial_port.h"

namespace ftm {

namespace {

constexpr uint8_t kOpRead = 0x55, kOpWrite = 0x44, kOpBroadcast = 0x90;
constexpr int kRegReadWaitMs = 1000;

void write_frame(uint8_t *frame, uint8_t op, int chip, uint8_t reg, uint32_t value)
{
	frame[0] = op;
	frame[1] = 0;
	frame[2] = (uint8_t)chip;
	frame[3] = reg;
	for (int i = 0; i < 4; i++)
		frame[4 + i] = (uint8_t)(value >> (8 * i));
}

void set_board_power(int cn, gpio_level level)
{
	int line = enable_line(cn);
	gpio *en = libsoc_gpio_request((unsigned)line, LS_GPIO_SHARED);
	if (en == nullptr) {
		out("Failed to request gpio(%d) \n", line);
		return;
	}
	libsoc_gpio_set_direction(en, OUTPUT);
	libsoc_gpio_set_level(en, level);
	out(level == HIGH ? "Up board: %d \n" : "Down board: %d \n", cn);
	libsoc_gpio_free(en);
}

}  // namespace

void read_frame(uint8_t *frame, uint8_t reg, int chip)
{
	write_frame(frame, kOpRead, chip, reg, 0);
}

uint32_t reply_value(const uint8_t *frame)
{
	return (uint32_t)frame[3] | (uint32_t)frame[4] << 8 | (uint32_t)frame[5] << 16 | (uint32_t)frame[6] << 24;
}

int64_t chip_read_reg(int fd, uint8_t reg, int chip)
{
	uint8_t frame[kFrameLen];
	read_frame(frame, reg, chip);
	uart_send(fd, frame, sizeof(frame));
	uint8_t answer[kFrameLen] = {};
	if (uart_recv(fd, answer, sizeof(answer), kRegReadWaitMs) == -1)
		return -1;
	if (answer[0] != kReplyHeader) {
		out("Read bad. respHeader = 0x%x \n", answer[0]);
		return 0;  // a garbled reply shows no good cores
	}
	return reply_value(answer);
}

void chip_write_reg(int fd, uint8_t reg, uint32_t value, int chip)
{
	uint8_t frame[kFrameLen];
	write_frame(frame, kOpWrite, chip, reg, value);
	uart_send(fd, frame, sizeof(frame));
}

void chip_broadcast(int fd, uint8_t reg, uint32_t value)
{
	uint8_t frame[kFrameLen];
	write_frame(frame, kOpBroadcast, 0, reg, value);
	log_bytes("uart sent: ", frame, sizeof(frame));
	uart_send(fd, frame, sizeof(frame));
}

int count_bits(uint32_t value)
{
	return __builtin_popcount(value);
}

void log_bytes(const char *label, const uint8_t *bytes, size_t len)
{
	fputs(label, stdout);
	for (size_t i = 0; i < len; i++)
		printf("0x%02x ", bytes[i]);
	putchar('\n');
}

int open_chip_port(int cn)
{
	const char *path = serial_port_path(cn);
	int fd = open(path, kSerialOpenFlags);
	if (fd < 0) {
		out("open %s is failed \n", path);
		return -1;
	}
	out("open %s is success\n", path);
	setup_serial(fd, state().link_speed, 8, 'N', 2);
	return fd;
}

void board_up(int cn)
{
	set_board_power(cn, HIGH);
}

void board_down(int cn)
{
	set_board_power(cn, LOW);
}

void pause_ms(int ms)
{
	usleep((useconds_t)ms * 1000);
}

}  // namespace ftm
