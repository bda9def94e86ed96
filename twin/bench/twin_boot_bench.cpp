// Boot benchmark of the device twin: time from `up` to a bus ready for requests, and of `down`.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fsutil.h"
#include "launcher.h"

int main(int argc, char** argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 5;
  std::vector<double> up, ready, down;
  for (int i = 0; i < rounds; i++) {
    double t0 = twin::monotonic_seconds();
    twin::LaunchOptions o;
    o.owner_pid = getpid();
    twin::Launched l = twin::launch(o);
    if (!l.error.empty()) {
      fprintf(stderr, "boot failed: %s\n", l.error.c_str());
      return 1;
    }
    double t1 = twin::monotonic_seconds();
    // the first bus request answered: the broker replies "not found" for an object nobody registered
    twin::ExecOutcome r = twin::exec_in(l.run_dir, "ubus -t 2 list >/dev/null 2>&1; echo $?", 5000);
    double t2 = twin::monotonic_seconds();
    twin::shutdown_twin(l.run_dir, false);
    double t3 = twin::monotonic_seconds();
    if (r.status != 0) {
      fprintf(stderr, "bus not reachable in the twin\n");
      return 1;
    }
    up.push_back(t1 - t0);
    ready.push_back(t2 - t0);
    down.push_back(t3 - t2);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
  printf("twin up (bus and supervisor ready): median %.3f s, max %.3f s over %d boots\n", median(up), worst(up), rounds);
  printf("twin up to first bus request answered: median %.3f s, max %.3f s\n", median(ready), worst(ready));
  printf("twin down: median %.3f s, max %.3f s\n", median(down), worst(down));
  return median(ready) < 2.0 && median(down) < 2.0 ? 0 : 1;
}
