// Fuzz target: thermguard's reading of the "hash_boards.all" and "power.all"
// replies of hwmond, and its strict integer texts. The input is the reply the
// bus hands over; the results are checked against an independent reading.
#include <jansson.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "guard_state.h"
#include "hwmond_link.h"
#include "int_text.h"
#include "tg_log.h"

namespace {

std::string g_reply; // what the fake bus answers to every request

// The expected value of a strict integer text: optional sign, digits only,
// clamped to 32 bits. False when the text is refused.
bool expected_int(const char *text, int32_t *out)
{
	const char *p = text;
	bool negative = false;
	if (*p == '+' || *p == '-')
		negative = *p++ == '-';
	if (*p == '\0')
		return false;
	long long value = 0;
	for (; *p != '\0'; ++p) {
		if (*p < '0' || *p > '9')
			return false;
		if (value <= static_cast<long long>(INT32_MAX) + 1)
			value = value * 10 + (*p - '0');
	}
	if (negative)
		value = -value;
	*out = static_cast<int32_t>(value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value);
	return true;
}

void check_int_text(const char *text)
{
	int32_t got = 12345;
	int32_t want = 0;
	const bool accepted = thermguard::parse_int_text(text, &got) == 0;
	FUZZ_CHECK(accepted == expected_int(text, &want), "integer text accepted exactly when strict");
	if (accepted)
		FUZZ_CHECK(got == want, "integer text value, clamped");
	else
		FUZZ_CHECK(got == 12345, "a refused text leaves the output alone");
}

// The member text of the reply as jansson reads it, or null.
const char *member_text(json_t *root, const char *board, const char *name)
{
	json_t *body = json_object_get(root, "body");
	return json_string_value(json_object_get(json_object_get(body, board), name));
}

void check_hash_boards(json_t *root)
{
	thermguard::guard_state &s = thermguard::tg_state();
	const int result = thermguard::parse_hashboard_temp();
	FUZZ_CHECK(result == thermguard::HB_PARSED || result == thermguard::HB_INCOMPLETE, "poll result");
	if (result != thermguard::HB_PARSED)
		return;
	FUZZ_CHECK(root != nullptr, "a parsed poll comes from a JSON reply");
	static const char *const names[] = {"hash_board1", "hash_board2", "hash_board3", "hash_board4"};
	for (int i = 0; i < thermguard::kBoardCount; ++i) {
		const thermguard::hb_temp &b = s.boards[i];
		json_t *i2c = json_object_get(json_object_get(json_object_get(root, "body"), names[i]), "i2c_num");
		FUZZ_CHECK(json_is_integer(i2c), "a parsed board has an integer i2c_num");
		FUZZ_CHECK(b.i2c_num == static_cast<int32_t>(json_integer_value(i2c)), "i2c_num taken over");
		if (b.i2c_num == -1)
			continue;
		int32_t want = 0;
		const char *outlet = member_text(root, names[i], "outlet_temp1");
		FUZZ_CHECK(outlet != nullptr && expected_int(outlet, &want), "a parsed board has a strict outlet text");
		FUZZ_CHECK(b.outlet_temp1 == want && b.outlet_ok == 1, "outlet value");
		const char *inlet = member_text(root, names[i], "inlet_temp1");
		if (inlet != nullptr && expected_int(inlet, &want))
			FUZZ_CHECK(b.inlet_temp1 == want && b.inlet_ok == 1, "inlet value");
		else
			FUZZ_CHECK(b.inlet_temp1 == 0, "an unusable inlet reads 0");
	}
}

void check_power(json_t *root)
{
	thermguard::guard_state &s = thermguard::tg_state();
	const int result = thermguard::parse_power_parameter();
	FUZZ_CHECK(result == thermguard::POWER_READ || result == thermguard::POWER_UNUSABLE, "power result");
	if (result != thermguard::POWER_READ)
		return;
	FUZZ_CHECK(root != nullptr, "a power reading comes from a JSON reply");
	json_t *power = json_object_get(json_object_get(root, "body"), "power");
	int32_t vol = 0;
	int32_t cur = 0;
	FUZZ_CHECK(json_is_string(json_object_get(power, "power_vol")) &&
			   expected_int(json_string_value(json_object_get(power, "power_vol")), &vol),
		   "a power reading has a strict voltage text");
	FUZZ_CHECK(json_is_string(json_object_get(power, "power_cur")) &&
			   expected_int(json_string_value(json_object_get(power, "power_cur")), &cur),
		   "a power reading has a strict current text");
	FUZZ_CHECK(s.power.power_vol == vol && s.power.power_cur == cur, "power values");
}

} // namespace

namespace thermguard {

// The bus as the guard sees it: a zero-filled buffer, the reply cut to fit
// and always terminated.
int hwmond_transfer(const char *request, char *reply, int reply_size)
{
	FUZZ_CHECK(request != nullptr && reply != nullptr && reply_size > 0, "transfer arguments");
	std::memset(reply, 0, static_cast<size_t>(reply_size));
	std::memcpy(reply, g_reply.data(), std::min(g_reply.size(), static_cast<size_t>(reply_size - 1)));
	return 0;
}

// Log lines are formatted into a bounded line and dropped.
void tg_log(int, const char *fmt, ...)
{
	char line[kLogLineMax];
	va_list ap;
	va_start(ap, fmt);
	std::vsnprintf(line, sizeof line, fmt, ap);
	va_end(ap);
}

} // namespace thermguard

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string text(reinterpret_cast<const char *>(data), size);
	g_reply.assign(text.c_str()); // a reply ends at its first NUL, as on the bus
	check_int_text(text.c_str());

	thermguard::tg_state() = thermguard::guard_state{};
	// The guard reads the reply cut to its own buffer sizes; the independent
	// reading uses the same cut.
	for (const size_t cap : {size_t{1280}, size_t{512}}) {
		const std::string seen = g_reply.substr(0, cap - 1);
		json_error_t error;
		json_t *root = json_loads(seen.c_str(), 0, &error);
		if (cap == 1280)
			check_hash_boards(root);
		else
			check_power(root);
		json_decref(root);
	}
	return 0;
}
