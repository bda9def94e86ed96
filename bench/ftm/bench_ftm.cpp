// kx_ftm benchmark: a core test and a full diagnostics run on a factory-layout twin, beside the time
// their specified waits and the serial line's byte time add up to, and the service's resident size
// before and after each.
#include <chrono>
#include <cstdio>
#include <string>

#include "../proc_stats.h"
#include "twin.h"

namespace {

constexpr int kChips = 64;
constexpr double kBaud = 2500000.0;
constexpr double kBitsPerByte = 11.0;  // start bit, 8 data bits, 2 stop bits
constexpr long kBudgetKib = 2048;       // every daemon's resident budget

double timed_call(twin::Twin &t, const std::string &request, std::string *reply)
{
	auto start = std::chrono::steady_clock::now();
	*reply = t.call("ftm", request, 120);
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double byte_time(size_t frames)
{
	return (double)frames * 8 * kBitsPerByte / kBaud;
}

// kx_ftm's VmRSS in KiB, read inside the twin; -1 when it does not run.
long ftm_rss_kib(twin::Twin &t)
{
	std::string pid = t.shell("pidof kx_ftm").out;
	while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
		pid.pop_back();
	return pid.empty() ? -1 : bench::field_kib(t.shell("cat /proc/" + pid + "/status").out, "VmRSS");
}

}  // namespace

int main()
{
	twin::BootOptions o;
	o.programs = {"kx_hwmond", "cfgsvc", "kx_ftm"};
	o.machine = R"({"boards": [{"cn": 1, "present": true, "type": 3, "chips": 64, "cores": 700},
		{"cn": 2, "present": false}, {"cn": 3, "present": false}, {"cn": 4, "present": false}],
		"vendor": {"present": true, "sn": null, "mac": null}})";
	std::unique_ptr<twin::Twin> t = twin::Twin::boot(o);
	t->wait_log("initialize hardware environment done!", 60000);
	t->wait_log("ftm: running... ", 20000);
	t->call("Setting", R"({"key":"lists","action":"set","body":{"lists":["miner.ttyS0"]}})");
	t->call("ftm", R"({"key":"ftm_dev.mboard","action":"set","body":{"index":1,"board_type":3,"ate_freq":1200,)"
		       R"("ate_vol":620,"chips_num":64,"hb_sn":"KXHB245173D000001A12BK11","sn_flash_or_check":0}})");

	const long rss_idle = ftm_rss_kib(*t);
	std::string reply;
	size_t before = t->serial_frames(1).size();
	double core = timed_call(*t, R"({"key":"ftm_dev.mboard","action":"get","body":{}})", &reply);
	size_t core_out = t->serial_frames(1).size() - before;
	// Specified waits: 3 s after power-up, 2 s in slot set-up; replies: chip 0's id and one report per chip.
	double core_waits = 3.0 + 2.0;
	double core_bytes = byte_time(core_out + 1 + kChips);
	printf("kx_ftm core test, 1 board of %d chips: %.2f s (specified waits %.2f s + serial byte time %.3f s, %zu frames out)%s\n",
	       kChips, core, core_waits, core_bytes, core_out, reply.find("\"code\": 0") == std::string::npos ? " FAILED" : "");

	const long rss_core = ftm_rss_kib(*t);
	before = t->serial_frames(1).size();
	double diag = timed_call(*t, R"({"key":"ftm_dev.mboard.diagnose","action":"get","body":{}})", &reply);
	size_t diag_out = t->serial_frames(1).size() - before;
	// Stage pauses of 100 ms, three slot set-ups of 2 s, 20 ms per chip in the fast check and 40 ms in the
	// one-by-one check; replies: chip 0 once, every chip twice, one report per chip.
	double diag_waits = 0.2 + (0.4 + 2.0) + (0.3 + 2.0 + 0.02) + (0.5 + 2.0) + kChips * 0.06;
	double diag_bytes = byte_time(diag_out + 1 + 3 * kChips);
	printf("kx_ftm diagnostics, 1 board of %d chips: %.2f s (specified waits %.2f s + serial byte time %.3f s, %zu frames out)%s\n",
	       kChips, diag, diag_waits, diag_bytes, diag_out, reply.find("\"bad_chips\": \"\"") == std::string::npos ? " FAILED" : "");
	const long rss_diag = ftm_rss_kib(*t);
	const bool meets = rss_core < kBudgetKib && rss_diag < kBudgetKib;
	printf("kx_ftm VmRSS: %ld KiB idle, %ld KiB after the core test, %ld KiB after the diagnostics (budget %ld KiB: %s)\n",
	       rss_idle, rss_core, rss_diag, kBudgetKib, meets ? "meets" : "OVER");
	return 0;
}
