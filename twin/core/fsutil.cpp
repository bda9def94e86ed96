// Small file helpers shared by the launcher, the twin's init and the fixture.
#include "fsutil.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace twin {

bool read_text(const std::string& path, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buf[8192];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

std::string read_text_or(const std::string& path, const std::string& fallback) {
  std::string s;
  return read_text(path, s) ? s : fallback;
}

static bool write_all(int fd, const std::string& text) {
  size_t off = 0;
  while (off < text.size()) {
    ssize_t n = write(fd, text.data() + off, text.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

bool write_text(const std::string& path, const std::string& text, int mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = write_all(fd, text);
  close(fd);
  if (ok) chmod(path.c_str(), static_cast<mode_t>(mode));
  return ok;
}

bool append_text(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write_all(fd, text);
  close(fd);
  return ok;
}

bool write_atomic(const std::string& path, const std::string& text) {
  size_t slash = path.rfind('/');
  std::string tmp = path.substr(0, slash + 1) + ".kxsim-" + path.substr(slash + 1);
  if (!write_text(tmp, text)) return false;
  return rename(tmp.c_str(), path.c_str()) == 0;
}

bool make_dirs(const std::string& path, int mode) {
  if (path.empty()) return false;
  std::string cur;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    cur = path.substr(0, pos);
    if (cur.empty()) continue;
    if (mkdir(cur.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
  }
  return true;
}

static int remove_entry(const char* p, const struct stat*, int, struct FTW*) {
  return remove(p) == 0 || errno == ENOENT ? 0 : 0;
}

bool remove_tree(const std::string& path) {
  if (path.size() < 8 || path == "/") return false;
  nftw(path.c_str(), remove_entry, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
  return !path_exists(path);
}

bool path_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\n' || s[b] == '\t' || s[b] == '\r' || s[b] == '\0')) b++;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\n' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\0')) e--;
  return s.substr(b, e - b);
}

double monotonic_seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double boottime_seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string hex_bytes(const unsigned char* data, size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; i++) {
    s.push_back(digits[data[i] >> 4]);
    s.push_back(digits[data[i] & 15]);
  }
  return s;
}

static int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<unsigned char> parse_hex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) break;
    out.push_back(static_cast<unsigned char>(hi << 4 | lo));
  }
  return out;
}

}  // namespace twin
