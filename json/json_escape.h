// Texts put between the quotes of a JSON reply or request built from a fixed template.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace kx_json {

// What happens to bytes above 0x7f.
enum class high_bytes {
	escaped, // as \u00XX: for texts of unknown encoding or cut in a fixed buffer; the result is ASCII
	kept,    // for whole texts taken from parsed JSON, which are UTF-8 already
};

// Room for any text of `length` bytes once escaped, with its terminating zero.
constexpr std::size_t escaped_size(std::size_t length)
{
	return 6 * length + 1;
}

// Escapes quotes, backslashes and control bytes (DEL included) of `text` into `out`;
// the result is cut before an escape that would not fit, never inside one.
inline void escape_json_text(const char *text, char *out, std::size_t size, high_bytes high)
{
	if (size == 0)
		return;
	std::size_t o = 0;
	for (const unsigned char *c = (const unsigned char *)text; *c != 0; c++) {
		char one[7];
		if (*c == '"' || *c == '\\')
			snprintf(one, sizeof(one), "\\%c", *c);
		else if (*c < 0x20 || *c == 0x7f || (*c > 0x7f && high == high_bytes::escaped))
			snprintf(one, sizeof(one), "\\u%04x", *c);
		else
			snprintf(one, sizeof(one), "%c", *c);
		std::size_t len = strlen(one);
		if (o + len >= size)
			break;
		memcpy(out + o, one, len);
		o += len;
	}
	out[o] = '\0';
}

}  // namespace kx_json
