// Key "eeprom": hexadecimal reads and writes of the EEPROM windows, descriptors kept open.
#include "eeprom.h"

#include <string.h>

#include <json_access.h>
#include <vorn_envelope.h>

#include "handlers.h"
#include "hwmond_log.h"
#include "hwmond_state.h"
#include "reply.h"
#include "sysfs_io.h"

namespace hwmond {

using namespace kx_json;

namespace {

constexpr const char *kEepromTemplate =
	"{\"code\":0, \"error\":\"ok\",    \"body\":{        \"eeprom\":{"
	"            \"index\": %d,            \"offset\": %d,            \"size\": %d,"
	"            \"data\": \"%s\"        }    }    }";

bool is_hex_digit(char c)
{
	return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned nibble(char c) { return c <= '9' ? (unsigned)(c - '0') : (unsigned)(c - 0x37) & 0xF; }

struct eeprom_request {
	long long index = 0;
	long long offset = 0;
	long long size = 0;
	const char *data = nullptr;
};

// Member checks shared by get and set; prints the first member that failed.
bool parse_eeprom_request(const json_t *request, const char *op, bool with_data, eeprom_request *req)
{
	json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("%s JSON invalid body.\n", op);
		return false;
	}
	json_t *eeprom = member_object(body, "eeprom_data");
	if (eeprom == nullptr) {
		out("%s JSON invalid eeprom.\n", op);
		return false;
	}
	if (!member_integer(eeprom, "index", &req->index)) {
		out("%s JSON invalid index value.\n", op);
		return false;
	}
	if (!member_integer(eeprom, "offset", &req->offset)) {
		out("%s JSON invalid offset value.\n", op);
		return false;
	}
	if (!member_integer(eeprom, "size", &req->size)) {
		out("%s JSON invalid size value.\n", op);
		return false;
	}
	if (with_data) {
		req->data = member_string(eeprom, "data");
		if (req->data == nullptr) {
			out("%s JSON invalid data.\n", op);
			return false;
		}
	}
	return true;
}

}  // namespace

bool eeprom_window_ok(long long index, long long offset, long long byte_count)
{
	return index >= 0 && index < kEepromCount && offset >= 0 && offset <= kEepromWindow &&
	       byte_count >= 0 && byte_count <= kEepromWindow - offset;
}

bool hex_encode(const unsigned char *bytes, size_t count, char *out, size_t out_size)
{
	static const char digits[] = "0123456789ABCDEF";
	if (out_size < 2 * count + 1)
		return false;
	for (size_t i = 0; i < count; i++) {
		out[2 * i] = digits[bytes[i] >> 4];
		out[2 * i + 1] = digits[bytes[i] & 0xF];
	}
	out[2 * count] = '\0';
	return true;
}

hex_status hex_decode(const char *text, unsigned char *bytes, size_t capacity, size_t *count)
{
	size_t len = strlen(text);
	if (len % 2 != 0)
		return hex_status::odd_length;
	for (size_t i = 0; i < len; i++)
		if (!is_hex_digit(text[i]))
			return hex_status::not_hex;
	if (len / 2 > capacity)
		return hex_status::too_long;
	for (size_t i = 0; i < len / 2; i++)
		bytes[i] = (unsigned char)((nibble(text[2 * i]) << 4) | nibble(text[2 * i + 1]));
	*count = len / 2;
	return hex_status::ok;
}

int hwmond_get_eeprom(const json_t *request, char *resp, int size)
{
	static const char *refusal = VORN_REFUSAL("eeprom");
	eeprom_request req;
	if (!parse_eeprom_request(request, "hwmond_get_eeprom", false, &req))
		return reply_fixed(resp, size, refusal);
	if (!eeprom_window_ok(req.index, req.offset, req.size)) {
		out("hwmond_get_eeprom index %lld offset %lld size %lld out of range.\n", req.index,
		    req.offset, req.size);
		return reply_fixed(resp, size, refusal);
	}
	int fd = hw().eeproms[(size_t)req.index].fd;
	if (fd < 0)
		return reply_compacted(resp, size, kEepromTemplate, (int)req.index, (int)req.offset, 0, "");
	unsigned char bytes[kEepromWindow] = {};
	if (eeprom_read_at(fd, req.offset, bytes, (size_t)req.size) < 0)
		memset(bytes, 0, sizeof bytes);  // a failed read answers zero bytes
	char hex[2 * kEepromWindow + 1];
	hex_encode(bytes, (size_t)req.size, hex, sizeof hex);
	out("out = %s\n", hex);
	return reply_compacted(resp, size, kEepromTemplate, (int)req.index, (int)req.offset,
			       (int)(2 * req.size), hex);
}

int hwmond_set_eeprom(const json_t *request, char *resp, int size)
{
	static const char *refusal = VORN_REFUSAL("eeprom");
	eeprom_request req;
	if (!parse_eeprom_request(request, "hwmond_set_eeprom", true, &req))
		return reply_fixed(resp, size, refusal);
	err("hwmond_set_eeprom index %d offse %d size %d.\n", (int)req.index, (int)req.offset, (int)req.size);
	if (!eeprom_window_ok(req.index, req.offset, 0)) {
		out("hwmond_set_eeprom index %lld offset %lld out of range.\n", req.index, req.offset);
		return reply_fixed(resp, size, refusal);
	}
	unsigned char bytes[kEepromWindow];
	size_t count = 0;
	switch (hex_decode(req.data, bytes, (size_t)(kEepromWindow - req.offset), &count)) {
	case hex_status::odd_length:
		out("The string is not an even number of characters!\n");
		return reply_fixed(resp, size, refusal);
	case hex_status::not_hex:
		out("The string string is not a HEX format character\n");
		return reply_fixed(resp, size, refusal);
	case hex_status::too_long:
		out("hwmond_set_eeprom offset %lld data of %zu bytes out of range.\n", req.offset,
		    strlen(req.data) / 2);
		return reply_fixed(resp, size, refusal);
	case hex_status::ok:
		break;
	}
	int fd = hw().eeproms[(size_t)req.index].fd;
	if (fd >= 0 && count > 0)
		eeprom_write_at(fd, req.offset, bytes, count);  // a failed write is not reported
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

}  // namespace hwmond
