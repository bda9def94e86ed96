// Keys "dev.base" and "dev.sn": the controller board's versions, model name,
// serial number and MAC address.
#include <cstdint>
#include <cstring>

#include "device_record.h"
#include "handlers.h"
#include "hw_access.h"
#include "svc_log.h"
#include "text_util.h"

namespace {

constexpr const char *kBaseRefusal = VORN_REFUSAL("dev.base value");
constexpr std::size_t kMacTextLength = 12;

void dev_base_get(reply_buf &out)
{
	const device_record &d = dev();
	// The texts are escaped so that the reply stays one JSON object whatever they hold.
	char sw[json_escaped_size(sizeof(d.sw_version))];
	char hw[json_escaped_size(sizeof(d.hw_version))];
	char type[json_escaped_size(sizeof(d.type_name))];
	char sn[json_escaped_size(sizeof(d.dev_sn))];
	json_escape(d.sw_version, sw, sizeof(sw));
	json_escape(d.hw_version, hw, sizeof(hw));
	json_escape(d.type_name, type, sizeof(type));
	json_escape(d.dev_sn, sn, sizeof(sn));
	reply_data(out,
		   "{         \"code\":0,         \"error\":\"ok\",         \"body\":{               "
		   "\"sw_version\":\"%s\",               \"hw_version\":\"%s\",               \"type_name\":\"%s\","
		   "                \"dev_sn\":\"%s\"         }      }",
		   sw, hw, type, sn);
}

// Keeps at most 31 characters of the text and writes it to vendor storage;
// a failed write is logged there and changes no reply.
void store_serial_number(const char *text)
{
	device_record &d = dev();
	std::strncpy(d.dev_sn, text, sizeof(d.dev_sn) - 1);
	d.dev_sn[sizeof(d.dev_sn) - 1] = '\0';
	vendor_storage_write(VENDOR_SN_ID, d.dev_sn);
}

bool is_hex_text(const char *text)
{
	for (const char *p = text; *p != '\0'; ++p) {
		const char c = *p;
		if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
			return false;
	}
	return true;
}

void dev_base_set(const setting_request &req, reply_buf &out)
{
	if (dev().rdonly == 1) {
		reply_status(out, "{\"code\": -22, \"error\": \"No permission to modify dev.base\", \"body\": {} }");
		return;
	}
	json_t *body = req.body();
	if (body == nullptr) {
		svc_log(kLogError, "JSON invalid body");
		reply_status(out, kBaseRefusal);
		return;
	}
	if (json_t *sn = json_object_get(body, "dev_sn")) {
		if (!json_is_string(sn)) {
			svc_log(kLogError, "JSON invalid dev_sn string");
			reply_status(out, kBaseRefusal);
			return;
		}
		if (json_string_length(sn) == 0) {
			reply_status(out, kBaseRefusal);
			return;
		}
		store_serial_number(json_string_value(sn));
	}
	json_t *mac = json_object_get(body, "mac");
	if (mac == nullptr) {
		reply_status(out, VORN_REPLY_OK);
		return;
	}
	if (!json_is_string(mac)) {
		svc_log(kLogError, "JSON invalid dev mac string");
		reply_status(out, kBaseRefusal);
		return;
	}
	const char *text = json_string_value(mac);
	if (json_string_length(mac) != kMacTextLength || std::strlen(text) != kMacTextLength) {
		svc_log(kLogError, "mac string is not 12 character");
		reply_status(out, kBaseRefusal);
		return;
	}
	if (!is_hex_text(text)) {
		svc_log(kLogError, "check_mac_string string is not a HEX format character");
		reply_status(out, kBaseRefusal);
		return;
	}
	std::uint8_t bytes[kMacSize];
	hex_to_bytes(text, bytes, sizeof(bytes));
	vendor_storage_write(VENDOR_LAN_MAC_ID, bytes);
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void dev_base_run(const setting_request &req, reply_buf &out)
{
	if (req.action == kActGet)
		dev_base_get(out);
	else if (req.action == kActSet)
		dev_base_set(req, out);
	else
		reply_action_refusal(req, out);
}

void dev_sn_run(const setting_request &req, reply_buf &out)
{
	json_t *body = req.body();
	if (body == nullptr) {
		svc_log(kLogError, "JSON invalid body");
	} else {
		json_t *sn = json_object_get(body, "dev_sn");
		if (!json_is_string(sn))
			svc_log(kLogError, "JSON invalid dev_sn string");
		else
			store_serial_number(json_string_value(sn));
	}
	reply_status(out, VORN_REPLY_OK);
}
