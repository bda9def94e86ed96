// Stand-in for a mining program miner.ttyS0/1/3/5: registers its bus object, records each request it
// receives (one line "T request" in /run/kxsim/records/<name>, T in seconds since the twin booted) and answers
// ok. cfgsvc forwards the pools to it.
#include <time.h>
#include <vorn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string g_record;
double g_boot_time;  // the twin's time base: CLOCK_BOOTTIME at its boot

double twin_now() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9 - g_boot_time;
}

int on_request(const char* msg, char* resp, int resp_size) {
  FILE* f = fopen(g_record.c_str(), "a");
  if (f) {
    fprintf(f, "%.6f ", twin_now());
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
  if (FILE* b = fopen("/run/kxsim/boot_time", "r")) {
    if (fscanf(b, "%lf", &g_boot_time) != 1) g_boot_time = 0;
    fclose(b);
  }
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
