// Small file helpers shared by the launcher, the twin's init and the fixture.
#pragma once

#include <string>
#include <vector>

namespace twin {

bool read_text(const std::string& path, std::string& out);
std::string read_text_or(const std::string& path, const std::string& fallback = "");
bool write_text(const std::string& path, const std::string& text, int mode = 0644);
bool append_text(const std::string& path, const std::string& text);
// Writes a temporary file next to path and renames it over path, so readers never see half a value.
bool write_atomic(const std::string& path, const std::string& text);
bool make_dirs(const std::string& path, int mode = 0755);
bool remove_tree(const std::string& path);  // stays on one file system, never follows links
bool path_exists(const std::string& path);
std::vector<std::string> split_lines(const std::string& text);
std::string trim(const std::string& s);
double monotonic_seconds();
double boottime_seconds();  // the clock of /proc/uptime, which the twin's records use
std::string hex_bytes(const unsigned char* data, size_t n);
std::vector<unsigned char> parse_hex(const std::string& hex);

}  // namespace twin
