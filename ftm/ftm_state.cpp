// The state record and its bounded result texts.
#include "ftm_state.h"

#include <cstdarg>
#include <cstring>

namespace ftm {

namespace {
ftm_state g_state;
}

ftm_state &state()
{
	return g_state;
}

void state_init()
{
	// Field by field, not one memset: the record starts zeroed, and its two 64 KiB texts are to
	// take memory only as far as lines are written into them.
	g_state.bus = nullptr;
	g_state.core_cnt_bench = kDefaultCoreBench;
	g_state.link_speed = 1500000;
	g_state.chip_num = kMaxChips;
	g_state.index = 0;
	g_state.board_type = 0;
	clear_results();
}

void clear_results()
{
	g_state.good_core = g_state.bad_core = 0;
	g_state.l_good_core = g_state.l_bad_core = 0;
	g_state.bad_chips.clear();
	g_state.good_chips.clear();
	memset(g_state.temps, 0, sizeof(g_state.temps));
}

void result_text::clear()
{
	len = 0;
	text[0] = '\0';
}

void result_text::append(const char *fmt, ...)
{
	if (len >= sizeof(text) - 1)
		return;
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(text + len, sizeof(text) - len, fmt, ap);
	va_end(ap);
	if (n < 0)
		return;
	// A line that does not fit is kept as far as it goes; the text stays terminated.
	size_t room = sizeof(text) - 1 - len;
	len += (size_t)n < room ? (uint32_t)n : (uint32_t)room;
}

}  // namespace ftm
