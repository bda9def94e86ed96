// Client connections, object registry and request routing of the bus daemon.
#pragma once

namespace broker {

// Takes ownership of an accepted, non-blocking connection and greets it.
void client_connected(int fd);

// Drops every client and object (daemon exit).
void shutdown();

} // namespace broker
