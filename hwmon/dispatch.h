// The request handler of the "hwmond" bus object.
#pragma once

#include <string_view>

namespace hwmond {

// Message callback: writes exactly one reply text and returns the reply size.
int hwmond_server(const char *msg, char *resp, int resp_size);

// Position of a key in the key table, or -1.
int hwmond_parse_key(std::string_view key);

}  // namespace hwmond
