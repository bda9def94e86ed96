// A farm of twins on one LAN (`kxsim farm up|list|down|lan`): one holder process with the farm's bridge and
// its shared, read-only installed build, and N twins booted in parallel, each with its own identity and address.
#pragma once

#include <string>
#include <vector>

namespace kxsim {

// `kxsim farm ...` with the arguments after "farm"; run_base is where the farm's dir and its twins' run dirs live.
int farm_command(const std::string& run_base, const std::vector<std::string>& args);
// The machine description of twin `index` of a farm built from the description base (JSON, "" = default).
std::string farm_machine_json(const std::string& base, int index, std::string& error);

}  // namespace kxsim

namespace twin {
// The holder process (`kxsim __farm FARM_DIR`): reports "ok" or "error ..." on fd 3, then runs until SIGTERM.
int farm_lan_main(const std::string& farm_dir);
}  // namespace twin
