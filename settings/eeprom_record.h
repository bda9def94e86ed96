// The 88-byte hash-board EEPROM image: its layout, the serial-number and time
// encodings, the per-connector copies in the device record and what the
// service derives from them.
#pragma once

#include <jansson.h>

#include <cstddef>
#include <cstdint>

#include "device_record.h"

// Offsets of the fields of one part of the image. Part A serves the lower
// connector of an EEPROM pair (CN1, CN2), part B the upper one (CN3, CN4).
struct ee_part {
	int board_type; // u8
	int ate_freq;   // u16 BE
	int ate_vol;    // u16 BE
	int chips_num;  // u16 LE, the one little-endian field
	int test_cnt;   // u8
	int vmin;       // u16 BE
	int fmax;       // u16 BE
	int test_start; // u32 BE Unix time
	int test_done;  // u32 BE Unix time
	int oc1_freq, oc1_vol, oc2_freq, oc2_vol; // u16 BE
};

inline constexpr ee_part kPartA = {0, 1, 3, 5, 26, 27, 29, 31, 35, 62, 64, 66, 68};
inline constexpr ee_part kPartB = {40, 41, 43, 45, 48, 49, 51, 53, 57, 70, 72, 74, 76};

// Common part: the encoded serial number, the overclock-2 log.
inline constexpr int kEeSn = 8;        // 17 bytes
inline constexpr int kEeSnNumber = 23; // SN characters 23 and 24 as one number
inline constexpr int kEeOc2Cnt = 78;   // u8
inline constexpr int kEeOc2First = 79; // u32 BE
inline constexpr int kEeOc2Last = 83;  // u32 BE

// Part of board 0..3 (boards 0 and 1 part A, 2 and 3 part B).
inline const ee_part &ee_part_of(int board)
{
	return board >= 2 ? kPartB : kPartA;
}

inline std::uint16_t ee_be16(const std::uint8_t *image, int offset)
{
	return static_cast<std::uint16_t>(image[offset] << 8 | image[offset + 1]);
}

inline std::uint16_t ee_le16(const std::uint8_t *image, int offset)
{
	return static_cast<std::uint16_t>(image[offset + 1] << 8 | image[offset]);
}

inline std::uint32_t ee_be32(const std::uint8_t *image, int offset)
{
	return static_cast<std::uint32_t>(image[offset]) << 24 | static_cast<std::uint32_t>(image[offset + 1]) << 16 |
	       static_cast<std::uint32_t>(image[offset + 2]) << 8 | image[offset + 3];
}

inline void ee_put_be16(std::uint8_t *image, int offset, std::uint16_t value)
{
	image[offset] = static_cast<std::uint8_t>(value >> 8);
	image[offset + 1] = static_cast<std::uint8_t>(value);
}

inline void ee_put_le16(std::uint8_t *image, int offset, std::uint16_t value)
{
	image[offset] = static_cast<std::uint8_t>(value);
	image[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void ee_put_be32(std::uint8_t *image, int offset, std::uint32_t value)
{
	for (int i = 0; i < 4; ++i)
		image[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// Plausible supply voltages for the hash boards (10 mV units).
inline constexpr int kVoltageLow = CFGSVC_VARIANT == 2 ? 3500 : 3300;
inline constexpr int kVoltageHigh = 4300;

inline bool in_range(int value, int low, int high)
{
	return value >= low && value <= high;
}

// ---- serial number (image bytes 8..24) ----

inline constexpr std::size_t kHbSnLength = 24;

// Checks the 24-character text and encodes it into the image; on a refusal
// logs why, leaves the image alone and returns -1.
int hb_sn_encode(const char *sn, std::uint8_t *image);
// The 24-character text of the image into out (kHbSnLength + 1 bytes).
void hb_sn_decode(const std::uint8_t *image, char *out);

// ---- times: Unix time in the image, Beijing wall-clock (UTC+8) outside ----

// Six packed fields: byte 0 year - 2000, then month, day, hour, minute, second.
using bj_time = std::uint64_t;
inline constexpr std::size_t kBjTextLength = 15; // YYMMDD,hh:mm:ss

// The packed fields of a 15-character text; only its digit positions are read.
bj_time bjTime_parse(const char *text);
// Beijing time to Unix time, 0 when it cannot be converted.
std::uint32_t bjTime_to_unixTimeStamp(bj_time fields);
std::uint32_t bjTime_text_to_unix(const char *text);
bj_time unixTimeStamp_to_bjTime(std::uint32_t unix_time);

// A stored time as text; empty outside the display window (notably 0 and
// the erased value 0xFFFFFFFF).
struct bj_text {
	char text[kBjTextLength + 1];
};
bj_text bjTime_text(std::uint32_t unix_time);

// ---- the copies in the device record ----

// Applies the members of an hb.base/hb.test set body to a working image of
// board 0..3, in their fixed order. A refused member is logged and the
// result is -1; the caller then stores nothing.
int ee_image_apply(json_t *body, int board, std::uint8_t *image);

// Puts a working image of board 0..3 into both copies of its EEPROM and
// sends it to the EEPROM.
void ee_image_store(int board, const std::uint8_t *image);

// Whether board 0..3's copy came from its EEPROM, reading it again when it
// did not (start-up's read failed). An image is written to an EEPROM only
// from such a copy: a copy that was never read is zeros, and would wipe the
// serial number, types and ATE values of both connectors. False after a
// failed read, logged.
bool ee_copy_from_eeprom(int board);

// ee_data_update's result when the board's EEPROM could not be read: the
// request is refused and nothing is written.
inline constexpr int kEeUnreadable = -2;

// hb.base set / hb.test set on the whole request object: 0, -1 for a refused
// body (only logged), or kEeUnreadable.
int ee_data_update(json_t *request);

// Entries of the hb.base and hb.test lists are bounded to this size.
inline constexpr std::size_t kHbEntrySize = 512;

// Per-board entries "{...}," joined, bounded; finish() drops the final comma.
struct hb_entry_list {
	char text[kConnectorCount * kHbEntrySize] = "";
	std::size_t length = 0;
	void add(const char *entry);
	const char *finish();
};

// The hb.base list entry of one board, "{...}," into out[size]; returns its length.
int hb_base_entry(int board, char *out, std::size_t size);

// The whole hb.test get reply into buf[size], spaces removed; returns what
// strip_spaces returns.
int __get_hb_test(char *buf, std::size_t size);

// ---- the targets derived from the copies ----

// What the boards' images contribute to hb_type, Vt and Ft.
struct hb_accumulators {
	int vmin;     // largest plausible Vmin of part A
	int fmax;     // largest plausible Fmax of part A
	int ate_vol;  // largest plausible ate_vol of part A
	int hb_type;  // largest plausible board_type of part A
	int sn_number; // SN characters 23..24 of the last board folded
	int oc1_freq, oc1_vol, oc2_freq, oc2_vol;
};

// Folds one board's copy in (repairing its own part's overclock fields).
void hb_fold_board(hb_accumulators &acc, int board);
// Sets hb_type, Vt, Ft and the power-reset credits for the device mode;
// 0 when usable targets resulted, else -1.
int hb_targets_finish(const hb_accumulators &acc);

// Fetches every board's image from "hwmond" first when read is non-zero
// (always in variant 2), then derives the targets. 0 or -1.
int load_hb_eeproms(int read);
