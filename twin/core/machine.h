// Machine description of a twin: which boards, chips, faults, identity, PSU, fans, sensors and files it has.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace twin {

struct ChipFault {
  int chip = 0;
  std::string kind;   // silent, wrong_id, bad_cores, bad_mask, over_report, no_report, slow, split, garbled
  uint32_t value = 0; // wrong_id: the id; bad_cores/bad_mask/over_report: the core count
  int delay_ms = 0;   // slow: reply delay
};

struct BoardDesc {
  bool present = true;
  bool loopback = false;      // the line echoes what is written (factory loopback plug) instead of chips
  bool silent = false;        // the whole board never answers
  int type = 3;
  int chips = 64;
  int cores = 700;            // good cores per chip
  uint32_t probe_value = 0;   // value of register 0xC8
  std::string sn;             // 24-character hash-board serial number
  int ate_freq = 1200, ate_vol = 620, vmin = 3500, fmax = 1200, test_cnt = 1;
  int oc1_freq = 0, oc1_vol = 0, oc2_freq = 0, oc2_vol = 0;
  std::vector<ChipFault> faults;
};

struct PsuDesc {
  bool present = true;
  bool refuse_off = false;    // output stays up when "on" is written 0
  int on = 1;
  int vol = 3400;             // set-point, 10 mV units
  std::string model = "KXP-3600", version = "V1.02", sn = "PSU2411000123";
};

struct SensorDesc {
  bool present = true;
  int hwmon = -1;             // hwmon index of the sensor; -1 = default (4 + slot % 4)
};

struct I2cWord {
  int bus = 1, addr = 0x48, reg = 0;
  int word = 0x1900;
};

struct Machine {
  std::array<BoardDesc, 4> boards;
  bool vendor_present = true;       // /dev/vendor_storage exists
  bool has_sn = true, has_mac = true;
  std::string sn = "KXCB24050000123";
  std::array<uint8_t, 6> mac{{0x02, 0x4b, 0x58, 0x00, 0x01, 0x23}};
  std::string etc_version = "QV_MODEL=KX1\nQV_VERSION=KX1_V1.2.3\nQV_OTA_HOST=ota.kx.local\n";
  bool has_etc_version = true;
  std::string hostname = "KX1\n";
  bool has_hostname = true;
  std::string hostname_bak;
  bool has_hostname_bak = false;
  PsuDesc psu;
  std::array<bool, 2> fans{{true, true}};
  std::array<SensorDesc, 8> sensors;
  std::array<bool, 2> eeproms{{true, true}};
  std::array<std::string, 2> eeprom_hex;  // raw 256-byte images (hex); empty = built from the boards
  int adc = 1010;
  bool sdcard = true;
  bool button_exported = true;
  bool button_pressed = false;
  std::vector<I2cWord> i2c{I2cWord{}};
  std::map<std::string, std::string> files;  // extra files inside the twin: path -> content
};

// Parses a machine description (JSON); members left out keep the default healthy machine's values.
bool parse_machine(const std::string& json_text, Machine& out, std::string& error);
// The 256-byte EEPROM window of index 0 (CN1 part A, CN3 part B) or 1 (CN2, CN4).
std::vector<uint8_t> build_eeprom(const Machine& m, int index);
// Line speed the chips of a board type listen at.
int board_baud(int type);

}  // namespace twin
