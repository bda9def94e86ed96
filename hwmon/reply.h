// Reply building of kx_hwmond: fixed texts, filled templates with blank removal, value escaping.
#pragma once

#include <stddef.h>

#include "hwmond_state.h"

namespace hwmond {

// A device text made safe to stand between the quotes of a JSON string.
struct json_text {
	char s[kTextSize * 6 + 1];
	const char *c_str() const { return s; }
};

// Takes at most kTextSize bytes of raw, up to its first NUL or newline, and escapes
// quotes, backslashes, control characters and bytes that are not UTF-8 for JSON.
json_text escape_value(const char *raw);

// Writes one fixed reply text; returns the reply size for the bus.
int reply_fixed(char *resp, int size, const char *text);
// Fills the template, then deletes every blank of the whole reply text.
int reply_compacted(char *resp, int size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
// Fills the template as it is.
int reply_plain(char *resp, int size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

}  // namespace hwmond
