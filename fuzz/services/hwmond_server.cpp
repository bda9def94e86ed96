// Fuzz target of hwmond_server, the request handler of "hwmond": each input is a
// machine profile byte and up to eight request texts, handled in order on a
// freshly booted in-memory machine. A flash of more than 1000 counted cycles is
// not sent (see endless_flash).
#include <jansson.h>
#include <json_access.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "dispatch.h"
#include "fake_shell.h"
#include "hwmond_machine.h"
#include "service_harness.h"

namespace {

// Cycles a flash thread may blink here. A counted flash ignores the stop flag
// until its count is done (half a second a cycle on the board); a count of
// millions would hold one input for hours and tells nothing more than 1000 do.
constexpr int kMaxFlashCycles = 1000;

int low_32_bits(const json_t *member)
{
	return static_cast<int>(json_integer_value(member));
}

// A "leds" set that starts a counted flash (modes 1 to 4) of more cycles than the limit.
bool endless_flash(const std::string &request)
{
	kx_json::json_owner root = kx_json::parse_json(request.c_str());
	const char *key = kx_json::member_string(root.get(), "key");
	const json_t *body = kx_json::member_object(root.get(), "body");
	if (key == nullptr || std::strcmp(key, "leds") != 0 || body == nullptr)
		return false;
	const json_t *mode = json_object_get(body, "leds_flash");
	const json_t *count = json_object_get(body, "leds_time");
	return json_is_integer(mode) && json_is_integer(count) && low_32_bits(mode) >= 1 && low_32_bits(mode) <= 4 &&
	       low_32_bits(count) > kMaxFlashCycles;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const fuzz_services::fuzz_input input = fuzz_services::split_input(data, size);
	fuzz_services::reset_shell();
	hwmond_machine::boot(input.profile);
	for (const std::string &request : input.requests)
		if (!endless_flash(request))
			fuzz_services::call_handler(hwmond::hwmond_server, request.c_str());
	hwmond_machine::shut_down();
	return 0;
}
