// Hash-chip frames over a connector's serial link, and the board's enable line.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ftm {

inline constexpr uint32_t kChipId = 0x012D59D4;
inline constexpr uint8_t kRegChipId = 0x00;
inline constexpr uint8_t kRegCoreMaskFirst = 0x24;
inline constexpr uint8_t kRegCoreMaskLast = 0x43;
inline constexpr uint8_t kRegChain = 0xC0;
inline constexpr uint8_t kRegPassOn = 0xC1;
inline constexpr uint8_t kRegSlot = 0xC2;
inline constexpr uint8_t kRegSlotMax = 0xC3;
inline constexpr uint8_t kRegTestMode = 0xC4;
inline constexpr uint8_t kReplyHeader = 0xAA;
inline constexpr uint8_t kReportHeader = 0xBB;
inline constexpr size_t kFrameLen = 8;

// The register-read frame of reg on chip.
void read_frame(uint8_t *frame, uint8_t reg, int chip);
// Bytes 3..6 of a reply, little-endian.
uint32_t reply_value(const uint8_t *frame);

// A register value 0..0xFFFFFFFF, or -1 on a time-out (a full core mask is not a time-out).
int64_t chip_read_reg(int fd, uint8_t reg, int chip);
void chip_write_reg(int fd, uint8_t reg, uint32_t value, int chip);
void chip_broadcast(int fd, uint8_t reg, uint32_t value);
int count_bits(uint32_t value);
// Logs "<label>" followed by the bytes as "0x%02x " and a newline.
void log_bytes(const char *label, const uint8_t *bytes, size_t len);

// Opens the connector's port (logging the outcome) and sets it up for the chips; -1 when it cannot be opened.
int open_chip_port(int cn);
// Drives the connector's enable line through libsoc.
void board_up(int cn);
void board_down(int cn);
void pause_ms(int ms);

}  // namespace ftm
