// Options the launcher hands to the twin's init (the run dir's "options" file).
#pragma once

#include <string>
#include <vector>

#include "machine.h"

namespace twin {

struct InitConfig {
  std::string run_dir, build, kxsim, host_ns;
  std::vector<std::string> programs, faketime;
  std::string speed = "1";
  bool reboot_restarts = false;
  bool owner = false;
  bool board_programs = false;  // programs = the board's long-running programs the installed build has
  bool restart = false;         // supervisord restarts the autostarted programs when they exit
  // A twin of a farm: the installed build shared read-only, and eth0 on the farm's LAN (its namespace is fd 4)
  std::string layer;
  std::string address = "192.168.50.2";  // eth0's address
  std::string lan_port;                  // the name of eth0's other end on the farm LAN's bridge
  Machine machine;
};

// The names the system starts and stops through supervisorctl, plus the long-running services.
extern const std::vector<std::string> kSupervisedPrograms;
// The long-running programs the board starts at boot, in its order.
extern const std::vector<std::string> kBoardPrograms;

// DESTDIR install of the build with prefix /usr into root; folder by folder when part of the build is missing.
bool install_build(const std::string& build, const std::string& root, const std::string& log, std::string& error);
// The front end's files from the build's platform folder to the board's places under root r.
bool place_front_end_files(const std::string& r);
bool load_init_config(const std::string& run_dir, InitConfig& cfg, std::string& error);
// Everything before pivot_root: overlay root, the build installed into it, the twin's files and mounts.
// With board_programs it fills in cfg.programs from what the installed build has.
bool prepare_root(InitConfig& cfg, std::string& error);
bool enter_root(const InitConfig& cfg, std::string& error);
// Refuses unless this process is pid 1 of fresh namespaces on the overlay, and the fakes shadow the real tools.
bool check_host_safety(const InitConfig& cfg, std::string& error);
int run_command(const std::vector<std::string>& argv, const std::string& log_path,
                const std::vector<std::string>& env = {});

}  // namespace twin
