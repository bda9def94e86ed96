// The twin a benchmark runs in, booted the same way by each of them.
#pragma once

#include <cstdio>
#include <memory>

#include "twin.h"

namespace bench {

// Boots a twin with these options; on failure says why on standard error and gives null.
inline std::unique_ptr<twin::Twin> boot_twin(const twin::BootOptions &opts)
{
	try {
		return twin::Twin::boot(opts);
	} catch (const std::exception &e) {
		std::fprintf(stderr, "twin: %s\n", e.what());
		return nullptr;
	}
}

} // namespace bench
