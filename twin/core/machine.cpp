// Machine description of a twin: parsing with defaults, and the EEPROM images built from board fields.
#include "machine.h"

#include <jansson.h>
#include <json_access.h>

#include <cstring>
#include <memory>

#include "fsutil.h"

namespace twin {
namespace {

void get_bool(json_t* o, const char* k, bool& v) {
  json_t* j = json_object_get(o, k);
  if (json_is_boolean(j)) v = json_is_true(j);
  else if (json_is_integer(j)) v = json_integer_value(j) != 0;
}
void get_int(json_t* o, const char* k, int& v) {
  json_t* j = json_object_get(o, k);
  if (json_is_integer(j)) v = static_cast<int>(json_integer_value(j));
}
void get_u32(json_t* o, const char* k, uint32_t& v) {
  json_t* j = json_object_get(o, k);
  if (json_is_integer(j)) v = static_cast<uint32_t>(json_integer_value(j));
  if (json_is_string(j)) v = static_cast<uint32_t>(strtoul(json_string_value(j), nullptr, 0));
}
void get_str(json_t* o, const char* k, std::string& v) {
  json_t* j = json_object_get(o, k);
  if (json_is_string(j)) v = json_string_value(j);
}
// A text member that may be null (absent file).
void get_opt_str(json_t* o, const char* k, std::string& v, bool& present) {
  json_t* j = json_object_get(o, k);
  if (!j) return;
  if (json_is_null(j)) {
    present = false;
  } else if (json_is_string(j)) {
    present = true;
    v = json_string_value(j);
  }
}

bool parse_mac(const std::string& text, std::array<uint8_t, 6>& mac) {
  std::string digits;
  for (char c : text)
    if (c != ':' && c != '-') digits.push_back(c);
  std::vector<unsigned char> b = parse_hex(digits);
  if (b.size() != 6) return false;
  for (int i = 0; i < 6; i++) mac[i] = b[i];
  return true;
}

void parse_board(json_t* jb, BoardDesc& b) {
  get_bool(jb, "present", b.present);
  get_bool(jb, "loopback", b.loopback);
  get_bool(jb, "silent", b.silent);
  get_int(jb, "type", b.type);
  get_int(jb, "chips", b.chips);
  get_int(jb, "cores", b.cores);
  get_u32(jb, "probe_value", b.probe_value);
  get_str(jb, "sn", b.sn);
  get_int(jb, "ate_freq", b.ate_freq);
  get_int(jb, "ate_vol", b.ate_vol);
  get_int(jb, "vmin", b.vmin);
  get_int(jb, "fmax", b.fmax);
  get_int(jb, "test_cnt", b.test_cnt);
  get_int(jb, "oc1_freq", b.oc1_freq);
  get_int(jb, "oc1_vol", b.oc1_vol);
  get_int(jb, "oc2_freq", b.oc2_freq);
  get_int(jb, "oc2_vol", b.oc2_vol);
  if (b.chips < 0) b.chips = 0;
  if (b.chips > 256) b.chips = 256;
  json_t* faults = json_object_get(jb, "faults");
  if (json_is_array(faults)) {
    b.faults.clear();
    size_t i;
    json_t* jf;
    json_array_foreach(faults, i, jf) {
      ChipFault f;
      get_int(jf, "chip", f.chip);
      get_str(jf, "fault", f.kind);
      get_u32(jf, "value", f.value);
      get_int(jf, "delay_ms", f.delay_ms);
      b.faults.push_back(f);
    }
  }
}

std::string default_board_sn(int cn) {
  // KXHB 24 5 17 3 D 0 0000n A 12 B K 11: every field within the EEPROM record's rules.
  char sn[32];
  snprintf(sn, sizeof sn, "KXHB24517" "3D0" "%05d" "A12BK11", cn);
  return sn;
}

void put_be16(std::vector<uint8_t>& img, int off, int v) {
  img[off] = static_cast<uint8_t>(v >> 8);
  img[off + 1] = static_cast<uint8_t>(v);
}

int two_digits(const std::string& s, int pos) { return (s[pos] - '0') * 10 + (s[pos + 1] - '0'); }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

void encode_sn(std::vector<uint8_t>& img, const std::string& s) {
  if (s.size() != 24) return;
  for (int i = 0; i < 4; i++) img[8 + i] = static_cast<uint8_t>(s[i]);
  img[12] = static_cast<uint8_t>(two_digits(s, 4));
  img[13] = static_cast<uint8_t>(s[6]);
  img[14] = static_cast<uint8_t>(two_digits(s, 7));
  img[15] = static_cast<uint8_t>(hex_value(s[9]));
  img[16] = static_cast<uint8_t>(s[10]);
  img[17] = static_cast<uint8_t>(s[11]);
  int num = 0;
  for (int i = 12; i < 17; i++) num = num * 10 + (s[i] - '0');
  put_be16(img, 18, num & 0xFFFF);
  img[20] = static_cast<uint8_t>(s[17]);
  img[21] = static_cast<uint8_t>(((s[18] - '0') << 4) | (s[19] & 0x0F));
  img[22] = static_cast<uint8_t>(s[20]);
  img[23] = static_cast<uint8_t>(two_digits(s, 22));
  img[24] = static_cast<uint8_t>(s[21]);
}

void encode_part(std::vector<uint8_t>& img, const BoardDesc& b, bool part_b) {
  int base = part_b ? 40 : 0;
  img[base] = static_cast<uint8_t>(b.type);
  put_be16(img, base + 1, b.ate_freq);
  put_be16(img, base + 3, b.ate_vol);
  img[base + 5] = static_cast<uint8_t>(b.chips & 0xFF);  // the one little-endian field
  img[base + 6] = static_cast<uint8_t>(b.chips >> 8);
  int t = part_b ? 48 : 26;
  img[t] = static_cast<uint8_t>(b.test_cnt);
  put_be16(img, t + 1, b.vmin);
  put_be16(img, t + 3, b.fmax);
  for (int i = 0; i < 8; i++) img[t + 5 + i] = 0;  // test_start, test_done not set
  int oc = part_b ? 70 : 62;
  put_be16(img, oc, b.oc1_freq);
  put_be16(img, oc + 2, b.oc1_vol);
  put_be16(img, oc + 4, b.oc2_freq);
  put_be16(img, oc + 6, b.oc2_vol);
}

}  // namespace

int board_baud(int type) { return type == 3 ? 2500000 : 1500000; }

std::vector<uint8_t> build_eeprom(const Machine& m, int index) {
  if (!m.eeprom_hex[index].empty()) {
    std::vector<uint8_t> img = parse_hex(m.eeprom_hex[index]);
    img.resize(256, 0xFF);
    return img;
  }
  std::vector<uint8_t> img(256, 0xFF);
  const BoardDesc& lower = m.boards[index];      // CN1 or CN2
  const BoardDesc& upper = m.boards[index + 2];  // CN3 or CN4
  if (!lower.present && !upper.present) return img;
  for (int i = 0; i < 88; i++) img[i] = 0;
  if (lower.present) encode_part(img, lower, false);
  if (upper.present) encode_part(img, upper, true);
  encode_sn(img, lower.present ? lower.sn : upper.sn);
  img[78] = 0;  // oc2_cnt
  return img;
}

bool parse_machine(const std::string& text, Machine& m, std::string& error) {
  for (int i = 0; i < 4; i++) m.boards[i].sn = default_board_sn(i + 1);
  if (trim(text).empty()) return true;
  json_error_t jerr;
  kx_json::json_owner root(json_loads(text.c_str(), 0, &jerr));
  if (!root || !json_is_object(root.get())) {
    error = std::string("machine description: ") + jerr.text;
    return false;
  }
  json_t* r = root.get();
  json_t* boards = json_object_get(r, "boards");
  if (json_is_array(boards)) {
    size_t i;
    json_t* jb;
    json_array_foreach(boards, i, jb) {
      int cn = static_cast<int>(i) + 1;
      get_int(jb, "cn", cn);
      if (cn < 1 || cn > 4) {
        error = "machine description: board cn must be 1..4";
        return false;
      }
      parse_board(jb, m.boards[cn - 1]);
    }
  }
  json_t* vendor = json_object_get(r, "vendor");
  if (json_is_null(vendor)) {
    m.has_sn = m.has_mac = false;
  } else if (json_is_object(vendor)) {
    get_bool(vendor, "present", m.vendor_present);
    json_t* sn = json_object_get(vendor, "sn");
    if (json_is_null(sn)) m.has_sn = false;
    else if (json_is_string(sn)) m.sn = json_string_value(sn);
    json_t* mac = json_object_get(vendor, "mac");
    if (json_is_null(mac)) m.has_mac = false;
    else if (json_is_string(mac) && !parse_mac(json_string_value(mac), m.mac)) {
      error = "machine description: vendor.mac needs 6 hex bytes";
      return false;
    }
  }
  get_opt_str(r, "etc_version", m.etc_version, m.has_etc_version);
  get_opt_str(r, "hostname", m.hostname, m.has_hostname);
  get_opt_str(r, "hostname_bak", m.hostname_bak, m.has_hostname_bak);
  json_t* psu = json_object_get(r, "psu");
  if (json_is_null(psu)) m.psu.present = false;
  if (json_is_object(psu)) {
    get_bool(psu, "present", m.psu.present);
    get_bool(psu, "refuse_off", m.psu.refuse_off);
    get_int(psu, "on", m.psu.on);
    get_int(psu, "vol", m.psu.vol);
    get_str(psu, "model", m.psu.model);
    get_str(psu, "version", m.psu.version);
    get_str(psu, "sn", m.psu.sn);
  }
  json_t* fans = json_object_get(r, "fans");
  if (json_is_array(fans))
    for (size_t i = 0; i < 2 && i < json_array_size(fans); i++) {
      json_t* f = json_array_get(fans, i);
      if (json_is_boolean(f)) m.fans[i] = json_is_true(f);
      else if (json_is_object(f)) get_bool(f, "present", m.fans[i]);
    }
  json_t* sensors = json_object_get(r, "sensors");
  if (json_is_array(sensors))
    for (size_t i = 0; i < 8 && i < json_array_size(sensors); i++) {
      json_t* s = json_array_get(sensors, i);
      if (json_is_boolean(s)) m.sensors[i].present = json_is_true(s);
      else if (json_is_object(s)) {
        get_bool(s, "present", m.sensors[i].present);
        get_int(s, "hwmon", m.sensors[i].hwmon);
      }
    }
  json_t* eeproms = json_object_get(r, "eeprom");
  if (json_is_array(eeproms))
    for (size_t i = 0; i < 2 && i < json_array_size(eeproms); i++) {
      json_t* e = json_array_get(eeproms, i);
      if (json_is_null(e)) m.eeproms[i] = false;
      else if (json_is_string(e)) m.eeprom_hex[i] = json_string_value(e);
      else if (json_is_object(e)) {
        get_bool(e, "present", m.eeproms[i]);
        get_str(e, "hex", m.eeprom_hex[i]);
      }
    }
  get_int(r, "adc", m.adc);
  get_bool(r, "sdcard", m.sdcard);
  get_bool(r, "button_exported", m.button_exported);
  get_bool(r, "button_pressed", m.button_pressed);
  json_t* i2c = json_object_get(r, "i2c");
  if (json_is_array(i2c)) {
    m.i2c.clear();
    size_t i;
    json_t* w;
    json_array_foreach(i2c, i, w) {
      I2cWord iw;
      get_int(w, "bus", iw.bus);
      get_int(w, "addr", iw.addr);
      get_int(w, "reg", iw.reg);
      get_int(w, "word", iw.word);
      m.i2c.push_back(iw);
    }
  }
  json_t* files = json_object_get(r, "files");
  if (json_is_object(files)) {
    const char* k;
    json_t* v;
    json_object_foreach(files, k, v) {
      if (json_is_string(v)) m.files[k] = json_string_value(v);
    }
  }
  return true;
}

}  // namespace twin
