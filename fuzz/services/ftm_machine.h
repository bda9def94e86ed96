// The devices kx_ftm opens, in memory: the four hash-board serial ports, the
// vendor storage, the I2C adapter, the SD card, the enable lines, and the bus
// peers "Setting" and "hwmond" with replies an input may replace.
#pragma once

#include <cstdint>
#include <string>

namespace ftm_machine {

// Profile bits.
inline constexpr std::uint8_t kNoSerialPorts = 0x01;
inline constexpr std::uint8_t kLoopbackPlugs = 0x02; // else the ports answer with chatter
inline constexpr std::uint8_t kNoVendorStorage = 0x04;
inline constexpr std::uint8_t kNoI2c = 0x08;
inline constexpr std::uint8_t kNoSdcard = 0x10;
inline constexpr std::uint8_t kSdcardOnFlash = 0x20;
inline constexpr std::uint8_t kSettingDown = 0x40;
inline constexpr std::uint8_t kHwmondDown = 0x80;

void boot(std::uint8_t profile);
// Checks that every device opened or line requested was given back.
void shut_down();

// The reply text the next calls to "Setting" or "hwmond" get.
void set_setting_reply(const std::string &reply);
void set_hwmond_reply(const std::string &reply);

} // namespace ftm_machine
