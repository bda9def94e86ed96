// Key "pools": get, set, clean, 2miner, and the forward to the mining programs.
#pragma once

#include <cstddef>

// Formats the forward request with the current pools table into buf[size]
// with every space removed; returns false when it does not fit.
bool format_pools_forward(char *buf, std::size_t size);

// Sends the current pools to the miner object of every present connector.
void pools_to_miners();
