// The PSU's hwmon device (hwmon1): kx_hwmond writes "vol" and "on" and reads the output and status attributes.
// The output voltage follows "on" and "vol"; a PSU may be told to refuse switching off.
#include <cstdio>
#include <cstdlib>

#include "fsutil.h"
#include "model.h"

namespace twin {

void Model::build_psu() {
  psu_present_ = m_.psu.present;
  psu_on_ = m_.psu.on;
  psu_vol_ = m_.psu.vol;
  if (!psu_present_) return;
  psu_dir_ = "/sys/class/hwmon/hwmon" + std::to_string(kPsuHwmon);
  auto attr = [&](const char* name, const std::string& text) { make_attr(psu_dir_ + "/" + name, text + "\n"); };
  attr("name", "kx_psu");
  attr("vol", std::to_string(psu_vol_));
  attr("on", std::to_string(psu_on_));
  attr("power_model", m_.psu.model);
  attr("power_version", m_.psu.version);
  attr("power_sn", m_.psu.sn);
  attr("temp1", "41");
  attr("vol_in1", "230");
  attr("vol_out_min", "3300");
  attr("vol_out_max", "4500");
  for (const char* s : {"FANS_status", "POWER_status", "INPUT_status", "IOUT_status", "VOUT_status", "TEMP_status"})
    attr(s, "0");
  watch_dir(psu_dir_);
  psu_update();
}

void Model::psu_written(const std::string& file) {
  std::string text = trim(read_text_or(psu_dir_ + "/" + file));
  if ((file == "vol" || file == "on") && text.empty()) {  // opened without a write
    own_write(psu_dir_ + "/" + file, std::to_string(file == "vol" ? psu_vol_ : psu_on_) + "\n");
    return;
  }
  if (file == "vol") {
    psu_vol_ = atoi(text.c_str());
  } else if (file == "on") {
    int on = atoi(text.c_str());
    if (on == 0 && m_.psu.refuse_off) return;  // the PSU ignores the request; output stays
    psu_on_ = on != 0;
  } else {
    return;
  }
  psu_update();
}

// Recomputes the output side from the set-point, the enable and the boards that draw current.
void Model::psu_update() {
  if (!psu_present_) return;
  psu_out_ = psu_on_ ? psu_vol_ : 0;
  boards_power_update();
  int running = 0;
  for (const BoardLine& b : boards_)
    if (b.powered) running++;
  int amps = psu_out_ > 0 ? 2 + 18 * running : 0;
  int out_w = psu_out_ * amps / 100;
  int in_w = psu_out_ > 0 ? out_w * 106 / 100 + 15 : 8;
  char buf[32];
  auto put = [&](const char* name, int v) {
    snprintf(buf, sizeof buf, "%d\n", v);
    model_write(psu_dir_ + "/" + name, buf);
  };
  put("vol_out1", psu_out_);
  put("current_total", amps);
  put("power_out", out_w);
  put("power_total", in_w);
  put("current_in", in_w / 230);
}

}  // namespace twin
