// JSON text <-> blobmsg: the ubus tool's argument parsing and reply printing.
#include <libubox/blobmsg_json.h>

#include "blobmsg_check.h"

#include <jansson.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool add_json_value(blob_buf *b, const char *name, json_t *value);

bool add_json_members(blob_buf *b, json_t *object)
{
	const char *key;
	json_t *value;
	json_object_foreach(object, key, value) {
		if (!add_json_value(b, key, value))
			return false;
	}
	return true;
}

bool add_json_value(blob_buf *b, const char *name, json_t *value)
{
	switch (json_typeof(value)) {
	case JSON_OBJECT: {
		void *cookie = blobmsg_open_table(b, name);
		if (!cookie || !add_json_members(b, value))
			return false;
		blobmsg_close_table(b, cookie);
		return true;
	}
	case JSON_ARRAY: {
		void *cookie = blobmsg_open_array(b, name);
		if (!cookie)
			return false;
		size_t i;
		json_t *element;
		json_array_foreach(value, i, element) {
			if (!add_json_value(b, nullptr, element))
				return false;
		}
		blobmsg_close_array(b, cookie);
		return true;
	}
	case JSON_STRING:
		return blobmsg_add_string(b, name, json_string_value(value)) == 0;
	case JSON_INTEGER: {
		json_int_t v = json_integer_value(value);
		if (v >= INT32_MIN && v <= INT32_MAX)
			return blobmsg_add_u32(b, name, static_cast<uint32_t>(v)) == 0;
		return blobmsg_add_u64(b, name, static_cast<uint64_t>(v)) == 0;
	}
	case JSON_REAL:
		return blobmsg_add_double(b, name, json_real_value(value)) == 0;
	case JSON_TRUE:
	case JSON_FALSE:
		return blobmsg_add_u8(b, name, json_is_true(value)) == 0;
	case JSON_NULL:
		return blobmsg_add_field(b, BLOBMSG_TYPE_UNSPEC, name, nullptr, 0) == 0;
	}
	return false;
}

// The element itself is well formed: its name, and a scalar's size. A list's
// members are checked as they are printed, so a bad member leaves out only
// itself, as libubox's printer does.
bool element_fits(const blob_attr *attr)
{
	return blobmsg_check::name_fits(attr, false) && blobmsg_check::payload_fits(attr);
}

// Room for any number: "%lf" of the largest double has 317 characters.
constexpr size_t kNumberText = 320;

// Indentation stops growing after this many tabs, as libubox's does.
constexpr int kMaxIndentTabs = 16;

struct json_writer {
	std::string out;
	bool indent = false;
	int level = 0;
	blobmsg_json_format_t custom = nullptr;
	void *priv = nullptr;

	void separator()
	{
		if (!indent)
			return;
		out += '\n';
		out.append(static_cast<size_t>(level < kMaxIndentTabs ? level : kMaxIndentTabs), '\t');
	}

	void string(const char *str)
	{
		out += '"';
		for (const unsigned char *p = reinterpret_cast<const unsigned char *>(str); *p; p++) {
			switch (*p) {
			case '\b': out += "\\b"; break;
			case '\n': out += "\\n"; break;
			case '\t': out += "\\t"; break;
			case '\r': out += "\\r"; break;
			case '"': out += "\\\""; break;
			case '\\': out += "\\\\"; break;
			default:
				if (*p < ' ') {
					char esc[8];
					snprintf(esc, sizeof(esc), "\\u%04x", *p);
					out += esc;
				} else {
					out += static_cast<char>(*p);
				}
			}
		}
		out += '"';
	}

	void list(const blob_attr *data, size_t len, bool array)
	{
		out += array ? '[' : '{';
		level++;
		separator();
		bool first = true;
		const blob_attr *pos;
		size_t rem = len;
		__blob_for_each_attr(pos, data, rem) {
			if (!first) {
				out += ',';
				separator();
			}
			element(pos, array, !array);
			first = false;
		}
		level--;
		separator();
		out += array ? ']' : '}';
	}

	// A table member always gets its key, even when its name is empty or
	// starts with a NUL: a member without one would not be JSON.
	void element(const blob_attr *attr, bool without_name, bool key_required = false)
	{
		if (!element_fits(attr))
			return;
		if (!without_name && blob_is_extended(attr) && (key_required || blobmsg_name(attr)[0])) {
			string(blobmsg_name(attr));
			out += indent ? ": " : ":";
		}
		auto *a = const_cast<blob_attr *>(attr);
		if (custom) {
			if (const char *text = custom(priv, a)) {
				out += text;
				return;
			}
		}
		char num[kNumberText];
		switch (blob_id(attr)) {
		case BLOBMSG_TYPE_UNSPEC:
			out += "null";
			break;
		case BLOBMSG_TYPE_INT8:
			out += blobmsg_get_u8(a) ? "true" : "false";
			break;
		case BLOBMSG_TYPE_INT16:
			snprintf(num, sizeof(num), "%d", static_cast<int16_t>(blobmsg_get_u16(a)));
			out += num;
			break;
		case BLOBMSG_TYPE_INT32:
			snprintf(num, sizeof(num), "%d", static_cast<int32_t>(blobmsg_get_u32(a)));
			out += num;
			break;
		case BLOBMSG_TYPE_INT64:
			snprintf(num, sizeof(num), "%" PRId64, static_cast<int64_t>(blobmsg_get_u64(a)));
			out += num;
			break;
		case BLOBMSG_TYPE_DOUBLE: {
			// JSON has no NaN or infinity: those print as null.
			const double value = blobmsg_get_double(a);
			if (std::isfinite(value)) {
				snprintf(num, sizeof(num), "%lf", value);
				out += num;
			} else {
				out += "null";
			}
			break;
		}
		case BLOBMSG_TYPE_STRING:
			string(blobmsg_get_string(a));
			break;
		case BLOBMSG_TYPE_ARRAY:
			list(static_cast<const blob_attr *>(blobmsg_data(attr)), blobmsg_data_len(attr), true);
			break;
		case BLOBMSG_TYPE_TABLE:
			list(static_cast<const blob_attr *>(blobmsg_data(attr)), blobmsg_data_len(attr), false);
			break;
		}
	}
};

} // namespace

extern "C" {

bool blobmsg_add_json_from_string(struct blob_buf *b, const char *str)
{
	json_error_t error;
	json_t *root = json_loads(str, JSON_DECODE_ANY, &error);
	if (!root)
		return false;
	bool ok = json_is_object(root) && add_json_members(b, root);
	json_decref(root);
	return ok;
}

char *blobmsg_format_json_indent(struct blob_attr *attr, bool list, int indent)
{
	return blobmsg_format_json_with_cb(attr, list, nullptr, nullptr, indent);
}

char *blobmsg_format_json_with_cb(struct blob_attr *attr, bool list, blobmsg_json_format_t cb, void *priv, int indent)
{
	json_writer w;
	w.custom = cb;
	w.priv = priv;
	if (indent >= 0) {
		w.indent = true;
		w.level = indent;
	}
	if (list) {
		bool array = blob_is_extended(attr) && blobmsg_type(attr) == BLOBMSG_TYPE_ARRAY;
		w.list(static_cast<const blob_attr *>(blobmsg_data(attr)), blobmsg_data_len(attr), array);
	} else {
		w.element(attr, false);
	}
	return strdup(w.out.c_str());
}

} // extern "C"
