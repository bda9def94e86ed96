// ftm_server: the message callback of the "ftm" bus object.
#pragma once

#include <string_view>

#include <jansson.h>

namespace ftm {

int ftm_parse_key(const json_t *request);
int ftm_parse_action(const json_t *request);
int ftm_server(const char *msg, char *resp, int resp_size);
// The command-line threshold: one argument within 0..720 (compared unsigned, parsed like atoi)
// replaces the default; anything else keeps 600.
unsigned ftm_core_bench_from_args(int argc, const char *const *argv);

}  // namespace ftm
