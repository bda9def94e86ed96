// The identity of a farm's twin i, derived from the farm's machine description: serial number and MAC in vendor
// storage, the hash boards' serial numbers and the hostname each advanced by the index, so that N twins look like
// N machines (twin 0 keeps the description's own serial number and MAC).
#include <jansson.h>
#include <json_access.h>

#include <cstdio>

#include "farm.h"
#include "fsutil.h"
#include "machine.h"

namespace kxsim {
namespace {

// Adds n to the decimal number in text[pos, pos + len), keeping its width (wrapping within it).
std::string advance_digits(std::string text, size_t pos, size_t len, long long n) {
  if (pos + len > text.size() || len == 0 || len > 17) return text;
  long long value = 0, modulus = 1;
  for (size_t i = pos; i < pos + len; i++) {
    if (text[i] < '0' || text[i] > '9') return text;
    value = value * 10 + (text[i] - '0');
    modulus *= 10;
  }
  value = (value + n) % modulus;
  for (size_t i = pos + len; i-- > pos; value /= 10) text[i] = static_cast<char>('0' + value % 10);
  return text;
}

// Adds n to the last run of digits in text.
std::string advance_serial(const std::string& text, long long n) {
  size_t end = text.find_last_of("0123456789");
  if (end == std::string::npos) return text;
  size_t begin = end;
  while (begin > 0 && end - begin < 16 && text[begin - 1] >= '0' && text[begin - 1] <= '9') begin--;
  return advance_digits(text, begin, end - begin + 1, n);
}

// A hash board's serial number carries its running number in characters 12 to 16; four boards per machine.
std::string board_serial(const std::string& sn, int index) {
  long long n = 4LL * index;
  return sn.size() == 24 ? advance_digits(sn, 12, 5, n) : advance_serial(sn, n);
}

void set_text(json_t* object, const char* key, const std::string& text) {
  json_object_set_new(object, key, json_string(text.c_str()));
}

// The entry of boards[] for connector cn (by "cn", or by position), made when missing.
json_t* board_entry(json_t* root, int cn) {
  json_t* boards = json_object_get(root, "boards");
  if (!json_is_array(boards)) {
    boards = json_array();
    json_object_set_new(root, "boards", boards);
  }
  size_t i;
  json_t* b;
  json_array_foreach(boards, i, b) {
    json_t* jcn = json_object_get(b, "cn");
    int at = json_is_integer(jcn) ? static_cast<int>(json_integer_value(jcn)) : static_cast<int>(i) + 1;
    if (at == cn && json_is_object(b)) return b;
  }
  json_t* entry = json_pack("{s:i}", "cn", cn);
  json_array_append_new(boards, entry);
  return entry;
}

}  // namespace

std::string farm_machine_json(const std::string& base, int index, std::string& error) {
  twin::Machine m;
  if (!twin::parse_machine(base, m, error)) return "";
  json_error_t jerr;
  kx_json::json_owner root(twin::trim(base).empty() ? json_object() : json_loads(base.c_str(), 0, &jerr));
  json_t* r = root.get();
  json_t* vendor = json_object_get(r, "vendor");
  if (!json_is_null(vendor)) {
    if (!json_is_object(vendor)) {
      vendor = json_object();
      json_object_set_new(r, "vendor", vendor);
    }
    if (m.has_sn) set_text(vendor, "sn", advance_serial(m.sn, index));
    if (m.has_mac) {
      // the lower three bytes count on from the description's MAC; the first three stay
      unsigned long low = ((unsigned long)m.mac[3] << 16 | (unsigned long)m.mac[4] << 8 | m.mac[5]) + index;
      char mac[32];
      snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02lx:%02lx:%02lx", m.mac[0], m.mac[1], m.mac[2], (low >> 16) & 0xff,
               (low >> 8) & 0xff, low & 0xff);
      set_text(vendor, "mac", mac);
    }
  }
  for (int cn = 1; cn <= 4; cn++) set_text(board_entry(r, cn), "sn", board_serial(m.boards[cn - 1].sn, index));
  if (m.has_hostname) {
    // the backup keeps the settings service from renaming the machine after its model, as a farm names them
    char suffix[16];
    snprintf(suffix, sizeof suffix, "-%03d", index);
    std::string name = twin::trim(twin::split_lines(m.hostname + "\n")[0]) + suffix + "\n";
    set_text(r, "hostname", name);
    set_text(r, "hostname_bak", name);
  }
  char* text = json_dumps(r, JSON_COMPACT);
  std::string out = text ? text : "";
  free(text);
  return out;
}

}  // namespace kxsim
