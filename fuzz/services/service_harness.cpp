// The input split and the checked handler call shared by the service harnesses.
#include "service_harness.h"

#include <jansson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "vorn.h"

namespace fuzz_services {

namespace {

constexpr std::size_t kCapacity = VORN_MSG_BUFFER_SIZE;
constexpr std::size_t kGuardSize = 64;
constexpr unsigned char kMarker = 0xA5;
constexpr unsigned char kGuard = 0x5A;

// The bus's reply buffer: marker bytes up to the capacity, guard bytes behind.
struct reply_buffer {
	std::vector<char> bytes;
	// Bytes from the start that the last call may have written. Handlers write
	// their replies from the start, and a buffer cleared whole counts as written
	// whole, so only these go back to the marker before the next call.
	std::size_t written = 0;

	reply_buffer() : bytes(kCapacity + kGuardSize, static_cast<char>(kMarker))
	{
		std::memset(bytes.data() + kCapacity, kGuard, kGuardSize);
	}
};

reply_buffer &the_reply_buffer()
{
	static reply_buffer buffer;
	return buffer;
}

void check_reply_json(const char *reply, std::size_t len)
{
	json_error_t error;
	json_t *root = json_loadb(reply, len, 0, &error);
	if (!json_is_integer(json_object_get(root, "code")))
		std::fprintf(stderr, "reply: %.*s\n%s\n", static_cast<int>(len < 2048 ? len : 2048), reply,
			     root == nullptr ? error.text : "");
	FUZZ_CHECK(root != nullptr, "the reply is a JSON text");
	FUZZ_CHECK(json_is_object(root), "the reply is a JSON object");
	FUZZ_CHECK(json_is_integer(json_object_get(root, "code")), "the reply carries an integer code");
	json_decref(root);
}

} // namespace

fuzz_input split_input(const std::uint8_t *data, std::size_t size)
{
	fuzz_input input;
	if (size == 0)
		return input;
	input.profile = data[0];
	const char *text = reinterpret_cast<const char *>(data + 1);
	const char *end = text + (size - 1);
	while (text < end && input.requests.size() < kMaxRequests) {
		const void *nul = std::memchr(text, '\0', static_cast<std::size_t>(end - text));
		const char *stop = nul != nullptr ? static_cast<const char *>(nul) : end;
		input.requests.emplace_back(text, stop);
		text = stop + 1;
	}
	return input;
}

const char *call_handler(message_cb cb, const char *request, reply_form form)
{
	reply_buffer &rb = the_reply_buffer();
	std::vector<char> &buffer = rb.bytes;
	std::memset(buffer.data(), kMarker, rb.written);

	const int returned = cb(request, buffer.data(), static_cast<int>(kCapacity));

	FUZZ_CHECK(returned > 0, "the handler returns a reply size the bus sends");
	for (std::size_t i = 0; i < kGuardSize; ++i)
		FUZZ_CHECK(static_cast<unsigned char>(buffer[kCapacity + i]) == kGuard,
			   "no byte written behind the reply capacity");
	const char *reply = buffer.data();
	const void *nul = std::memchr(reply, '\0', kCapacity);
	FUZZ_CHECK(nul != nullptr, "a reply is written and terminated within the capacity");
	const std::size_t len = static_cast<std::size_t>(static_cast<const char *>(nul) - reply);
	const void *untouched = std::memchr(reply + len, kMarker, kCapacity - len);
	rb.written = untouched != nullptr ? static_cast<std::size_t>(static_cast<const char *>(untouched) - reply)
					  : kCapacity;
	FUZZ_CHECK(len > 0 || form != reply_form::json_object, "the reply is not empty");
	if (len > 0 && form != reply_form::any_text)
		check_reply_json(reply, len);
	// KX_FUZZ_SHOW=1 prints every request and reply, to read what a corpus input does.
	static const bool show = std::getenv("KX_FUZZ_SHOW") != nullptr;
	if (show)
		std::fprintf(stderr, "> %s\n< %s\n", request, reply);
	return reply;
}

} // namespace fuzz_services
