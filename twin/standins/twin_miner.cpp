// Stand-in for a mining program miner.ttyS0/1/3/5: registers its bus object, records each request it
// receives (one line in /run/kxsim/records/<name>) and answers ok. cfgsvc forwards the pools to it.
#include <vorn.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string g_record;

int on_request(const char* msg, char* resp, int resp_size) {
  FILE* f = fopen(g_record.c_str(), "a");
  if (f) {
    for (const char* p = msg; *p; p++) fputc(*p == '\n' ? ' ' : *p, f);
    fputc('\n', f);
    fclose(f);
  }
  int n = snprintf(resp, static_cast<size_t>(resp_size), "%s", "{\"code\": 0, \"error\": \"ok\", \"body\": {} }");
  return n < resp_size ? n : resp_size - 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : "miner.ttyS0";
  g_record = std::string("/run/kxsim/records/") + name;
  vorn_ctx* ctx = vorn_initialize(nullptr);
  if (!ctx) {
    fprintf(stderr, "%s: no bus\n", name);
    return 1;
  }
  if (vorn_set_obj_name(ctx, name) < 0) {
    fprintf(stderr, "%s: cannot register\n", name);
    return 1;
  }
  vorn_set_msg_cb(ctx, on_request);
  printf("%s: stand-in registered\n", name);
  fflush(stdout);
  vorn_run_loop(ctx);
  vorn_finalize(ctx);
  return 0;
}
