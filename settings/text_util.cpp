// strip_spaces and json_escape.
#include "text_util.h"

#include <cstdio>
#include <cstring>

int strip_spaces(char *text)
{
	char *write = text;
	for (const char *read = text; *read != '\0'; ++read) {
		if (*read != ' ')
			*write++ = *read;
	}
	*write = '\0';
	return static_cast<int>(write - text) + 1;
}

namespace {
// The short escape of a character, or nullptr when it has none.
const char *short_escape(unsigned char c)
{
	switch (c) {
	case '"': return "\\\"";
	case '\\': return "\\\\";
	case '\b': return "\\b";
	case '\f': return "\\f";
	case '\n': return "\\n";
	case '\r': return "\\r";
	case '\t': return "\\t";
	default: return nullptr;
	}
}
} // namespace

std::size_t json_escape(const char *in, char *out, std::size_t out_size)
{
	if (out_size == 0)
		return 0;
	std::size_t used = 0;
	for (const unsigned char *p = reinterpret_cast<const unsigned char *>(in); *p != '\0'; ++p) {
		char piece[8];
		std::size_t piece_len;
		if (const char *esc = short_escape(*p)) {
			piece_len = std::strlen(esc);
			std::memcpy(piece, esc, piece_len);
		} else if (*p < 0x20) {
			piece_len = static_cast<std::size_t>(std::snprintf(piece, sizeof(piece), "\\u%04x", *p));
		} else {
			piece[0] = static_cast<char>(*p);
			piece_len = 1;
		}
		if (used + piece_len >= out_size)
			break;
		std::memcpy(out + used, piece, piece_len);
		used += piece_len;
	}
	out[used] = '\0';
	return used;
}
