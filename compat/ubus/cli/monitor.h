// The ubus tool's "monitor" command: every message the daemon receives and
// sends, one line each, as the platform's tool prints them.
#pragma once

#include <libubus.h>

namespace ubus_monitor {

// Selects the message types to print (-m, by name); false for an unknown name.
bool include_type(const char *name);
// Selects one direction (-M: "r" received, "t" transmitted); false otherwise.
bool only_direction(const char *which);

// Prints the bus's traffic until the loop ends (a signal, or the bus lost).
int run(ubus_context *ctx);

} // namespace ubus_monitor
