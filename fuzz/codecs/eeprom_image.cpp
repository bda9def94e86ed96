// Fuzz target: the hash-board EEPROM image. Input: one selector byte (board
// and buffer size), the 88-byte image (zero-filled when short), then a set
// request text. Decodes the image for the hb.base and hb.test gets, checks
// the serial-number and time texts against their rules, applies the request
// to a working image fenced by canaries, and runs the whole hb.base set with
// the EEPROM write captured at the bus; the same text also serves as hwmond's
// reply to an EEPROM read.
#include <jansson.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bus_link.h"
#include "eeprom_record.h"
#include "fuzz_check.h"
#include "hw_access.h"
#include "svc_log.h"

namespace {

constexpr size_t kCanary = 16;
constexpr uint8_t kCanaryByte = 0xA5;

// A buffer with canary bytes on both sides; the middle is the buffer under test.
template <size_t N> struct fenced {
	uint8_t bytes[kCanary + N + kCanary];
	fenced() { std::memset(bytes, kCanaryByte, sizeof(bytes)); }
	uint8_t *data() { return bytes + kCanary; }
	char *text() { return reinterpret_cast<char *>(data()); }
	bool intact() const
	{
		for (size_t i = 0; i < kCanary; ++i)
			if (bytes[i] != kCanaryByte || bytes[kCanary + N + i] != kCanaryByte)
				return false;
		return true;
	}
};

// The last request the service sent to hwmond, and how many it sent.
std::string g_sent;
int g_sent_count = 0;
// What hwmond answers to an EEPROM read.
std::string g_read_reply;

bool is_valid_json(const char *text)
{
	json_error_t error;
	json_t *root = json_loads(text, 0, &error);
	json_decref(root);
	return root != nullptr;
}

// ---- serial number ----

void check_sn_decode(const uint8_t *image, char *sn_out)
{
	fenced<kHbSnLength + 1> sn;
	hb_sn_decode(image, sn.text());
	FUZZ_CHECK(sn.intact(), "SN decode stays within 25 bytes");
	FUZZ_CHECK(sn.text()[kHbSnLength] == '\0', "SN decode is terminated");
	std::memcpy(sn_out, sn.text(), kHbSnLength + 1);
}

// A decoded SN that encodes again decodes to the same text.
void check_sn_round_trip(const uint8_t *image, const char *decoded)
{
	fenced<kEepromImageSize> again;
	std::memcpy(again.data(), image, kEepromImageSize);
	if (hb_sn_encode(decoded, again.data()) != 0)
		return;
	FUZZ_CHECK(again.intact(), "SN encode stays within the image");
	FUZZ_CHECK(std::memcmp(again.data(), image, kEeSn) == 0 &&
			   std::memcmp(again.data() + 25, image + 25, kEepromImageSize - 25) == 0,
		   "SN encode writes only bytes 8..24");
	char redecoded[kHbSnLength + 1];
	check_sn_decode(again.data(), redecoded);
	FUZZ_CHECK(std::strcmp(redecoded, decoded) == 0, "SN decode, encode, decode is stable");
}

bool is_digit(char c)
{
	return c >= '0' && c <= '9';
}

// A 24-character text whose digit positions hold digits (and whose serial
// number fits 16 bits) comes back unchanged from encode and decode.
void check_sn_text(const char *text)
{
	uint8_t image[kEepromImageSize] = {1}; // a board type that keeps SN characters 11 and 12
	if (hb_sn_encode(text, image) != 0)
		return;
	FUZZ_CHECK(std::strlen(text) == kHbSnLength, "only 24-character SNs are accepted");
	for (const int i : {4, 5, 7, 8, 12, 13, 14, 15, 16, 18, 19, 22, 23})
		if (!is_digit(text[i]))
			return;
	if (std::atoi(std::string(text + 12, 5).c_str()) > 65535)
		return;
	char decoded[kHbSnLength + 1];
	check_sn_decode(image, decoded);
	FUZZ_CHECK(std::strcmp(decoded, text) == 0, "SN encode then decode gives the text back");
}

// ---- times ----

constexpr uint32_t kShownFirst = 1684801855;
constexpr uint32_t kShownLast = 4294938494;
constexpr uint32_t kBeijing2100 = 4102416000; // 2100-01-01 00:00:00 UTC+8

void check_time_value(uint32_t value)
{
	const bj_text shown = bjTime_text(value);
	const size_t length = strnlen(shown.text, sizeof(shown.text));
	FUZZ_CHECK(length < sizeof(shown.text), "time text terminated");
	const bool in_window = value >= kShownFirst && value <= kShownLast;
	FUZZ_CHECK(length == (in_window ? kBjTextLength : 0), "time text is 15 characters in the window, else empty");
	if (!in_window)
		return;
	for (size_t i = 0; i < kBjTextLength; ++i) {
		const char want = i == 6 ? ',' : (i == 9 || i == 12) ? ':' : '\0';
		FUZZ_CHECK(want != '\0' ? shown.text[i] == want : is_digit(shown.text[i]), "time text form");
	}
	// The text keeps two year digits: from 2100 (Beijing) on it reads back a century early.
	if (value < kBeijing2100)
		FUZZ_CHECK(bjTime_text_to_unix(shown.text) == value, "a shown time reads back as the same value");
}

// A 15-character text naming a real Beijing time in the window reads as
// that time and shows as the same text.
void check_time_text(const char *text)
{
	const uint32_t value = bjTime_text_to_unix(text);
	const bj_time fields = bjTime_parse(text);
	std::tm tm{};
	tm.tm_year = static_cast<int>(fields & 0xFF) + 100;
	tm.tm_mon = static_cast<int>(fields >> 8 & 0xFF) - 1;
	tm.tm_mday = static_cast<int>(fields >> 16 & 0xFF);
	tm.tm_hour = static_cast<int>(fields >> 24 & 0xFF);
	tm.tm_min = static_cast<int>(fields >> 32 & 0xFF);
	tm.tm_sec = static_cast<int>(fields >> 40 & 0xFF);
	const std::tm asked = tm;
	const time_t utc = timegm(&tm) - 28800;
	const bool real_time = tm.tm_year == asked.tm_year && tm.tm_mon == asked.tm_mon &&
			       tm.tm_mday == asked.tm_mday && tm.tm_hour == asked.tm_hour &&
			       tm.tm_min == asked.tm_min && tm.tm_sec == asked.tm_sec;
	if (!real_time || utc < kShownFirst || utc > kShownLast)
		return;
	FUZZ_CHECK(value == static_cast<uint32_t>(utc), "a real time text reads as its Unix time");
	constexpr int kDigitPositions[] = {0, 1, 2, 3, 4, 5, 7, 8, 10, 11, 13, 14};
	for (const int i : kDigitPositions)
		if (!is_digit(text[i]))
			return;
	const bj_text shown = bjTime_text(value);
	for (const int i : kDigitPositions)
		FUZZ_CHECK(shown.text[i] == text[i], "and shows as the same text");
}

// ---- applying a set body to a fenced working image ----

int body_integer(json_t *body, const char *name, int *value)
{
	json_t *member = json_object_get(body, name);
	if (!json_is_integer(member))
		return 0;
	*value = static_cast<int>(static_cast<uint16_t>(json_integer_value(member)));
	return 1;
}

void check_apply(json_t *body, int board, const uint8_t *image)
{
	fenced<kEepromImageSize> work;
	std::memcpy(work.data(), image, kEepromImageSize);
	const int result = ee_image_apply(body, board, work.data());
	FUZZ_CHECK(work.intact(), "applying a body stays within the image");
	for (const int untouched : {7, 25, 39, 47, 61, 87})
		FUZZ_CHECK(work.data()[untouched] == image[untouched], "bytes that are never written keep their value");
	// The other connector's part of the image stays as it was.
	const ee_part &other = ee_part_of(board < 2 ? 2 : 0);
	for (const int offset : {other.ate_freq, other.ate_vol, other.chips_num, other.vmin, other.fmax,
				 other.oc1_freq, other.oc1_vol, other.oc2_freq, other.oc2_vol})
		FUZZ_CHECK(ee_be16(work.data(), offset) == ee_be16(image, offset), "the other part is left alone");
	for (const int offset : {other.test_start, other.test_done})
		FUZZ_CHECK(ee_be32(work.data(), offset) == ee_be32(image, offset), "the other part's times are left alone");
	FUZZ_CHECK(work.data()[other.board_type] == image[other.board_type] &&
			   work.data()[other.test_cnt] == image[other.test_cnt],
		   "the other part's type and count are left alone");
	if (result != 0)
		return;
	const ee_part &part = ee_part_of(board);
	int value = 0;
	if (body_integer(body, "chips_num", &value))
		FUZZ_CHECK(value >= 1 && value <= 1023 && ee_le16(work.data(), part.chips_num) == value, "chips_num stored");
	if (body_integer(body, "Vmin", &value))
		FUZZ_CHECK(value <= 4300 && ee_be16(work.data(), part.vmin) == value, "Vmin stored");
	if (body_integer(body, "ate_freq", &value))
		FUZZ_CHECK(value <= 2400 && ee_be16(work.data(), part.ate_freq) == value, "ate_freq stored");
	if (body_integer(body, "oc2_cnt", &value))
		FUZZ_CHECK((value & 0xFF) != 255 && work.data()[kEeOc2Cnt] == (value & 0xFF), "oc2_cnt stored");
	if (body_integer(body, "board_type", &value))
		FUZZ_CHECK((value & 0xFF) != 0 && work.data()[part.board_type] == (value & 0xFF), "board_type stored");
	const char *start = json_string_value(json_object_get(body, "test_start"));
	if (start != nullptr) {
		const uint32_t want = std::strlen(start) == kBjTextLength ? bjTime_text_to_unix(start) : 0;
		FUZZ_CHECK(std::strlen(start) <= kBjTextLength && ee_be32(work.data(), part.test_start) == want,
			   "test_start stored");
	}
	const char *sn = json_string_value(json_object_get(body, "hb_sn"));
	if (sn != nullptr)
		FUZZ_CHECK(std::strlen(sn) == kHbSnLength, "an accepted hb_sn has 24 characters");
}

// ---- the gets ----

void check_views(int board, size_t reply_size)
{
	fenced<kHbEntrySize> entry;
	const int n = hb_base_entry(board, entry.text(), kHbEntrySize);
	FUZZ_CHECK(entry.intact(), "hb.base entry within its buffer");
	FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) < kHbEntrySize && std::strlen(entry.text()) == static_cast<size_t>(n),
		   "hb.base entry terminated, length returned");
	FUZZ_CHECK(n > 0 && entry.text()[n - 1] == ',', "hb.base entry ends in a comma");
	const std::string list = "[" + std::string(entry.text(), static_cast<size_t>(n - 1)) + "]";
	FUZZ_CHECK(is_valid_json(list.c_str()), "hb.base entry is JSON");

	static fenced<4096> whole;
	const int full = __get_hb_test(whole.text(), 4096);
	FUZZ_CHECK(whole.intact() && full >= 0 && static_cast<size_t>(full) < 4096, "hb.test reply fits 4096 bytes");
	FUZZ_CHECK(std::strchr(whole.text(), ' ') == nullptr, "hb.test reply has no spaces");
	FUZZ_CHECK(is_valid_json(whole.text()), "hb.test reply is JSON");
	// A smaller caller buffer: cut, terminated, never overrun.
	static fenced<4096> small;
	std::memset(small.data(), 0x5A, 4096);
	__get_hb_test(small.text(), reply_size);
	FUZZ_CHECK(small.intact(), "hb.test reply within the caller's buffer");
	FUZZ_CHECK(small.data()[reply_size] == 0x5A, "nothing written past the caller's size");
	FUZZ_CHECK(strnlen(small.text(), reply_size) < reply_size, "hb.test reply terminated within the size");
}

// ---- reading an image from hwmond ----

// A read changes only its board's copy, and only to the image its reply's
// hex data spells.
void check_fetch(int board, const std::string &reply)
{
	const device_record before = dev();
	g_read_reply = reply;
	const int result = get_eeprom_data(board);
	FUZZ_CHECK(result == 0 || result == -1, "read result");
	for (int i = 0; i < kConnectorCount; ++i)
		if (i != board)
			FUZZ_CHECK(std::memcmp(before.board[i].ee_data, dev().board[i].ee_data, kEepromImageSize) == 0,
				   "a read leaves the other copies alone");
	if (std::memcmp(before.board[board].ee_data, dev().board[board].ee_data, kEepromImageSize) == 0)
		return;
	FUZZ_CHECK(result == 0, "only a successful read changes the copy");
	json_error_t error;
	const std::string seen = std::string(reply.c_str()).substr(0, 1023); // as the bus hands it over
	json_t *root = json_loads(seen.c_str(), 0, &error);
	const char *hex = json_string_value(json_object_get(json_object_get(json_object_get(root, "body"), "eeprom"), "data"));
	FUZZ_CHECK(hex != nullptr && std::strlen(hex) >= kImageHexSize, "a changed copy comes from the reply's hex data");
	uint8_t image[kEepromImageSize];
	hex_to_bytes(hex, image, sizeof(image));
	json_decref(root);
	FUZZ_CHECK(std::memcmp(image, dev().board[board].ee_data, kEepromImageSize) == 0, "the copy is the hex data");
}

// ---- the whole set, through the bus ----

void check_update(json_t *request)
{
	device_record before = dev();
	g_sent.clear();
	g_sent_count = 0;
	const int result = ee_data_update(request);
	if (result != 0) {
		FUZZ_CHECK(g_sent_count == 0, "a refused set writes nothing to the EEPROM");
		// A copy that was never read may have been read again before the refusal: that copy
		// then holds what the read gave; nothing else changes.
		for (int i = 0; i < kConnectorCount; ++i)
			if (before.ee_read[i] == 0 && dev().ee_read[i] != 0) {
				before.ee_read[i] = 1;
				std::memcpy(before.board[i].ee_data, dev().board[i].ee_data, kEepromImageSize);
			}
		FUZZ_CHECK(std::memcmp(&before, &dev(), sizeof(before)) == 0, "a refused set changes no copy");
		return;
	}
	FUZZ_CHECK(g_sent_count == 1, "an accepted set writes the EEPROM once");
	json_error_t error;
	json_t *sent = json_loads(g_sent.c_str(), 0, &error);
	FUZZ_CHECK(sent != nullptr, "the EEPROM write request is JSON");
	json_t *eeprom = json_object_get(json_object_get(sent, "body"), "eeprom_data");
	const char *hex = json_string_value(json_object_get(eeprom, "data"));
	FUZZ_CHECK(hex != nullptr && std::strlen(hex) == kImageHexSize, "the write carries 176 hex digits");
	uint8_t written[kEepromImageSize];
	FUZZ_CHECK(hex_to_bytes(hex, written, sizeof(written)) == kEepromImageSize, "the hex decodes to one image");
	const int pair = static_cast<int>(json_integer_value(json_object_get(eeprom, "index")));
	json_decref(sent);
	FUZZ_CHECK(pair == 0 || pair == 1, "the write names EEPROM 0 or 1");
	FUZZ_CHECK(std::memcmp(written, dev().board[pair].ee_data, kEepromImageSize) == 0 &&
			   std::memcmp(written, dev().board[pair + 2].ee_data, kEepromImageSize) == 0,
		   "both copies hold what was written");
}

} // namespace

// Log lines are formatted into a bounded line and dropped.
void svc_log(int, const char *format, ...)
{
	char line[1024];
	va_list args;
	va_start(args, format);
	std::vsnprintf(line, sizeof(line), format, args);
	va_end(args);
}

// The bus as the service sees it: an EEPROM read gets the input's reply (cut
// to the buffer, terminated), a write is captured and answered ok.
int bus_transfer(const char *object, const char *request, char *resp, int resp_size)
{
	FUZZ_CHECK(std::strcmp(object, "hwmond") == 0 && resp_size > 0, "transfer arguments");
	std::memset(resp, 0, static_cast<size_t>(resp_size));
	if (std::strstr(request, "\"action\":\"get\"") != nullptr) {
		const size_t length = std::strlen(g_read_reply.c_str());
		std::memcpy(resp, g_read_reply.c_str(), std::min(length, static_cast<size_t>(resp_size - 1)));
		return 0;
	}
	g_sent = request;
	g_sent_count++;
	std::snprintf(resp, static_cast<size_t>(resp_size), "{\"code\":0,\"error\":\"ok\"}");
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static const bool ready = device_record_init();
	FUZZ_CHECK(ready, "device record");
	if (size < 1)
		return 0;
	const int board = data[0] & 3;
	const size_t reply_size = 1 + (static_cast<size_t>(data[0]) << 2 | (data[0] & 3)); // 1..1024
	uint8_t image[kEepromImageSize] = {};
	const size_t image_bytes = std::min(size - 1, static_cast<size_t>(kEepromImageSize));
	std::memcpy(image, data + 1, image_bytes);
	const std::string text(reinterpret_cast<const char *>(data + 1 + image_bytes), size - 1 - image_bytes);

	// The input's last bit says whether the copies came from their EEPROMs; a set over unread
	// copies reads them again and gets the input's text as the reply.
	const std::uint8_t copies_read = (data[size - 1] & 1) == 0;
	dev() = device_record{};
	for (int i = 0; i < kConnectorCount; ++i) {
		dev().present[i] = 1;
		dev().ee_read[i] = copies_read;
		std::memcpy(dev().board[i].ee_data, image, kEepromImageSize);
	}
	g_read_reply = text;

	char decoded[kHbSnLength + 1];
	check_sn_decode(image, decoded);
	check_sn_round_trip(image, decoded);
	check_sn_text(text.c_str());
	for (const int offset : {kPartA.test_start, kPartA.test_done, kPartB.test_start, kPartB.test_done, kEeOc2First,
				 kEeOc2Last})
		check_time_value(ee_be32(image, offset));
	if (text.size() >= kBjTextLength)
		check_time_text(text.c_str());

	check_views(board, reply_size);

	json_error_t error;
	json_t *request = json_loads(text.c_str(), 0, &error);
	if (request != nullptr) {
		json_t *body = json_object_get(request, "body");
		check_apply(json_is_object(body) ? body : request, board, image);
		check_update(request);
		json_decref(request);
	}
	check_fetch(board, text);
	return 0;
}
