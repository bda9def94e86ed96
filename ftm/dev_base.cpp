// Key "ftm_dev.base": write and verify, or read, the controller's serial number and MAC address.
#include <cctype>
#include <cstdio>
#include <cstring>

#include <json_access.h>
#include <json_escape.h>
#include <vorn_envelope.h>

#include "ftm_log.h"
#include "handlers.h"
#include "vendor_storage.h"

namespace ftm {

using namespace kx_json;

namespace {

constexpr const char *kDevBaseFailed = VORN_REFUSAL("ftm dev base");
constexpr size_t kMacDigits = 12;

// The read reply keeps its runs of 12, 16, 21, 21, 16, 12 and 8 blanks.
#define BLANKS8 "        "
#define BLANKS4 "    "
constexpr const char *kDevBaseReply =
	"{\"code\":0, \"error\":\"ok\"," BLANKS8 BLANKS4 "\"body\":{" BLANKS8 BLANKS8
	"\"ftm_dev.base\":{" BLANKS8 BLANKS8 BLANKS4 " \"sn\": \"%s\"," BLANKS8 BLANKS8 BLANKS4
	" \"mac\": \"%s\"" BLANKS8 BLANKS8 "}" BLANKS8 BLANKS4 "}" BLANKS8 "}";
#undef BLANKS8
#undef BLANKS4

int hex_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

bool check_mac_string(const char *mac)
{
	if (strlen(mac) != kMacDigits) {
		err("check_mac_string mac string length is not 12.\n");
		return false;
	}
	for (size_t i = 0; i < kMacDigits; i++) {
		if (hex_value(mac[i]) < 0) {
			err("check_mac_string string is not a valid character.\n");
			return false;
		}
	}
	return true;
}

// Writes the serial number, reads it back and compares over the written length.
bool write_and_verify_sn(const char *sn)
{
	vendor_storage_write(VENDOR_SN_ID, sn);
	uint8_t back[100] = {};
	char read_sn[kVendorReadMax + 1] = {};
	int n = vendor_storage_read(VENDOR_SN_ID, back, sizeof(back));
	if (n >= 1)
		memcpy(read_sn, back, (size_t)n < kVendorReadMax ? (size_t)n : kVendorReadMax);
	else
		err("vendor_storage_read_sn Error: failed to vendor_storage_read!\n");
	err("ftm_set_dev_base write sn %s read sn %s.\n", sn, read_sn);
	if (strncmp(sn, read_sn, strlen(sn)) != 0) {
		err("ftm_set_dev_base write sn and read sn compare fail.\n");
		return false;
	}
	err("ftm_set_dev_base write sn and read sn pass.\n");
	return true;
}

// Converts the 12 checked digits to 6 bytes and writes the lower-cased text copy to lower.
void mac_to_bytes(const char *mac, uint8_t *bytes, char *lower)
{
	for (size_t i = 0; i < kMacBytes; i++) {
		int high = hex_value(mac[2 * i]);
		int low = hex_value(mac[2 * i + 1]);
		err("ftm_set_dev_base %d %c %d %d.\n", (int)i, mac[2 * i + 1], high, low);
		bytes[i] = (uint8_t)(high << 4 | low);
	}
	for (size_t i = 0; i < kMacDigits; i++)
		lower[i] = (char)tolower((unsigned char)mac[i]);
	lower[kMacDigits] = '\0';
}

bool write_and_verify_mac(const char *mac)
{
	if (!check_mac_string(mac))
		return false;
	uint8_t bytes[kMacBytes];
	char lower[kMacDigits + 1];
	mac_to_bytes(mac, bytes, lower);
	vendor_storage_write(VENDOR_LAN_MAC_ID, bytes);
	uint8_t back[100] = {};
	char read_mac[kMacDigits + 1] = {};
	if (vendor_storage_read(VENDOR_LAN_MAC_ID, back, sizeof(back)) >= 0)
		for (size_t i = 0; i < kMacBytes; i++)
			snprintf(read_mac + 2 * i, 3, "%02x", back[i]);
	err("ftm_set_dev_base write mac %s read mac %s.\n", mac, read_mac);
	if (strncmp(lower, read_mac, kMacDigits) != 0) {
		err("ftm_set_dev_base write mac and read mac not the same, fail.\n");
		return false;
	}
	err("ftm_set_dev_base write mac and read mac pass.\n");
	return true;
}

}  // namespace

void ftm_set_dev_base(const json_t *request, char *resp, int size)
{
	const json_t *body = member_object(request, "body");
	const json_t *base = body ? member_object(body, "ftm_base") : nullptr;
	const char *sn = base ? member_string(base, "sn") : nullptr;
	const char *mac = sn ? member_string(base, "mac") : nullptr;
	if (body == nullptr)
		err("ftm_set_dev_base JSON invalid body.\n");
	else if (base == nullptr)
		err("ftm_set_dev_base JSON invalid ftm_base.\n");
	else if (sn == nullptr)
		err("ftm_set_dev_base JSON invalid sn.\n");
	else if (mac == nullptr)
		err("ftm_set_dev_base JSON invalid mac.\n");
	if (mac == nullptr)
		return reply(resp, size, kDevBaseFailed);
	// The storage gives back at most 50 bytes: a longer number could never be verified.
	if (strlen(sn) > kVendorReadMax) {
		err("ftm_set_dev_base sn too long: %d bytes, at most %d.\n", (int)strlen(sn), (int)kVendorReadMax);
		return reply(resp, size, kDevBaseFailed);
	}
	if (!write_and_verify_sn(sn) || !write_and_verify_mac(mac))
		return reply(resp, size, kDevBaseFailed);
	reply(resp, size, VORN_REPLY_OK);
}

void ftm_get_dev_base(const json_t *, char *resp, int size)
{
	uint8_t sn[kVendorReadMax + 1] = {};
	uint8_t mac[kMacBytes] = {};
	vendor_storage_read(VENDOR_SN_ID, sn, kVendorReadMax);
	vendor_storage_read(VENDOR_LAN_MAC_ID, mac, sizeof(mac));
	char mac_text[3 * kMacBytes] = {};
	for (size_t i = 0; i < kMacBytes; i++)
		snprintf(mac_text + 3 * i, sizeof(mac_text) - 3 * i, i + 1 < kMacBytes ? "%02x:" : "%02x", mac[i]);
	err("ftm_get_dev_base sn %s mac %s.\n", (const char *)sn, mac_text);
	// The stored number is whatever a set wrote, bytes of any value.
	char sn_text[escaped_size(kVendorReadMax)];
	escape_json_text((const char *)sn, sn_text, sizeof(sn_text), high_bytes::escaped);
	snprintf(resp, (size_t)size, kDevBaseReply, sn_text, mac_text);
}

}  // namespace ftm
