// The settings service's own hardware access: vendor storage, the requests
// to "hwmond", EEPROM hex transport, the hash-board presence probe, the
// reset and status GPIO lines and the hardware-revision ADC.
#pragma once

#include <jansson.h>

#include <cstddef>
#include <cstdint>

#include "device_record.h"

// Vendor-storage items (id = index + 1).
inline constexpr int VENDOR_SN_ID = 1;
inline constexpr int VENDOR_WIFI_MAC_ID = 2;
inline constexpr int VENDOR_LAN_MAC_ID = 3;
inline constexpr int VENDOR_BT_MAC_ID = 4;
inline constexpr int VENDOR_IMEI_ID = 5;

// Size of the read record and of the caller's buffer; the data area is what
// follows the 8 header bytes.
inline constexpr std::size_t kVendorRecordSize = 100;
inline constexpr std::size_t kVendorDataSize = kVendorRecordSize - 8;
inline constexpr std::size_t kMacSize = 6;

// Reads item id into buf[cap]; never copies more than the record's data area
// (or cap) holds. Returns the number of bytes copied, or -1.
int vendor_storage_read(int id, std::uint8_t *buf, std::size_t cap);
// Writes item id: for VENDOR_SN_ID the zero-terminated text, for every other
// id exactly 6 bytes. Returns 0 or -1.
int vendor_storage_write(int id, const void *data);

// Requests to "hwmond". The texts of the numbers are passed ready-made.
int set_fans_duty(const char *inlet, const char *outlet);
int Set_HashBoard(const char *name, const char *board_en, const char *core_reset);
int AC_PowerSet(int power_vol, int power_en);
#if CFGSVC_VARIANT == 1
// PSU output voltage in 10 mV, or -1.
int prase_power_all();
#endif
// 0 when the reply's "code" is 0, else that code or -1.
int parse_return(json_t *reply);
// Fetches the image of board 0..3 into its ee_data slot. Returns 0 or -1.
int get_eeprom_data(int board);
// The parsing half of get_eeprom_data: reply text resp within resp_cap bytes.
int prase_eeprom_data(int board, const char *resp, std::size_t resp_cap);
int set_eeprom_data(int eeprom_index, int size, const char *hex_text);

// 176 upper-case hex digits of the 88-byte image into out (177 bytes or more).
inline constexpr std::size_t kImageHexSize = kEepromImageSize * 2;
int arrayToStr(const std::uint8_t *image, char *out);
void eeprom_dump(const std::uint8_t *image);
// Pairs of hex digits to bytes, high nibble first; an odd final digit makes
// one more byte. Writes at most cap bytes; returns the number written.
int hex_to_bytes(const char *text, std::uint8_t *out, std::size_t cap);

// Presence probe of one connector: the number of reply bytes (8) or 0 or a
// negative value; *out_value is written only for a reply headed 0xAA.
int get_hashcoreVersion(const char *port_path, std::uint32_t *out_value);
// Its steps: line set-up, frame send and the bounded wait for the reply.
int SetupSerial(int fd, int baud);
int uart_send_cmd(int fd, const std::uint8_t *frame, std::size_t len);
int uart_recv_timeout(int fd, std::uint8_t *buf, std::size_t want);

// Sysfs GPIO lines.
int reset_gpio_set(const char *number_text, int level);
int hb_reset_pulse(const char *number_text, int pulse);
int status_gpio_set(int index, int level);

// Hardware-version text from the ADC into out[size]; bytes read or -1.
int get_hw_version(char *out, std::size_t size);
// The row format ("%s_HW_V1.0", ...) for an ADC value, or nullptr.
const char *hw_version_format(int adc);

// Millisecond wait of the service.
void wait_ms(int ms);
