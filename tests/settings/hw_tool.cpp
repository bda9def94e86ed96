// Test helper run inside the twin: calls the settings service's hardware
// access operations one at a time, the way the service does, and prints what
// they returned. Also stands in for "hwmond" when a scenario needs replies
// the hardware monitor never sends.
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bus_link.h"
#include "device_record.h"
#include "dispatcher.h"
#include "eeprom_record.h"
#include "hw_access.h"
#include "vorn.h"

namespace {

std::string hex(const std::uint8_t *bytes, std::size_t n)
{
	std::string text;
	char pair[3];
	for (std::size_t i = 0; i < n; ++i) {
		std::snprintf(pair, sizeof(pair), "%02X", bytes[i]);
		text += pair;
	}
	return text;
}

void on_signal(int)
{
	static const char note[] = "signal\n";
	ssize_t n = write(STDERR_FILENO, note, sizeof(note) - 1);
	(void)n;
}

// Signals interrupt waits instead of restarting them.
void catch_usr1()
{
	struct sigaction action {};
	action.sa_handler = on_signal;
	sigemptyset(&action.sa_mask);
	action.sa_flags = 0;
	sigaction(SIGUSR1, &action, nullptr);
}

vorn_ctx *connect_bus()
{
	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (ctx == nullptr)
		return nullptr;
	static char name[32];
	std::snprintf(name, sizeof(name), "hwtool.%d", static_cast<int>(getpid()));
	vorn_set_obj_name(ctx, name);
	bus_link_attach(ctx);
	return ctx;
}

// fake-hwmond REPLY_FILE RECORD_FILE: answers every request with the file's
// text and appends each request text as one line to the record.
const char *g_record_path = nullptr;
const char *g_reply_path = nullptr;

int fake_hwmond_reply(const char *msg, char *resp, int resp_size)
{
	if (FILE *record = std::fopen(g_record_path, "a")) {
		std::fprintf(record, "%s\n", msg);
		std::fclose(record);
	}
	resp[0] = '\0';
	if (FILE *reply = std::fopen(g_reply_path, "r")) {
		std::size_t n = std::fread(resp, 1, static_cast<std::size_t>(resp_size - 1), reply);
		resp[n] = '\0';
		std::fclose(reply);
	}
	return resp_size;
}

int fake_hwmond(const char *reply_path, const char *record_path)
{
	g_reply_path = reply_path;
	g_record_path = record_path;
	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (ctx == nullptr || vorn_set_obj_name(ctx, "hwmond") != 0)
		return 1;
	vorn_set_msg_cb(ctx, fake_hwmond_reply);
	std::printf("ready\n");
	std::fflush(stdout);
	vorn_run_loop(ctx);
	return 0;
}

int usage()
{
	std::fprintf(stderr, "usage: hw_tool COMMAND ARGS...\n");
	return 2;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc < 2 || !device_record_init())
		return usage();
	const std::string cmd = argv[1];
	auto arg = [&](int i) { return i + 2 < argc ? argv[i + 2] : ""; };
	auto num = [&](int i) { return std::atoi(arg(i)); };

	if (cmd == "fake-hwmond")
		return fake_hwmond(arg(0), arg(1));

	// request RDONLY JSON [VT]: one request through the service's handler in
	// this process, with the read-only flag and target voltage that start-up
	// would have set.
	if (cmd == "request") {
		dev().rdonly = static_cast<std::uint8_t>(num(0));
		dev().Vt = static_cast<std::int16_t>(num(2));
		static char reply[4096];
		__setting_server(arg(1), reply, sizeof(reply));
		std::printf("%s\n", reply);
		return 0;
	}
	// hb-request TEST_MODE JSON: one request with every connector present and
	// the factory-test flag start-up would have set.
	if (cmd == "hb-request") {
		dev().test_mode = static_cast<std::uint8_t>(num(0));
		for (int b = 0; b < kConnectorCount; ++b)
			dev().present[b] = 1;
		vorn_ctx *ctx = connect_bus();
		static char reply[8192];
		__setting_server(arg(1), reply, sizeof(reply));
		std::printf("%s\nerrors=%d\n", reply, dev().err_count);
		if (ctx != nullptr)
			vorn_finalize(ctx);
		return 0;
	}
	if (cmd == "vendor-read") {
		// A record-sized buffer plus a guard; the guard must stay untouched.
		std::uint8_t buf[kVendorRecordSize + 16];
		std::memset(buf, 0xEE, sizeof(buf));
		const int ret = vendor_storage_read(num(0), buf, kVendorRecordSize);
		bool guard = true;
		for (std::size_t i = kVendorDataSize; i < sizeof(buf); ++i)
			guard = guard && buf[i] == 0xEE;
		std::printf("ret=%d data=%s guard=%s\n", ret, ret > 0 ? hex(buf, static_cast<std::size_t>(ret)).c_str() : "",
			    guard ? "intact" : "overwritten");
		return 0;
	}
	if (cmd == "vendor-write-sn") {
		std::printf("ret=%d\n", vendor_storage_write(VENDOR_SN_ID, arg(0)));
		return 0;
	}
	if (cmd == "vendor-write-mac") {
		std::uint8_t mac[kMacSize] = {};
		hex_to_bytes(arg(0), mac, sizeof(mac));
		std::printf("ret=%d\n", vendor_storage_write(VENDOR_LAN_MAC_ID, mac));
		return 0;
	}
	if (cmd == "probe") {
		catch_usr1();
		std::uint32_t value = 0xDEADBEEF;
		const int ret = get_hashcoreVersion(arg(0), &value);
		std::printf("ret=%d value=0x%08X\n", ret, value);
		return 0;
	}
	if (cmd == "reset-set") {
		std::printf("ret=%d\n", reset_gpio_set(arg(0), num(1)));
		return 0;
	}
	if (cmd == "pulse") {
		std::printf("ret=%d\n", hb_reset_pulse(arg(0), num(1)));
		return 0;
	}
	if (cmd == "status") {
		std::printf("ret=%d\n", status_gpio_set(num(0), num(1)));
		return 0;
	}
	if (cmd == "hw-version") {
		std::snprintf(dev().type_name, sizeof(dev().type_name), "%s", arg(0));
		char text[32] = "unchanged";
		const int ret = get_hw_version(text, sizeof(text));
		std::printf("ret=%d text=%s\n", ret, text);
		return 0;
	}

	// The rest talks to "hwmond".
	vorn_ctx *ctx = connect_bus();
	if (ctx == nullptr)
		return 1;
	int ret = 0;
	if (cmd == "fans") {
		ret = set_fans_duty(arg(0), arg(1));
	} else if (cmd == "hashboard") {
		ret = Set_HashBoard(arg(0), arg(1), arg(2));
	} else if (cmd == "power-set") {
		ret = AC_PowerSet(num(0), num(1));
#if CFGSVC_VARIANT == 1
	} else if (cmd == "power-get") {
		ret = prase_power_all();
#endif
	} else if (cmd == "eeprom-get") {
		// Each slot starts as a distinct pattern, so a slot that was written shows.
		for (int b = 0; b < kConnectorCount; ++b)
			std::memset(dev().board[b].ee_data, 0x11 * (b + 1), kEepromImageSize);
		ret = get_eeprom_data(num(0));
		for (int b = 0; b < kConnectorCount; ++b)
			std::printf("slot%d=%s\n", b, hex(dev().board[b].ee_data, kEepromImageSize).c_str());
	} else if (cmd == "load-eeproms") {
		// load-eeproms MODE READ: the targets start-up derives for a device mode.
		dev().mode = static_cast<std::int16_t>(num(0));
		ret = load_hb_eeproms(num(1));
		std::printf("Vt=%d Ft=%d hb_type=%d credits=%d errors=", dev().Vt, dev().Ft, dev().hb_type,
			    dev().power_reset_credits);
		for (int i = 0; i < dev().err_count; ++i)
			std::printf("%s%d", i ? "," : "", dev().err_codes[i]);
		std::printf("\n");
		for (int b = 0; b < kConnectorCount; ++b)
			std::printf("slot%d=%s\n", b, hex(dev().board[b].ee_data, kEepromImageSize).c_str());
	} else if (cmd == "eeprom-set") {
		ret = set_eeprom_data(num(0), num(1), arg(2));
	} else {
		vorn_finalize(ctx);
		return usage();
	}
	std::printf("ret=%d\n", ret);
	vorn_finalize(ctx);
	return 0;
}
