// What the hb.base and hb.test gets show of the EEPROM copies: one list
// entry per board, decoded from its part of the image.
#include <cstdio>
#include <cstring>

#include "eeprom_record.h"
#include "svc_log.h"
#include "text_util.h"

namespace {

// Unset counters read 255 on an erased EEPROM; the copy then shows 0.
void repair_counter(std::uint8_t &counter)
{
	if (counter == 255)
		counter = 0;
}

// The SN as a JSON string body. Its bytes come straight from the EEPROM: an
// erased one reads 0xFF, which is no UTF-8, so every byte outside printable
// ASCII goes out as \u00XX and the reply stays JSON a client can parse.
void sn_json_text(const char *sn, char *out, std::size_t size)
{
	std::size_t length = 0;
	out[0] = '\0';
	for (const char *p = sn; *p != '\0'; ++p) {
		const auto c = static_cast<unsigned char>(*p);
		char piece[8];
		if (c < 0x20 || c >= 0x7F)
			std::snprintf(piece, sizeof(piece), "\\u%04x", c);
		else if (c == '"' || c == '\\')
			std::snprintf(piece, sizeof(piece), "\\%c", c);
		else
			std::snprintf(piece, sizeof(piece), "%c", c);
		const std::size_t n = std::strlen(piece);
		if (length + n >= size)
			break;
		std::memcpy(out + length, piece, n + 1);
		length += n;
	}
}

// The test entry of board 0..3 into out[kHbEntrySize].
void hb_test_entry(int board, char *out)
{
	std::uint8_t *image = dev().board[board].ee_data;
	const ee_part &part = ee_part_of(board);
	const std::uint32_t start = ee_be32(image, part.test_start);
	const bj_text started = bjTime_text(start);
	svc_log(kLogDebug, "start t_unix : %02X", start);
	svc_log(kLogDebug, "sStime : %s", started.text);
	const std::uint32_t done = ee_be32(image, part.test_done);
	const bj_text finished = bjTime_text(done);
	svc_log(kLogDebug, "done t_unix : %02X", done);
	svc_log(kLogDebug, "sDtime : %s", finished.text);
	const std::uint32_t first = ee_be32(image, kEeOc2First);
	const bj_text oc2_first = bjTime_text(first);
	svc_log(kLogDebug, "start t_unix : %02X", first);
	svc_log(kLogDebug, "sFtime : %s", oc2_first.text);
	const std::uint32_t last = ee_be32(image, kEeOc2Last);
	const bj_text oc2_last = bjTime_text(last);
	svc_log(kLogDebug, "done t_unix : %02X", last);
	svc_log(kLogDebug, "sLtime : %s", oc2_last.text);
	repair_counter(image[part.test_cnt]);
	repair_counter(image[kEeOc2Cnt]);
	std::snprintf(out, kHbEntrySize,
		      "{\"index\":%d,\"Vmin\":%d,\"Fmax\":%d,\"test_cnt\":%d,\"test_start\":\"%s\",\"test_done\":\"%s\","
		      "               \"oc2_cnt\":%d,\"oc2_first\":\"%s\",\"oc2_last\":\"%s\"},",
		      board + 1, ee_be16(image, part.vmin), ee_be16(image, part.fmax), image[part.test_cnt],
		      started.text, finished.text, image[kEeOc2Cnt], oc2_first.text, oc2_last.text);
}

} // namespace

int hb_base_entry(int board, char *out, std::size_t size)
{
	std::uint8_t *image = dev().board[board].ee_data;
	const ee_part &part = ee_part_of(board);
	char sn[kHbSnLength + 1];
	hb_sn_decode(image, sn);
	char sn_text[kHbSnLength * 6 + 1];
	sn_json_text(sn, sn_text, sizeof(sn_text));
	repair_counter(image[part.test_cnt]);
	const int chips = ee_le16(image, part.chips_num);
	const std::size_t bound = size < kHbEntrySize ? size : kHbEntrySize;
	const int n = std::snprintf(
		out, bound,
		"{\"index\":%d,\"board_type\":%d,\"ate_freq\":%d,\"ate_vol\":%d,            \"oc1_freq\":%d,"
		"\"oc1_vol\":%d,\"oc2_freq\":%d,\"oc2_vol\":%d,               \"chips_num\":%d,\"test_cnt\":%d,"
		"\"hb_sn\":\"%s\"},",
		board + 1, image[part.board_type], ee_be16(image, part.ate_freq), ee_be16(image, part.ate_vol),
		ee_be16(image, part.oc1_freq), ee_be16(image, part.oc1_vol), ee_be16(image, part.oc2_freq),
		ee_be16(image, part.oc2_vol), chips >= 1025 ? 0 : chips, image[part.test_cnt], sn_text);
	if (n < 0)
		return 0;
	return static_cast<std::size_t>(n) < bound ? n : static_cast<int>(bound) - 1;
}

void hb_entry_list::add(const char *entry)
{
	const std::size_t size = sizeof(text);
	const int n = std::snprintf(text + length, size - length, "%s", entry);
	if (n < 0)
		return;
	const std::size_t end = length + static_cast<std::size_t>(n);
	length = end < size ? end : size - 1;
}

const char *hb_entry_list::finish()
{
	if (length > 0 && text[length - 1] == ',')
		text[--length] = '\0';
	return text;
}

int __get_hb_test(char *buf, std::size_t size)
{
	// Variant 2 keeps test results for CN1 and CN2 only.
	constexpr int boards = CFGSVC_VARIANT == 2 ? 2 : kConnectorCount;
	hb_entry_list list;
	for (int i = 0; i < boards; ++i) {
		if (dev().present[i] == 0)
			continue;
		char entry[kHbEntrySize];
		hb_test_entry(i, entry);
		list.add(entry);
	}
	std::snprintf(buf, size,
		      "{         \"code\":0,         \"error\":\"ok\",         \"body\":{               \"hb_test\":[      "
		      "            %s               ]         }      }",
		      list.finish());
	svc_log(kLogDebug, "__get_hb_test: %s", buf);
	return strip_spaces(buf);
}
