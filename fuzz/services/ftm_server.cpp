// Fuzz target of ftm_server, the request handler of "ftm": each input is a
// profile byte (which devices exist, how the ports answer, which peers are
// down) and up to eight texts: "S:<reply>" and "H:<reply>" set what "Setting"
// and "hwmond" answer from then on, every other text is a request. Replies are
// JSON while the peers' replies are; the service passes some peer texts on as
// they came.
#include <cstddef>
#include <cstdint>

#include "dispatch.h"
#include "fake_shell.h"
#include "ftm_machine.h"
#include "ftm_state.h"
#include "service_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const fuzz_services::fuzz_input input = fuzz_services::split_input(data, size);
	fuzz_services::reset_shell();
	ftm_machine::boot(input.profile);
	ftm::state_init();
	fuzz_services::reply_form form = fuzz_services::reply_form::json_object_or_empty;
	for (const std::string &text : input.requests) {
		if (text.rfind("S:", 0) == 0 || text.rfind("H:", 0) == 0) {
			if (text[0] == 'S')
				ftm_machine::set_setting_reply(text.substr(2));
			else
				ftm_machine::set_hwmond_reply(text.substr(2));
			form = fuzz_services::reply_form::any_text;
		} else {
			fuzz_services::call_handler(ftm::ftm_server, text.c_str(), form);
		}
	}
	ftm_machine::shut_down();
	return 0;
}
