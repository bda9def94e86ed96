// What the request-handler harnesses share: the fuzz input cut into a machine
// profile and request texts, and one call of a message callback with the bus's
// reply buffer behind guard bytes, checked the same way for every service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz_services {

// At most this many requests per input, so one input stays fast.
inline constexpr std::size_t kMaxRequests = 8;

struct fuzz_input {
	std::uint8_t profile = 0;          // first byte: which devices the requests meet
	std::vector<std::string> requests; // the rest, cut at NUL bytes
};

fuzz_input split_input(const std::uint8_t *data, std::size_t size);

using message_cb = int (*)(const char *msg, char *resp, int resp_size);

// What a reply must be beyond a terminated text within the capacity.
enum class reply_form {
	json_object,          // a JSON object with an integer "code"
	json_object_or_empty, // kx_ftm: a JSON object, or nothing when it has no board list
	any_text,             // a reply that passes on a peer's text as it came
};

// Calls cb as the bus does, with a reply buffer of the bus's capacity filled
// with a marker and followed by guard bytes. Checks the returned size, a
// terminated reply within the capacity, untouched guard bytes and the reply's
// form. Returns the reply text, valid until the next call.
const char *call_handler(message_cb cb, const char *request, reply_form form = reply_form::json_object);

} // namespace fuzz_services
