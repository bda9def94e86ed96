// Reset button on /dev/uio1 and GPIO 110: debounce, hold time, and the reboot or restore it selects.
#include "reset_key.h"

#include <unistd.h>

#include <array>
#include <cstdio>

#include "rk_io.h"
#include "rk_log.h"

namespace {

constexpr int kResetLine = 110;
constexpr const char *kResetUio = "/dev/uio1";
constexpr int kUioInfoSize = 4;

constexpr long long kDebounceMs = 50;
constexpr int kBlockedReports = 5;
constexpr int kBlockedReportPauseMs = 200;
constexpr int kBlinkTimes = 5;
constexpr int kBlinkPhaseMs = 300;

constexpr const char *kErrnoReport =
	"ubus call Setting transfer "
	"'{\"sendmsg\":\"{\\\"key\\\":\\\"dev.errno\\\",\\\"action\\\":\\\"set\\\",\\\"body\\\":{\\\"errno\\\":[-415]}}\"}'";
constexpr const char *kPoolReset =
	"ubus call Setting transfer "
	"'{\"sendmsg\":\"{\\\"key\\\":\\\"pools\\\",\\\"action\\\":\\\"clean\\\",\\\"body\\\":{}}\"}'";
constexpr const char *kPingsIgnored = "echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all";
constexpr const char *kPingsAnswered = "echo 0 > /proc/sys/net/ipv4/icmp_echo_ignore_all";

constexpr std::array kLedsOff = {"echo 0 > /sys/class/gpio/gpio1/value", "echo 0 > /sys/class/gpio/gpio2/value"};
constexpr std::array kLedsOn = {"echo 1 > /sys/class/gpio/gpio1/value", "echo 1 > /sys/class/gpio/gpio2/value"};
constexpr std::array kFactoryRestore = {
	kPoolReset,
	"cp /usr/lib/lua/luci/config/dhcpcd.conf.bak /etc/dhcpcd.conf",
	"cp /usr/lib/lua/luci/config/rpcdconfig /etc/config/rpcd",
	"[ -f /etc/ntp.conf.bak ] && cp /etc/ntp.conf.bak /etc/ntp.conf",
	"[ -f /etc/hostname.bak ] && cp /etc/hostname.bak /etc/hostname",
	"rm /tmp/messages*",
};

enum class hold_action { false_trigger, reboot, restore };

struct hold_range {
	long long min_ms, max_ms;
	hold_action action;
};

// Hold times outside every range are false triggers.
constexpr std::array kHoldRanges = {
	hold_range{101, 4999, hold_action::reboot},
	hold_range{5000, 19999, hold_action::restore},
};

struct reset_key_state {
	long long last_press_ms = 0;
	long long last_false_ms = 0;
	int false_triggers = 0;
};

hold_action classify_hold(long long held_ms)
{
	for (const hold_range &range : kHoldRanges)
		if (held_ms >= range.min_ms && held_ms <= range.max_ms)
			return range.action;
	return hold_action::false_trigger;
}

template <std::size_t N> void run_all(const std::array<const char *, N> &commands)
{
	for (const char *command : commands)
		run_shell(command);
}

void reboot_only()
{
	run_all(kLedsOff);
	run_shell("reboot &");
	log_line("dev reboot only!");
}

void restore_and_reboot()
{
	run_all(kFactoryRestore);
	for (int i = 0; i < kBlinkTimes; ++i) {
		run_all(kLedsOn);
		pause_ms(kBlinkPhaseMs);
		run_all(kLedsOff);
		pause_ms(kBlinkPhaseMs);
	}
	run_shell("reboot &");
	log_line("dev restore !");
}

// One release after a press; true when a reboot or restore was started and the thread is done.
bool handle_release(reset_key_state &state, long long now, long long held)
{
	log_line("read reset_uio end   = %lld!", now);
	log_line("*******************reset key keep time : %d ms *************!", static_cast<int>(held));
	switch (classify_hold(held)) {
	case hold_action::reboot:
		reboot_only();
		return true;
	case hold_action::restore:
		restore_and_reboot();
		return true;
	case hold_action::false_trigger:
		break;
	}
	run_shell(kPingsAnswered);
	log_line("False trigger count = %d", state.false_triggers);
	++state.false_triggers;
	state.last_false_ms = now;
	return false;
}

enum class step { wait_again, done };

// One interrupt at time now: the level before it, the level after it and the count the device reported.
step handle_interrupt(reset_key_state &state, long long now, int before, int after, int info)
{
	const long long held = now - state.last_press_ms;
	const bool level_unchanged = before == after;
	if ((held <= kDebounceMs || now - state.last_false_ms <= kDebounceMs) && level_unchanged)
		return step::wait_again;

	if (before == 1 && after == 0) {
		state.last_press_ms = now;
		run_shell(kPingsIgnored);  // no answer to pings while the button is held
		log_line("read reset_uio start = %lld!", now);
	} else if (before == 0 && after == 1 && state.last_press_ms != 0) {
		if (handle_release(state, now, held)) {
			log_line("kx_reset read reset_uio interrupt done.");
			return step::done;
		}
		return step::wait_again;
	}
	log_line("read reset_uio info = %d, reset = %d, curr_value= %X!\n", info, kUioInfoSize,
		 static_cast<unsigned>(after));
	return step::wait_again;
}

} // namespace

int check_reset_blocked(int line)
{
	char direction_path[80];
	std::snprintf(direction_path, sizeof(direction_path), "/sys/devices/platform/pinctrl/gpio/gpio%d/direction",
		      line);
	char direction[9];
	if (gpio_read_direction(direction_path, direction) < 0) {
		log_line("%s does not exist!", direction_path);
		char number[12];
		std::snprintf(number, sizeof(number), "%d", line);
		gpio_export(number);
		log_line("write %s to /sys/class/gpio/export", number);
		if (gpio_read_direction(direction_path, direction) < 0) {
			log_line("fail to open %s!", direction_path);
			return -1;
		}
	}
	log_line("read %s : %s", direction_path, direction);

	int reports = 0;
	while (gpio_get_value(line) == 0) {
		if (reports == kBlockedReports)
			return -1;
		++reports;
		log_line("The RESET button was pressed abnormally, count = %d!", reports);
		run_shell(kErrnoReport);
		pause_ms(kBlockedReportPauseMs);
	}
	return reports > 0 ? -1 : 0;
}

void *kx_reset(void *)
{
	if (check_reset_blocked(kResetLine) != 0) {
		log_line("! The RESET button is blocked !");
		return nullptr;
	}
	log_line("The RESET button is normal.");

	const int fd = uio_open(kResetUio);
	if (fd < 0) {
		log_line("fail to open reset_uio reset device.");
		return nullptr;
	}
	reset_key_state state;
	for (;;) {
		const int before = gpio_get_value(kResetLine);
		log_line("read gpio %d value = %d", kResetLine, before);
		if (uio_arm(fd) != kUioInfoSize) {
			log_line("write reset_uio device reset fail");
			break;
		}
		log_line("wait for interrupt.");
		int info = 0;
		if (uio_wait(fd, &info) != kUioInfoSize)
			continue;
		const long long now = now_ms();
		const int after = gpio_get_value(kResetLine);
		log_line("read gpio %d value = %d", kResetLine, after);
		if (handle_interrupt(state, now, before, after, info) == step::done)
			break;
	}
	close(fd);
	return nullptr;
}
