// Serial ports of the four connectors and the byte transport shared by every serial test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ftm {

inline constexpr int kSerialOpenFlags = 0x902;  // read-write, no controlling terminal, non-blocking

// "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS3", "/dev/ttyS5" for connectors 1..4; " " (logged) otherwise.
const char *serial_port_path(int cn);
// Enable lines 50, 51, 106, 107 for connectors 1..4; -1 (logged) otherwise.
int enable_line(int cn);

int setup_serial(int fd, int speed, int bits, char parity, int stop);
// Discards pending input, then writes until all is out or a write returns 0 or less.
int uart_send(int fd, const uint8_t *bytes, size_t len);
// Reads exactly len bytes, waiting up to wait_ms before each read: -1 on a time-out, the negated
// error number of a failed wait, the result of a failed read, else len.
int uart_recv(int fd, uint8_t *buf, size_t len, int wait_ms);

}  // namespace ftm
