// The members of an hb.base or hb.test set body and how each is checked and
// encoded into a board's EEPROM image.
#include <cstring>

#include "eeprom_record.h"
#include "request.h"
#include "svc_log.h"

namespace {

// A member that must be a JSON integer: 0 absent, 1 read into *low (its
// low 16 bits, which the limits apply to), -1 of another type (logged).
int integer_member(json_t *body, const char *name, const char *invalid, std::uint16_t *low)
{
	int value = 0;
	const member_state state = int_member(body, name, &value);
	if (state == member_state::absent)
		return 0;
	if (state == member_state::not_integer) {
		svc_log(kLogError, "%s", invalid);
		return -1;
	}
	*low = static_cast<std::uint16_t>(value);
	return 1;
}

// The rule of one 16-bit frequency or voltage member.
struct limited_member {
	const char *name;
	const char *invalid_type;
	const char *invalid_value; // printed with the value (frequencies times 50)
	const char *accepted;      // debug line of an accepted frequency, or nullptr
	bool voltage;              // logs "JSON get iVol" first; limit 4300, else 2400
};

constexpr int kFreqLimit = 2400;
constexpr int kVolLimit = 4300;
constexpr int kFreqShown = 50;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// -1 refused, 0 absent, 1 stored.
int apply_limited(json_t *body, const limited_member &rule, std::uint8_t *image, int offset)
{
	std::uint16_t value = 0;
	if (const int got = integer_member(body, rule.name, rule.invalid_type, &value); got <= 0)
		return got;
	if (rule.voltage) {
		svc_log(kLogInfo, "JSON get iVol = %d vaule", value);
		if (value > kVolLimit) {
			svc_log(kLogError, rule.invalid_value, value);
			return -1;
		}
	} else {
		if (value > kFreqLimit) {
			svc_log(kLogError, rule.invalid_value, value * kFreqShown);
			return -1;
		}
		svc_log(kLogDebug, rule.accepted, value * kFreqShown);
	}
	ee_put_be16(image, offset, value);
	return 1;
}

// The rule of one time member: "15 characters convert, shorter store 0".
struct time_member {
	const char *name;
	const char *invalid_type;
	const char *text_line;  // debug line with the text
	const char *value_line; // debug line with the stored value
	const char *too_long;   // refusal with the text
};

int apply_time(json_t *body, const time_member &rule, std::uint8_t *image, int offset)
{
	json_t *member = json_object_get(body, rule.name);
	if (member == nullptr)
		return 0;
	if (!json_is_string(member)) {
		svc_log(kLogError, "%s", rule.invalid_type);
		return -1;
	}
	const char *text = json_string_value(member);
	const std::size_t length = std::strlen(text);
	if (length > kBjTextLength) {
		svc_log(kLogError, rule.too_long, text);
		return -1;
	}
	std::uint32_t value = 0;
	if (length == kBjTextLength) {
		svc_log(kLogDebug, rule.text_line, text);
		value = bjTime_text_to_unix(text);
		svc_log(kLogDebug, rule.value_line, value);
	}
	ee_put_be32(image, offset, value);
	return 1;
}
#pragma GCC diagnostic pop

int apply_chips_num(json_t *body, std::uint8_t *image, const ee_part &part)
{
	std::uint16_t value = 0;
	if (const int got = integer_member(body, "chips_num", "JSON invalid chips_num integer", &value); got <= 0)
		return got;
	if (value < 1 || value > 1023) {
		svc_log(kLogError, "JSON invalid iNum = %d vaule", value);
		return -1;
	}
	ee_put_le16(image, part.chips_num, value);
	return 1;
}

int apply_board_type(json_t *body, std::uint8_t *image, const ee_part &part)
{
	std::uint16_t value = 0;
	if (const int got = integer_member(body, "board_type", "JSON invalid board_type integer", &value); got <= 0)
		return got;
	const auto type = static_cast<std::uint8_t>(value);
	if (type == 0) {
		svc_log(kLogError, "JSON invalid iType = %d vaule", type);
		return -1;
	}
	image[part.board_type] = type;
	return 1;
}

int apply_vmin(json_t *body, std::uint8_t *image, const ee_part &part)
{
	std::uint16_t value = 0;
	if (const int got = integer_member(body, "Vmin", "JSON invalid Vmin integer", &value); got <= 0)
		return got;
	svc_log(kLogInfo, "iVmin = %d", value);
	// Variant 2 also needs a plausible supply voltage on CN1 and CN2.
	const int low = CFGSVC_VARIANT == 2 && part.vmin == kPartA.vmin ? 3500 : 0;
	if (value > kVolLimit || value < low) {
		svc_log(kLogError, "JSON invalid iVmin = %x vaule", value);
		return -1;
	}
	ee_put_be16(image, part.vmin, value);
	return 1;
}

int apply_fmax(json_t *body, std::uint8_t *image, const ee_part &part)
{
	std::uint16_t value = 0;
	if (const int got = integer_member(body, "Fmax", "JSON invalid Fmax integer", &value); got <= 0)
		return got;
	if (value > kFreqLimit) {
		svc_log(kLogError, "JSON invalid iFmax = %x vaule", value);
		return -1;
	}
	ee_put_be16(image, part.fmax, value);
	return 1;
}

int apply_test_cnt(json_t *body, std::uint8_t *image, const ee_part &part)
{
	std::uint16_t value = 0;
	if (const int got = integer_member(body, "test_cnt", "JSON invalid test_cnt integer", &value); got <= 0)
		return got;
	image[part.test_cnt] = static_cast<std::uint8_t>(value);
	return 1;
}

int apply_oc2_cnt(json_t *body, std::uint8_t *image)
{
	std::uint16_t value = 0;
	if (const int got = integer_member(body, "oc2_cnt", "JSON invalid oc2_cnt integer", &value); got <= 0)
		return got;
	const auto count = static_cast<std::uint8_t>(value);
	if (count == 255) {
		svc_log(kLogError, "JSON invalid OC2 Cnt = %d vaule", count);
		return -1;
	}
	image[kEeOc2Cnt] = count;
	return 1;
}

int apply_hb_sn(json_t *body, std::uint8_t *image)
{
	json_t *member = json_object_get(body, "hb_sn");
	if (member == nullptr)
		return 0;
	if (!json_is_string(member)) {
		svc_log(kLogError, "JSON invalid hb_sn string");
		return -1;
	}
	return hb_sn_encode(json_string_value(member), image) == 0 ? 1 : -1;
}

constexpr limited_member kAteFreq = {"ate_freq", "JSON invalid ate_freq integer", "JSON invalid iFreq = %d vaule",
				     "JSON get ate_freq = %d vaule", false};
constexpr limited_member kAteVol = {"ate_vol", "JSON invalid ate_vol integer", "JSON invalid iVol = %d vaule",
				    nullptr, true};
constexpr limited_member kOc1Freq = {"oc1_freq", "JSON invalid oc1_freq integer",
				     "JSON invalid oc1_freq = %d vaule", "JSON get oc1_freq = %d vaule", false};
constexpr limited_member kOc1Vol = {"oc1_vol", "JSON invalid oc1_vol integer", "JSON invalid oc1_vol = %d vaule",
				    nullptr, true};
constexpr limited_member kOc2Freq = {"oc2_freq", "JSON invalid oc2_freq integer",
				     "JSON invalid oc2_freq = %d vaule", "JSON get oc2_freq = %d vaule", false};
constexpr limited_member kOc2Vol = {"oc2_vol", "JSON invalid oc2_vol integer", "JSON invalid oc2_vol = %d vaule",
				    nullptr, true};

constexpr time_member kTestStart = {"test_start", "JSON invalid test_start string", "set test_start t_unix: %s",
				    "set test_start iStart: %08X", "JSON invalid sStart = %s vaule"};
constexpr time_member kTestDone = {"test_done", "JSON invalid test_done string", "set test_done t_unix: %s",
				   "set test_start iDone: %08X", "JSON invalid sDone = %s vaule"};
constexpr time_member kOc2First = {"oc2_first", "JSON invalid oc2_first string", "set oc2_first t_unix: %s",
				   "set oc2_first time: %08X", "JSON invalid oc2_first time = %s vaule"};
constexpr time_member kOc2Last = {"oc2_last", "JSON invalid oc2_last string", "set oc2_last t_unix: %s",
				  "set test_start iDone: %08X", "JSON invalid oc2_last time = %s vaule"};

using member_step = int (*)(json_t *body, std::uint8_t *image, const ee_part &part);

// The members in the order they are checked and stored; the first refusal ends the update.
constexpr member_step kMemberSteps[] = {
	apply_chips_num,
	[](json_t *b, std::uint8_t *im, const ee_part &p) { return apply_limited(b, kAteFreq, im, p.ate_freq); },
	[](json_t *b, std::uint8_t *im, const ee_part &p) { return apply_limited(b, kAteVol, im, p.ate_vol); },
	[](json_t *b, std::uint8_t *im, const ee_part &p) { return apply_limited(b, kOc1Freq, im, p.oc1_freq); },
	[](json_t *b, std::uint8_t *im, const ee_part &p) { return apply_limited(b, kOc1Vol, im, p.oc1_vol); },
	[](json_t *b, std::uint8_t *im, const ee_part &p) { return apply_limited(b, kOc2Freq, im, p.oc2_freq); },
	[](json_t *b, std::uint8_t *im, const ee_part &p) { return apply_limited(b, kOc2Vol, im, p.oc2_vol); },
	apply_board_type,
	apply_vmin,
	apply_fmax,
	apply_test_cnt,
	[](json_t *b, std::uint8_t *im, const ee_part &p) { return apply_time(b, kTestStart, im, p.test_start); },
	[](json_t *b, std::uint8_t *im, const ee_part &p) { return apply_time(b, kTestDone, im, p.test_done); },
	[](json_t *b, std::uint8_t *im, const ee_part &) { return apply_oc2_cnt(b, im); },
	[](json_t *b, std::uint8_t *im, const ee_part &) { return apply_time(b, kOc2First, im, kEeOc2First); },
	[](json_t *b, std::uint8_t *im, const ee_part &) { return apply_time(b, kOc2Last, im, kEeOc2Last); },
	[](json_t *b, std::uint8_t *im, const ee_part &) { return apply_hb_sn(b, im); },
};

} // namespace

int ee_image_apply(json_t *body, int board, std::uint8_t *image)
{
	const ee_part &part = ee_part_of(board);
	for (const member_step step : kMemberSteps) {
		if (step(body, image, part) < 0)
			return -1;
	}
	return 0;
}

