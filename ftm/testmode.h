// Chain and slot set-up of a board's chips and the test-mode collection of their good cores.
#pragma once

#include <cstdint>

namespace ftm {

// The core test sums the good cores of a board; the core check (diagnostics) writes a line per chip.
enum class collect_variant { core_test, core_check };

void chip_init(int fd, int chips);
void chip_slot_init(int fd, int chips);
// Runs chain and slot set-up, test mode and the core-mask fallback on an open, set-up port of
// connector cn; good chips add to *good_total. -1 when the core test ends the board on a
// register-read time-out, else 0.
int testmode_collect(int fd, int cn, collect_variant variant, int32_t *good_total);

}  // namespace ftm
