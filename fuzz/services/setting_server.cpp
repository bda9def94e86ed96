// Fuzz target of __setting_server, the request handler of "Setting": each input
// is a profile byte (boards, bus, vendor storage, modes) and up to eight request
// texts, handled in order on a fresh device record and database.
#include <cstddef>
#include <cstdint>

#include "dispatcher.h"
#include "fake_shell.h"
#include "fuzz_check.h"
#include "service_harness.h"
#include "settings_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const fuzz_services::fuzz_input input = fuzz_services::split_input(data, size);
	fuzz_services::reset_shell();
	settings_machine::boot(input.profile);
	for (const std::string &request : input.requests) {
		fuzz_services::call_handler(__setting_server, request.c_str());
		FUZZ_CHECK(settings_machine::reply_faults() == 0, "exactly one reply is written per request");
	}
	settings_machine::shut_down();
	return 0;
}
