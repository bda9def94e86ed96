// init_hw_env: the hardware start-up run once before the first request is
// served. EEPROM targets, hash-board power cycle and recognition, fans, the
// controller's identity and the program it starts, versions, hostname.
#include "startup.h"

#include <signal.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app_sequences.h"
#include "device_record.h"
#include "eeprom_record.h"
#include "error_list.h"
#include "hw_access.h"
#include "startup_files.h"
#include "svc_log.h"

namespace {

#if CFGSVC_VARIANT == 1
constexpr int kUnknownTypeVoltage = 4200;
constexpr const char *kFallbackName = "KORVA1";
#else
constexpr int kUnknownTypeVoltage = 1500;
constexpr const char *kFallbackName = "KORVA2";
#endif

struct type_voltage {
	std::uint8_t hb_type;
	int voltage; // 10 mV
};

constexpr std::array<type_voltage, 15> kSupplyVoltages = {{
	{2, 1500}, {3, 1500}, {7, 1500}, {40, 1500}, {4, 1950}, {5, 2000}, {6, 4200}, {9, 3500},
	{10, 2700}, {20, 1400}, {21, 1700}, {22, 1700}, {23, 1850}, {24, 1850}, {29, 600},
}};

struct type_model {
	std::uint8_t hb_type;
	const char *name;
};

constexpr std::array<type_model, 16> kModelNames = {{
	{3, "KX1"}, {4, "KX1+"}, {5, "KX1+"}, {6, "KX-Nova1"}, {7, "KX-Lumen1"}, {40, "KX-Lumen1"},
	{8, "KX-Terra1"}, {9, "KX-Vega1"}, {10, "KX-Orion1"}, {11, "KX-Pixel1"}, {20, "KX2"}, {22, "KX2"},
	{23, "KX2"}, {21, "KX2+"}, {24, "KX2S"}, {29, "KX2-LumenMini"},
}};

struct connector {
	const char *port;
	const char *board;
	const char *failure;
	std::int16_t code;
};

constexpr std::array<connector, kConnectorCount> kConnectors = {{
	{"/dev/ttyS0", "hash_board1", "Error code: 501, CN_1: Failed recognize the hash board!", -501},
	{"/dev/ttyS1", "hash_board2", "Error code: 502, CN_2: Failed recognize the hash board!", -502},
	{"/dev/ttyS3", "hash_board3", "Error code: 503, CN_3: Failed recognize the hash board!", -503},
	{"/dev/ttyS5", "hash_board4", "Error code: 504, CN_4: Failed recognize the hash board!.", -504},
}};

int supply_voltage(int hb_type)
{
	for (const type_voltage &row : kSupplyVoltages) {
		if (row.hb_type == hb_type)
			return row.voltage;
	}
	svc_log(kLogError, "Hashboard type = %d, was error!", hb_type);
	return kUnknownTypeVoltage;
}

const char *model_name(int hb_type)
{
	for (const type_model &row : kModelNames) {
		if (row.hb_type == hb_type)
			return row.name;
	}
	return kFallbackName;
}

[[maybe_unused]] bool known_board_type(int hb_type)
{
	return (hb_type >= 3 && hb_type <= 11) || (hb_type >= 20 && hb_type <= 24) || hb_type == 29 || hb_type == 40;
}

void all_boards(const char *board_en, const char *core_reset)
{
	for (const connector &cn : kConnectors)
		Set_HashBoard(cn.board, board_en, core_reset);
}

// Boards and main supply off, line 99 pulsed and held low, supply on, boards enabled.
void power_cycle(int voltage)
{
	all_boards("0", "0");
	AC_PowerSet(voltage, 0);
	hb_reset_pulse("99", 1);
	svc_log(kLogInfo, "hash board power off!");
	wait_ms(2600);
	hb_reset_pulse("99", 0);
	AC_PowerSet(voltage, 1);
	svc_log(kLogInfo, "hash board power on!");
	wait_ms(400);
	all_boards("1", "0");
	wait_ms(500);
}

// A connector counts as carrying a board when its chain answers the probe.
void recognize_boards()
{
	device_record &d = dev();
	for (int i = 0; i < kConnectorCount; ++i) {
		const connector &cn = kConnectors[static_cast<std::size_t>(i)];
		Set_HashBoard(cn.board, "1", "1");
		wait_ms(1000);
		std::uint32_t probe_value = 0;
		if (get_hashcoreVersion(cn.port, &probe_value) > 0) {
			d.present[i] = 1;
			svc_log(kLogInfo, "CN[%d] successfully recognizes the hash board!", i + 1);
			Set_HashBoard(cn.board, "1", "0");
		} else {
			d.present[i] = 0;
			svc_log(kLogError, "%s", cn.failure);
			record_error(cn.code);
		}
	}
}

void start_factory_test()
{
	run_shell("supervisorctl start kx_ftm &");
}

#if CFGSVC_VARIANT == 1
// With the controller's serial number known: the factory test for missing
// targets, else "health" once the targets and the supply check out.
void start_boot_program()
{
	device_record &d = dev();
	if (d.Vt <= 0 || d.Ft <= 0) {
		start_factory_test();
		svc_log(kLogInfo, "start ftm for test!");
		d.test_mode = 1;
	} else if (d.Vt < 3300 || d.Vt > 4300) {
		svc_log(kLogError, "Error code: 205, Incorrect voltage range, health not started!");
		record_error(-205);
	} else if (prase_power_all() <= 3299) {
		svc_log(kLogError, "Error code: 204, Power on failed, health not started!");
		record_error(-204);
	} else {
		run_shell("supervisorctl start health &");
		svc_log(kLogInfo, "start health to run miner!");
	}
}

void read_serial_number()
{
	device_record &d = dev();
	char sn[kVendorRecordSize] = {};
	const int length = vendor_storage_read(VENDOR_SN_ID, reinterpret_cast<std::uint8_t *>(sn), sizeof(sn) - 1);
	if (length > 0) {
		sn[length] = '\0';
		d.rdonly = 1;
		start_boot_program();
		std::snprintf(d.dev_sn, sizeof(d.dev_sn), "%s", sn);
	} else {
		svc_log(kLogError, "Error code: 301, failed to vendor_storage_read!");
		svc_log(kLogError, "Error code: 301, control board SN is null!");
		record_error(-301);
		d.rdonly = 0;
		svc_log(kLogInfo, "start ftm for test!");
		start_factory_test();
		d.test_mode = 1;
	}
	svc_log(kLogInfo, "read dev sn : %s rdonly = %d", d.dev_sn, d.rdonly);
}
#else
constexpr std::array<const char *, 6> kPasswordMakers = {"QV", "PL", "GU", "WO", "JU", "KB"};
constexpr const char *kPasswordHead = "Kx#7";
constexpr const char *kPasswordTail = "r9@Q";

// The password goes to passwd on its standard input, twice; the shell only
// runs "passwd" and never sees the password, whatever the code holds.
void set_root_password(const char *dev_mfrs)
{
	char password[4 + kTestModeLineSize + 4];
	std::snprintf(password, sizeof(password), "%s%s%s", kPasswordHead, dev_mfrs, kPasswordTail);
	// A passwd that ends before reading must not take the service down with SIGPIPE.
	struct sigaction ignore {};
	struct sigaction previous {};
	ignore.sa_handler = SIG_IGN;
	sigaction(SIGPIPE, &ignore, &previous);
	if (std::FILE *passwd = popen("passwd", "w")) {
		std::fprintf(passwd, "%s\n%s\n", password, password);
		pclose(passwd);
	} else {
		svc_log(kLogError, "passwd could not be run");
	}
	sigaction(SIGPIPE, &previous, nullptr);
}

// The test-mode configuration: the root password for known makers and the
// factory-test program the test argument names. Returns the test argument.
int apply_test_mode_config()
{
	test_mode_config config;
	if (!read_test_mode_config(config))
		return config.tst_arg;
	for (const char *maker : kPasswordMakers) {
		if (std::strstr(config.dev_mfrs, maker) != nullptr) {
			set_root_password(config.dev_mfrs);
			break;
		}
	}
	if (config.tst_arg == 200)
		run_shell("supervisorctl start kx_ftm_lite &");
	else if (config.tst_arg == 600)
		start_factory_test();
	return config.tst_arg;
}

// Variant 2 keeps no serial number: the machine is always in test mode.
int enter_test_mode()
{
	device_record &d = dev();
	svc_log(kLogError, "Error code: 301, control board SN is null!");
	record_error(-301);
	d.rdonly = 0;
	const int tst_arg = apply_test_mode_config();
	svc_log(kLogInfo, "start ftm for test!");
	d.test_mode = 1;
	svc_log(kLogInfo, "read dev sn : %s rdonly = %d", d.dev_sn, d.rdonly);
	return tst_arg;
}
#endif

void log_mac()
{
	std::uint8_t mac[kVendorRecordSize] = {};
	char text[3 * kMacSize] = {};
	if (vendor_storage_read(VENDOR_LAN_MAC_ID, mac, sizeof(mac)) >= 0) {
		std::snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
			      mac[4], mac[5]);
	}
	svc_log(kLogInfo, "read mac : %s", text);
}

// Appends "_" and part to the text in name[size], cut at the buffer's end.
void append_part(char *name, std::size_t size, const char *part)
{
	const std::size_t length = strnlen(name, size - 1);
	if (std::snprintf(name + length, size - length, "_%s", part) < 0)
		name[length] = '\0';
}

// Model name and software version from /etc/version; false when it cannot
// be read, and then both stay empty.
bool name_the_machine([[maybe_unused]] int tst_arg)
{
	device_record &d = dev();
	version_texts versions;
	if (!read_version_file(versions))
		return false;

	std::snprintf(d.type_name, sizeof(d.type_name), "%s", model_name(d.hb_type));
	if (std::strcmp(d.type_name, kFallbackName) == 0)
		svc_log(kLogError, "type_name : %s, was error!", d.type_name);
	else
		svc_log(kLogInfo, "type_name: %s", d.type_name);
#if CFGSVC_VARIANT == 2
	if (tst_arg == 200)
		append_part(d.type_name, sizeof(d.type_name), "Lite");
	append_part(d.type_name, sizeof(d.type_name), "TST");
#endif

	const char *version = std::strstr(versions.software, "V1.");
	if (version == nullptr)
		version = std::strstr(versions.software, "V0.");
	if (version == nullptr)
		version = versions.software;
	std::snprintf(d.sw_version, sizeof(d.sw_version), "%s", d.type_name);
	append_part(d.sw_version, sizeof(d.sw_version), version);
	return true;
}

} // namespace

void init_hw_env()
{
	device_record &d = dev();
	load_hb_eeproms(1);
	const int voltage = supply_voltage(d.hb_type);
	power_cycle(voltage);
#if CFGSVC_VARIANT == 1
	if (!known_board_type(d.hb_type))
		svc_log(kLogError, "Error code: 500, Can Not get Board type!");
#endif
	recognize_boards();
	set_fans_duty("50", "50");
	svc_log(kLogInfo, "fans turn on duty=50%%!");

#if CFGSVC_VARIANT == 1
	AC_PowerSet(voltage, 0);
	read_serial_number();
	const int tst_arg = -1;
#else
	const int tst_arg = enter_test_mode();
#endif
	log_mac();

	// Without /etc/version there is no model name, and an empty one must not
	// become the hostname.
	if (name_the_machine(tst_arg))
		keep_hostname(d.type_name, kFallbackName);

	get_hw_version(d.hw_version, sizeof(d.hw_version));
	svc_log(kLogInfo, "read hardware version : %s", d.hw_version);
	svc_log(kLogInfo, "initialize hardware environment done!");
}
