// A reply put together piece by piece in the reply buffer: cut at its capacity, always terminated.
#pragma once

#include <cstddef>

namespace ftm {

class reply_writer {
public:
	reply_writer(char *resp, int size);

	// Appends text as it is (the fixed parts of a reply template).
	void put(const char *text);
	// Appends text as it may stand between the quotes of a JSON string: quotes, backslashes and
	// control bytes escaped (CR, LF and tab as \r, \n and \t), bytes above 0x7f as \u00XX. A cut
	// falls before an escape, never inside one.
	void put_json(const char *text);
	size_t length() const { return len_; }

private:
	void put_bytes(const char *bytes, size_t n);

	char *buf_;
	size_t cap_;
	size_t len_ = 0;
	bool full_ = false;
};

}  // namespace ftm
