// The one device record of the settings service: identity, targets, flags,
// per-hash-board data and error lists, reached through dev().
#pragma once

#include <cstdint>

// Variant 1 or 2, set by the build for every file of one program.
#if !defined(CFGSVC_VARIANT) || (CFGSVC_VARIANT != 1 && CFGSVC_VARIANT != 2)
#error "CFGSVC_VARIANT must be 1 or 2"
#endif

inline constexpr int kConnectorCount = 4;
inline constexpr int kEepromImageSize = 88;

struct hash_board_block {
	std::uint8_t vmin_cnt;
	std::int16_t err_num;
	std::int16_t totalcnt;
	std::int16_t bad_cnt;
	std::int32_t hashrate;
	std::int32_t sumGPloss;
	std::uint8_t ee_data[kEepromImageSize];
};

struct errno_entry {
	std::uint32_t time;
	std::int16_t code;
};

struct device_record {
	std::uint8_t power_reset_credits;
	std::uint8_t power_reset_armed;
	std::uint8_t rdonly;
	std::uint8_t test_mode;
	std::uint8_t fans_ok;
	std::uint8_t temps_ok;
	std::uint8_t flag_aging;
	std::uint8_t hb_type;
	std::int16_t Vt;
	std::int16_t Ft;
#if CFGSVC_VARIANT == 2
	std::int16_t oc1_Vt;
	std::int16_t oc1_Ft;
	std::int16_t std_Vt;
	std::int16_t std_Ft;
#endif
	std::int16_t mode;
	std::uint8_t present[kConnectorCount];
	// 1 once a board's ee_data holds what its EEPROM gave (a successful read)
	// or what was last written to it; only such a copy may be written back.
	std::uint8_t ee_read[kConnectorCount];
	char type_name[32]; // the variant-2 suffixes make names of 22 characters and more
	char sw_version[32];
	char hw_version[32];
	char dev_sn[32];
	char ota_host[130];
	hash_board_block board[kConnectorCount];
	std::uint8_t err_count;
	std::uint8_t err_next;
	std::int16_t err_codes[4];
	std::uint8_t errno_count;
	std::uint8_t errno_next;
	errno_entry errno_log[16];
};

// Allocates the record on first use, zero-fills it and sets the four fields
// that start at 1. Returns false only when memory is short.
bool device_record_init();

// The process-wide record; device_record_init() must have run.
device_record &dev();
