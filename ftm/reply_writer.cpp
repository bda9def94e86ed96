// Bounded, piecewise reply writing with JSON string escapes.
#include "reply_writer.h"

#include <cstdio>
#include <cstring>

namespace ftm {

namespace {

// The two-character escape of c, or 0 when it has none.
char short_escape(unsigned char c)
{
	switch (c) {
	case '"': return '"';
	case '\\': return '\\';
	case '\b': return 'b';
	case '\f': return 'f';
	case '\n': return 'n';
	case '\r': return 'r';
	case '\t': return 't';
	default: return 0;
	}
}

}  // namespace

reply_writer::reply_writer(char *resp, int size) : buf_(resp), cap_(size > 0 ? (size_t)size : 0)
{
	if (cap_ > 0)
		buf_[0] = '\0';
}

void reply_writer::put_bytes(const char *bytes, size_t n)
{
	if (full_ || cap_ == 0)
		return;
	if (len_ + n >= cap_) {
		full_ = true;
		return;
	}
	memcpy(buf_ + len_, bytes, n);
	len_ += n;
	buf_[len_] = '\0';
}

void reply_writer::put(const char *text)
{
	// A fixed part that does not fit whole is kept as far as it goes, as a cut reply would be.
	size_t n = strlen(text);
	if (!full_ && cap_ > 0 && len_ + n >= cap_)
		n = cap_ - 1 - len_;
	put_bytes(text, n);
}

void reply_writer::put_json(const char *text)
{
	for (const unsigned char *c = (const unsigned char *)text; *c != 0 && !full_; c++) {
		char one[7];
		size_t n = 1;
		if (char e = short_escape(*c)) {
			one[0] = '\\';
			one[1] = e;
			n = 2;
		} else if (*c < 0x20 || *c >= 0x7f) {
			n = (size_t)snprintf(one, sizeof(one), "\\u%04x", *c);
		} else {
			one[0] = (char)*c;
		}
		put_bytes(one, n);
	}
}

}  // namespace ftm
