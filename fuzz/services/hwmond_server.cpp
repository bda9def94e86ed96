// Fuzz target of hwmond_server, the request handler of "hwmond": each input is a
// machine profile byte and up to eight request texts, handled in order on a
// freshly booted in-memory machine.
#include <cstddef>
#include <cstdint>

#include "dispatch.h"
#include "fake_shell.h"
#include "hwmond_machine.h"
#include "service_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const fuzz_services::fuzz_input input = fuzz_services::split_input(data, size);
	fuzz_services::reset_shell();
	hwmond_machine::boot(input.profile);
	for (const std::string &request : input.requests)
		fuzz_services::call_handler(hwmond::hwmond_server, request.c_str());
	hwmond_machine::shut_down();
	return 0;
}
