// The command sequences behind the "app." keys, "dev.power" "upgrade" and
// "dev.sys" "reboot". Exit statuses are not examined: the supervisor owns the
// programs' states.
#include "app_sequences.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "hw_access.h"
#include "svc_log.h"

namespace {

struct connector_programs {
	const char *port;       // "ttyS0": the suffix of the gp, miner and vmin names
	const char *reset_line; // sysfs GPIO number
};

constexpr std::array<connector_programs, 4> kConnectors = {{
	{"ttyS0", "50"},
	{"ttyS1", "51"},
	{"ttyS3", "106"},
	{"ttyS5", "107"},
}};

const connector_programs *connector(int i)
{
	return i >= 1 && i <= 4 ? &kConnectors[static_cast<std::size_t>(i - 1)] : nullptr;
}

// "supervisorctl <verb> <program>.<port>", with " &" when it goes to the background.
void supervisor(const char *verb, const char *program, const char *port, bool background)
{
	char command[64];
	std::snprintf(command, sizeof(command), "supervisorctl %s %s.%s%s", verb, program, port,
		      background ? " &" : "");
	run_shell(command);
}

void log_supervisor(const char *verb, const char *program, const char *port)
{
	svc_log(kLogDebug, "supervisorctl %s %s.%s", verb, program, port);
}

// "<script> <argument> &", formatted into 64 bytes.
void run_start_script(const char *script, int argument)
{
	char command[64];
	std::snprintf(command, sizeof(command), "%s %d &", script, argument);
	run_shell(command);
}

} // namespace

void run_shell(const char *command)
{
	const int status = std::system(command);
	(void)status;
}

void gp_start(int i)
{
	if (const connector_programs *cn = connector(i)) {
		hb_reset_pulse(cn->reset_line, 1);
		supervisor("start", "gp", cn->port, true);
		log_supervisor("start", "gp", cn->port);
		return;
	}
	run_start_script("/root/start_all_gp.sh", i);
	svc_log(kLogDebug, "supervisorctl start gp.all");
}

void gp_stop(int i)
{
	if (const connector_programs *cn = connector(i)) {
		supervisor("stop", "gp", cn->port, true);
		log_supervisor("stop", "gp", cn->port);
		return;
	}
	gp_stop_all();
}

void supervisor_restart_gp(int i)
{
	if (const connector_programs *cn = connector(i)) {
		supervisor("stop", "gp", cn->port, false);
		hb_reset_pulse(cn->reset_line, 1);
		supervisor("start", "gp", cn->port, true);
		log_supervisor("restart", "gp", cn->port);
		return;
	}
	svc_log(kLogError, "supervisor_restart_gp unsupported parameters of index!");
}

void miner_start(int i)
{
	if (const connector_programs *cn = connector(i)) {
		supervisor("start", "miner", cn->port, true);
		log_supervisor("start", "miner", cn->port);
		return;
	}
	run_start_script("/root/start_all_miner.sh", i);
	svc_log(kLogDebug, "supervisorctl start miner.all");
}

void miner_stop(int i)
{
	if (const connector_programs *cn = connector(i)) {
		supervisor("stop", "miner", cn->port, false);
		log_supervisor("stop", "miner", cn->port);
		reset_gpio_set(cn->reset_line, 0);
		return;
	}
	run_shell("/root/stop_all_miner.sh 1");
	svc_log(kLogDebug, "stop all miner.ttyS*");
}

void supervisor_restart_miner(int i)
{
	if (const connector_programs *cn = connector(i)) {
		supervisor("restart", "miner", cn->port, true);
		log_supervisor("restart", "miner", cn->port);
		return;
	}
	svc_log(kLogError, "supervisor_restart_miner unsupported parameters of index!");
}

void gp_stop_all()
{
	run_shell("/root/stop_all_gp.sh 1");
	svc_log(kLogDebug, "Stop all gp.ttyS*!");
}

void vmin_stop_all()
{
	for (const connector_programs &cn : kConnectors)
		supervisor("stop", "vmin", cn.port, true);
}

void test_stop()
{
	run_shell("supervisorctl stop kx_ftm &");
}

void test_start()
{
	vmin_stop_all();
	miner_stop(0);
	gp_stop_all();
	run_shell("supervisorctl stop aging &");
	wait_ms(3000);
	run_shell("supervisorctl restart kx_ftm &");
}

void test_restart()
{
	test_stop();
	test_start();
}

void aging_stop()
{
	run_shell("supervisorctl stop aging &");
}

void aging_start()
{
	vmin_stop_all();
	test_stop();
	miner_stop(0);
	gp_stop_all();
	wait_ms(1000);
	run_shell("supervisorctl restart aging &");
}

void aging_restart()
{
	aging_stop();
	aging_start();
}

namespace {
// Everything but health told to stop, then a second for the supervisor.
void stop_all_but_health()
{
	vmin_stop_all();
	test_stop();
	aging_stop();
	miner_stop(0);
	gp_stop_all();
	wait_ms(1000);
}
} // namespace

void health_start()
{
	stop_all_but_health();
	run_shell("supervisorctl start health &");
}

void health_stop()
{
	stop_all_but_health();
	run_shell("supervisorctl stop health &");
}

void health_restart()
{
	run_shell("supervisorctl stop health &");
	aging_stop();
	wait_ms(500);
	vmin_stop_all();
	test_stop();
	miner_stop(0);
	gp_stop_all();
	wait_ms(500);
	run_shell("supervisorctl start health &");
}

void reboot_sequence()
{
	miner_stop(0);
	run_shell("reboot &");
}

void upgrade_handover()
{
	run_shell("supervisorctl stop health &");
	aging_stop();
	vmin_stop_all();
	test_stop();
	miner_stop(0);
	gp_stop_all();
	run_shell("supervisorctl stop kx_hwmond");
	run_shell("supervisorctl start upgradesvc &");
}
