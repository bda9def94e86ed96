// The request handler of bus object "Setting".
#pragma once

#include <string_view>

// Parses one request, routes it by key and action, writes exactly one reply
// and returns resp_size.
extern "C" int __setting_server(const char *msg, char *resp, int resp_size);

// Position of a key or action in its table, or -1.
int setting_key_index(std::string_view key);
int setting_action_index(std::string_view action);
