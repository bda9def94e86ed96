// Fans (hwmon2 inlet, hwmon3 outlet) and the eight hash-board temperature sensors read by kx_hwmond.
// Temperatures follow main power, enabled boards and fan duty; a scenario may pin a sensor group.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "fsutil.h"
#include "model.h"

namespace twin {
namespace {

struct SensorSlot {
  int bus, addr;
  bool inlet;
};
constexpr SensorSlot kSlots[8] = {{5, 0x48, true},  {5, 0x49, true},  {5, 0x4a, false}, {5, 0x4c, false},
                                  {4, 0x48, false}, {4, 0x49, true},  {4, 0x4a, false}, {4, 0x4c, true}};

}  // namespace

void Model::build_fans_and_sensors() {
  make_attr("/sys/class/hwmon/hwmon0/name", "soc_thermal\n");
  make_attr("/sys/class/hwmon/hwmon0/temp1_input", "45000\n");
  for (int i = 0; i < 2; i++) {
    if (!m_.fans[i]) continue;
    fan_dir_[i] = "/sys/class/hwmon/hwmon" + std::to_string(kFanHwmon[i]);
    make_attr(fan_dir_[i] + "/name", "pwm_fan\n");
    make_attr(fan_dir_[i] + "/pwm_user", std::to_string(fan_duty_[i]) + "\n");
    make_attr(fan_dir_[i] + "/pwm1", std::to_string(fan_duty_[i] * 60) + "\n");
    watch_dir(fan_dir_[i]);
  }
  for (int s = 0; s < 8; s++) {
    char dev[64];
    snprintf(dev, sizeof dev, "/sys/bus/i2c/devices/%d-00%02x", kSlots[s].bus, kSlots[s].addr);
    make_dirs(std::string(dev) + "/hwmon");
    make_attr(std::string(dev) + "/name", "tmp75\n");
    if (!m_.sensors[s].present) continue;
    int idx = m_.sensors[s].hwmon >= 0 ? m_.sensors[s].hwmon : 4 + s % 4;
    sensor_file_[s] = std::string(dev) + "/hwmon/hwmon" + std::to_string(idx) + "/temp1_input";
    make_attr(sensor_file_[s], "30000\n");
  }
  // the two hash-board EEPROMs, 256 bytes each, kept open by kx_hwmond
  const char* ee[2] = {"/sys/bus/i2c/devices/5-0050", "/sys/bus/i2c/devices/4-0050"};
  for (int i = 0; i < 2; i++) {
    make_dirs(ee[i]);
    if (!m_.eeproms[i]) continue;
    std::vector<uint8_t> img = build_eeprom(m_, i);
    write_text(std::string(ee[i]) + "/kx_eeprom", std::string(img.begin(), img.end()));
  }
  make_attr("/sys/bus/iio/devices/iio:device0/in_voltage0_raw", std::to_string(m_.adc) + "\n");
  make_attr("/sys/bus/iio/devices/iio:device0/name", "saradc\n");
  loop_.every(0.2, [this] { thermal_tick(); });
}

void Model::fan_written(int fan) {
  std::string text = trim(read_text_or(fan_dir_[fan] + "/pwm1"));
  if (text.empty()) {  // opened without a write
    model_write(fan_dir_[fan] + "/pwm1", std::to_string(fan_duty_[fan] * 60) + "\n");
    return;
  }
  int duty = atoi(text.c_str());
  if (duty < 0) duty = 0;
  if (duty > 100) duty = 100;
  fan_duty_[fan] = duty;
  model_write(fan_dir_[fan] + "/pwm_user", text + "\n");
  model_write(fan_dir_[fan] + "/pwm1", std::to_string(duty * 60) + "\n");  // read back as the speed
}

// One step of a first-order model per sensor group (bus 5: boards 1 and 3, bus 4: boards 2 and 4).
void Model::thermal_tick() {
  double duty = 0;
  int fans = 0;
  for (int i = 0; i < 2; i++)
    if (!fan_dir_[i].empty()) {
      duty += fan_duty_[i];
      fans++;
    }
  duty = fans ? duty / fans : 0;
  for (int g = 0; g < 2; g++) {
    int running = (boards_[g].powered ? 1 : 0) + (boards_[g + 2].powered ? 1 : 0);
    double target = 30000 + running * 25000 * (1.0 - 0.5 * duty / 100.0);
    for (int s = 0; s < 8; s++) {
      if ((kSlots[s].bus == 5) != (g == 0)) continue;
      if (pinned_group_[g] >= 0) {
        temp_[s] = pinned_group_[g];
      } else {
        double slot_target = kSlots[s].inlet ? target - 0.2 * (target - 30000) : target + 0.1 * (target - 30000);
        temp_[s] += (slot_target - temp_[s]) * 0.2 / 3.0;
      }
      if (!sensor_file_[s].empty())
        model_write(sensor_file_[s], std::to_string(static_cast<long>(std::lround(temp_[s]))) + "\n");
    }
  }
}

}  // namespace twin
