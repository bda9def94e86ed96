// Requests of the settings service to the hardware monitor "hwmond": fans,
// hash-board enable, main power and the hash-board EEPROMs.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <json_access.h>

#include "bus_link.h"
#include "hw_access.h"
#include "svc_log.h"

namespace {

constexpr const char *kHwmond = "hwmond";

constexpr const char *kFansDutyRequest =
	"{\"action\":\"set\",\"key\":\"fans.duty\",\"body\":{   \"fans\":{\"inlet\":\"%s\",\"outlet\":\"%s\"}}}";
constexpr const char *kHashBoardRequest =
	"{\"action\":\"set\",\"key\":\"hash_board.only\",\"body\":{    \"value\":\"%s\",\"%s\":{\"board_en\":\"%s\","
	"\"core_reset\":\"%s\"}}}";
constexpr const char *kPowerSetRequest = "{\"action\":\"set\",\"key\":\"power.all\",        "
					 "\"body\":{\"power\":{\"power_vol\":\"%d\",\"power_en\":\"%d\"}}}";
[[maybe_unused]] constexpr const char *kPowerGetRequest = "{\"action\":\"get\",\"key\":\"power.all\",\"body\":{}}";
constexpr const char *kEepromGetRequest = "{\"action\":\"get\",\"key\":\"eeprom\",\"body\":         "
					  "{\"eeprom_data\":{\"index\":%d,\"offset\":0,\"size\":%d}}}";
constexpr const char *kEepromSetRequest =
	"{\"action\":\"set\",\"key\":\"eeprom\",\"body\":         "
	"{\"eeprom_data\":{\"index\":%d,\"offset\":%d,\"size\":%d,\"data\":\"%s\"}}}";

constexpr int kSmallReply = 256;
[[maybe_unused]] constexpr int kPowerReply = 512;
constexpr int kEepromReply = 1024;
constexpr int kEepromSetReply = 128;

// Parses a reply only within its buffer; a reply the bus cut at the
// buffer's end is no complete JSON text and fails here.
json_t *parse_reply(const char *resp, std::size_t cap)
{
	const std::size_t len = strnlen(resp, cap);
	json_error_t error;
	return json_loadb(resp, len, 0, &error);
}

int length_within(const char *resp, std::size_t cap)
{
	return static_cast<int>(strnlen(resp, cap));
}

} // namespace

int set_fans_duty(const char *inlet, const char *outlet)
{
	char request[256];
	std::snprintf(request, sizeof(request), kFansDutyRequest, inlet, outlet);
	char resp[kSmallReply];
	bus_transfer(kHwmond, request, resp, sizeof(resp));
	svc_log(kLogInfo, "set fans duty inlet:%s, outlet:%s.", inlet, outlet);
	return 0;
}

int Set_HashBoard(const char *name, const char *board_en, const char *core_reset)
{
	char request[256];
	std::snprintf(request, sizeof(request), kHashBoardRequest, name, name, board_en, core_reset);
	char resp[kSmallReply];
	const int ret = bus_transfer(kHwmond, request, resp, sizeof(resp));
	svc_log(kLogDebug, "Set_HashBoard ret: %d, resp: %s ", ret, resp);
	return 0;
}

int AC_PowerSet(int power_vol, int power_en)
{
	char request[256];
	std::snprintf(request, sizeof(request), kPowerSetRequest, power_vol, power_en);
	char resp[kSmallReply];
	const int ret = bus_transfer(kHwmond, request, resp, sizeof(resp));
	svc_log(kLogDebug, "AC_PowerSet ret: %d, resp: %s ", ret, resp);
	return 0;
}

#if CFGSVC_VARIANT == 1
int prase_power_all()
{
	char resp[kPowerReply];
	const int ret = bus_transfer(kHwmond, kPowerGetRequest, resp, sizeof(resp));
	svc_log(kLogDebug, "AC_PowerSet ret: %d, resp: %s ", ret, resp);
	kx_json::json_owner root(parse_reply(resp, sizeof(resp)));
	if (root.get() == nullptr) {
		svc_log(kLogError, "Error prase_power_all parsing JSON payload! ");
		return -1;
	}
	if (parse_return(root.get()) != 0) {
		svc_log(kLogError, "parse return error: NULL");
		return -1;
	}
	json_t *body = json_object_get(root.get(), "body");
	if (body == nullptr) {
		svc_log(kLogError, "return body return NULL");
		return -1;
	}
	json_t *power = json_object_get(body, "power");
	if (power == nullptr) {
		svc_log(kLogError, "return power return NULL");
		return -1;
	}
	json_t *vol = json_object_get(power, "power_vol");
	if (vol == nullptr) {
		svc_log(kLogError, "return power_vol return NULL");
		return -1;
	}
	const char *text = json_string_value(vol);
	const int value = text != nullptr ? std::atoi(text) : 0;
	if (value >= 1000) {
		svc_log(kLogInfo, "get power vol = %d0mV", value);
		return value;
	}
	svc_log(kLogError, "return power_vol=%d0 < 10000mV", value);
	return -1;
}
#endif

int parse_return(json_t *reply)
{
	json_t *error = json_object_get(reply, "error");
	if (error == nullptr) {
		svc_log(kLogError, "json_object_get return NULL");
		return -1;
	}
	if (!json_is_string(error)) {
		svc_log(kLogError, "key is not string");
		return -1;
	}
	int result;
	json_t *code = json_object_get(reply, "code");
	if (code == nullptr) {
		svc_log(kLogError, "json_object_get return NULL");
		result = -1;
	} else if (!json_is_integer(code)) {
		svc_log(kLogError, "key is not integer");
		result = -1;
	} else if (json_integer_value(code) == 0) {
		return 0;
	} else {
		// Any non-zero code is a failure, also one whose low 32 bits are 0.
		const json_int_t value = json_integer_value(code);
		result = value >= INT_MIN && value <= INT_MAX ? static_cast<int>(value) : -1;
		svc_log(kLogError, "return code : %lld", static_cast<long long>(value));
	}
	const char *text = json_string_value(error);
	if (text[0] != '\0')
		svc_log(kLogError, "parse return error: %s", text);
	else
		svc_log(kLogError, "parse return error: NULL");
	return result;
}

int get_eeprom_data(int board)
{
	if (board < 0 || board >= kConnectorCount)
		return -1;
	char request[256];
	std::snprintf(request, sizeof(request), kEepromGetRequest, board & 1, kEepromImageSize);
	svc_log(kLogDebug, "get_eeprom_data msg: %s", request);
	char resp[kEepromReply];
	bus_transfer(kHwmond, request, resp, sizeof(resp));
	svc_log(kLogDebug, "ee sterlen %d resp: %s ", length_within(resp, sizeof(resp)), resp);
	return prase_eeprom_data(board, resp, sizeof(resp));
}

namespace {

bool all_hex_digits(const char *text)
{
	for (const char *p = text; *p != '\0'; ++p) {
		const char c = *p;
		if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
			return false;
	}
	return true;
}

} // namespace

int prase_eeprom_data(int board, const char *resp, std::size_t resp_cap)
{
	if (board < 0 || board >= kConnectorCount)
		return -1;
	kx_json::json_owner root(parse_reply(resp, resp_cap));
	if (root.get() == nullptr) {
		svc_log(kLogError, "Error prase_eeprom_data parsing JSON payload! ");
		return -1;
	}
	if (parse_return(root.get()) != 0)
		return -1;
	json_t *body = json_object_get(root.get(), "body");
	if (body == nullptr) {
		svc_log(kLogError, "return body return NULL");
		return -1;
	}
	json_t *eeprom = json_object_get(body, "eeprom");
	if (eeprom == nullptr) {
		svc_log(kLogError, "return eeprom_data return NULL");
		return -1;
	}
	json_t *offset = json_object_get(eeprom, "offset");
	if (offset == nullptr) {
		svc_log(kLogError, "return offset return NULL");
		return -1;
	}
	if (!json_is_integer(offset))
		svc_log(kLogError, "offset is not integer");
	json_t *size = json_object_get(eeprom, "size");
	if (size == nullptr) {
		svc_log(kLogError, "return size return NULL");
		return -1;
	}
	if (!json_is_integer(size))
		svc_log(kLogError, "size is not integer");
	json_t *data = json_object_get(eeprom, "data");
	if (data == nullptr) {
		svc_log(kLogError, "return data return NULL");
		return -1;
	}
	if (!json_is_string(data)) {
		svc_log(kLogError, "data is not string");
		return 0;
	}
	const char *hex = json_string_value(data);
	if (std::strlen(hex) % 2 != 0) {
		svc_log(kLogError, "The string is not an even number of characters!");
		return 0;
	}
	if (!all_hex_digits(hex)) {
		svc_log(kLogError, "The string string is not a HEX format character");
		return 0;
	}
	// Fewer digits than one image would leave most of the slot zeros.
	if (std::strlen(hex) < kImageHexSize) {
		svc_log(kLogError, "eeprom data of board %d holds %d hex digits, fewer than %d: read failed", board,
			static_cast<int>(std::strlen(hex)), static_cast<int>(kImageHexSize));
		return -1;
	}
	// A reply holds at most 1023 characters, so its data decodes to fewer than 512 bytes.
	std::uint8_t bytes[512] = {};
	hex_to_bytes(hex, bytes, sizeof(bytes));
	std::memcpy(dev().board[board].ee_data, bytes, kEepromImageSize);
	dev().ee_read[board] = 1;
	eeprom_dump(dev().board[board].ee_data);
	return 0;
}

int set_eeprom_data(int eeprom_index, int size, const char *hex_text)
{
	// The request carries the hex text of one image plus its fixed frame.
	char request[512];
	const int length = std::snprintf(request, sizeof(request), kEepromSetRequest, eeprom_index, 0, size, hex_text);
	if (length < 0 || static_cast<std::size_t>(length) >= sizeof(request)) {
		svc_log(kLogError, "set_eeprom_data: data of %d characters does not fit the request", size);
		return 0;
	}
	svc_log(kLogDebug, "set_eeprom_data msg: %s", request);
	char resp[kEepromSetReply];
	bus_transfer(kHwmond, request, resp, sizeof(resp));
	svc_log(kLogDebug, "ee sterlen %d resp: %s ", length_within(resp, sizeof(resp)), resp);
	return 0;
}
