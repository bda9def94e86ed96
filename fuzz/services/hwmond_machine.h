// An in-memory machine for kx_hwmond's device-file access: the sysfs attributes
// of the PSU, fans, sensors, GPIO lines and EEPROM windows, with the devices a
// profile byte leaves out. Used by the hwmond harness and as the settings
// service's bus peer.
#pragma once

#include <cstdint>

namespace hwmond_machine {

// Profile bits: which devices are missing, and device texts that are hostile.
inline constexpr std::uint8_t kNoPsu = 0x01;
inline constexpr std::uint8_t kNoFans = 0x02;
inline constexpr std::uint8_t kNoEeproms = 0x04;
inline constexpr std::uint8_t kGpiosNotExported = 0x08;
inline constexpr std::uint8_t kNoSensors = 0x10;
inline constexpr std::uint8_t kOddTexts = 0x20;

// The profile's device files and state record as discovery leaves them on a
// fresh machine. Discovery runs the first time a profile boots; later boots
// put back what the inputs since changed.
void boot(std::uint8_t profile);
// Stops the LED threads, releases the devices and checks that no descriptor stays open.
void shut_down();

} // namespace hwmond_machine
