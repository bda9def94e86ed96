// The options of `kxsim up`, which `kxsim farm up` takes as well.
#include "up_options.h"

#include <cstdio>
#include <cstdlib>

#include "fsutil.h"

namespace kxsim {

int parse_up_options(const std::vector<std::string>& args, size_t from, const char* verb, UpOptions& up,
                     const std::function<int()>& usage) {
  twin::LaunchOptions& o = up.launch;
  o.restart_on_exit = true;  // the board's supervisor brings its programs back
  for (size_t i = from; i < args.size(); i++) {
    const std::string& a = args[i];
    bool takes_value = a == "--machine" || a == "--program" || a == "--faketime" || a == "--speed" ||
                       a == "--build" || a == "--http";
    if (takes_value && i + 1 >= args.size()) {
      fprintf(stderr, "kxsim: %s: %s needs a value\n", verb, a.c_str());
      return 2;
    }
    if (a == "--machine") {
      std::string path = args[++i];
      if (!twin::read_text(path, o.machine_json)) {
        fprintf(stderr, "kxsim: %s: cannot read %s\n", verb, path.c_str());
        return 2;
      }
    } else if (a == "--program") {
      o.programs.push_back(args[++i]);
    } else if (a == "--faketime") {
      o.faketime.push_back(args[++i]);
    } else if (a == "--speed") {
      char* end = nullptr;
      o.faketime_speed = strtod(args[++i].c_str(), &end);
      if (*end || o.faketime_speed <= 0) {
        fprintf(stderr, "kxsim: %s: --speed takes a positive number\n", verb);
        return 2;
      }
    } else if (a == "--build") {
      o.build_dir = args[++i];
    } else if (a == "--http") {
      char* end = nullptr;
      long port = strtol(args[++i].c_str(), &end, 10);
      if (*end || port < 1 || port > 65535) {
        fprintf(stderr, "kxsim: %s: --http takes a port number (1 to 65535)\n", verb);
        return 2;
      }
      up.http_port = static_cast<int>(port);
    } else if (a == "--reboot-restarts") {
      o.reboot_restarts = true;
    } else if (a == "--bare") {
      up.bare = true;
    } else {
      fprintf(stderr, "kxsim: %s: unknown option %s\n", verb, a.c_str());
      return usage();
    }
  }
  if (up.bare && !o.programs.empty()) {
    fprintf(stderr, "kxsim: %s: --bare starts no program; leave out --program or --bare\n", verb);
    return 2;
  }
  o.board_programs = !up.bare && o.programs.empty();
  return 0;
}

}  // namespace kxsim
