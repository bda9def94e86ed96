// ftm_state: the process-wide record of kx_ftm, created zeroed at start-up and never freed.
#pragma once

#include <cstdint>
#include <cstdio>

#include <vorn.h>

namespace ftm {

inline constexpr uint32_t kDefaultCoreBench = 600;
inline constexpr uint32_t kMaxCores = 720;
inline constexpr int kMaxChips = 256;  // size of the per-chip core table
inline constexpr size_t kResultTextSize = 65536;
inline constexpr size_t kTempTextSize = 32;

// One of the two accumulated result texts: lines appended at the current length, never past the end.
struct result_text {
	char text[kResultTextSize];
	uint32_t len;

	void clear();
	void append(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
};

struct ftm_state {
	vorn_ctx *bus;
	uint32_t core_cnt_bench;  // a chip with fewer good cores is a bad chip
	int32_t link_speed;       // baud rate of the hash-board serial link
	int32_t chip_num;
	int32_t index;  // connector 1..4 of the board under test
	uint32_t board_type;
	int32_t good_core, bad_core;
	int32_t l_good_core, l_bad_core;  // second board of a two-board model
	result_text bad_chips;
	result_text good_chips;
	char temps[4][kTempTextSize];  // inlet 1, outlet 1, inlet 2, outlet 2
};

ftm_state &state();
// The initial values of the record (zero except threshold, link speed and chip count).
void state_init();
// Clears the four core totals, both result texts and the temperature texts.
void clear_results();

}  // namespace ftm
