// What a fuzz harness asserts: a broken invariant prints what broke and aborts,
// which libFuzzer reports as a finding and the corpus replay as a failed test.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, what)                                                                 \
	do {                                                                                   \
		if (!(cond)) {                                                                 \
			std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", __FILE__, __LINE__, \
				     what, #cond);                                             \
			std::abort();                                                          \
		}                                                                              \
	} while (0)
