// Start-up discovery of kx_hwmond: PSU, sensors, fans, EEPROMs and GPIO export.
#pragma once

namespace hwmond {

void kx_reg_init();      // PSU on hwmon0..7, model cache and /userdata/psu.info
void kx_temp_init();     // the eight temperature sensors
void kx_fan_init();      // fan 0 and fan 1
void kx_eeprom_init();   // the two EEPROM descriptors
void kx_led_init();      // LED GPIO export
void kx_hb_init();       // hash-board GPIO export

// All of the above, in start-up order.
void discover_devices();
// Closes the EEPROM descriptors at exit.
void release_devices();

}  // namespace hwmond
