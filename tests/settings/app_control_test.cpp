// "app.gp", "app.miner", "app.test", "app.aging" and "app.health" through the
// real bus: the commands the twin's supervisor wrapper and group scripts see,
// their order, the waits before them and the reset-line writes between them.
#include <algorithm>
#include <chrono>

#include "hw_scenario.h"

using namespace scenario;
using namespace hw_scenario;

namespace {

std::string app(const std::string &key, const std::string &action, int cn_index)
{
	return "{\"key\":\"" + key + "\",\"action\":\"" + action + "\",\"body\":{\"cn_index\":" +
	       std::to_string(cn_index) + "}}";
}

std::string app(const std::string &key, const std::string &action)
{
	return "{\"key\":\"" + key + "\",\"action\":\"" + action + "\"}";
}

// The service's steps as it runs them: " &" marks a background start.
const std::vector<std::string> kVminStops = {
	"supervisorctl stop vmin.ttyS0 &", "supervisorctl stop vmin.ttyS1 &", "supervisorctl stop vmin.ttyS3 &",
	"supervisorctl stop vmin.ttyS5 &"};
const std::vector<std::string> kGroupStops = {"/root/stop_all_miner.sh 1", "/root/stop_all_gp.sh 1"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

} // namespace

class AppControl : public SettingScenario {
protected:
	// The reset pulses and waits are measured in real time.
	double speed() const override { return 1.0; }

	// Sends a request and returns the commands it caused, once `expected`
	// of them have been recorded (background commands record a little later).
	std::vector<twin::Command> run(const std::string &request, std::size_t expected, std::string *reply = nullptr)
	{
		const std::size_t before = twin().commands().size();
		const std::string answer = setting(request);
		if (reply != nullptr)
			*reply = answer;
		else
			EXPECT_EQ(answer, kOk) << request;
		std::vector<twin::Command> all = wait_commands(twin(), before + expected, 10000);
		// Nothing more arrives a moment later.
		std::this_thread::sleep_for(std::chrono::milliseconds(150));
		all = twin().commands();
		return std::vector<twin::Command>(all.begin() + static_cast<long>(std::min(before, all.size())), all.end());
	}

	// A group script runs in the background: its programs are up before the next request stops them.
	void wait_group_running(const std::string &group)
	{
		for (const char *port : {"ttyS0", "ttyS1", "ttyS3", "ttyS5"}) {
			const std::string name = group + "." + port;
			for (int i = 0; i < 200 && twin().program_status(name) != "RUNNING"; ++i)
				std::this_thread::sleep_for(std::chrono::milliseconds(50));
			EXPECT_EQ(twin().program_status(name), "RUNNING") << name;
		}
	}
};

TEST_P(AppControl, GpStartOnOneConnectorPulsesItsResetLineFirst)
{
	mark_present("\"miner.ttyS1\"");
	const auto start = std::chrono::steady_clock::now();
	const auto commands = run(app("app.gp", "start", 2), 1);
	EXPECT_GE(seconds_since(start), 3.1);
	ASSERT_EQ(texts(commands), (std::vector<std::string>{"supervisorctl start gp.ttyS1"}));
	const auto values = value_writes(twin().gpio_record(), 51);
	ASSERT_EQ(values.size(), 2u);
	EXPECT_EQ(values[0].value, "0");
	EXPECT_EQ(values[1].value, "1");
	EXPECT_NEAR(values[1].t - values[0].t, 3.0, 0.25);
	EXPECT_GE(commands[0].t, values[1].t + 0.09) << "the start follows the pulse and its 100 ms";
	EXPECT_TRUE(twin().wait_log("supervisorctl start gp.ttyS1", 2000));
}

TEST_P(AppControl, GpOnAllConnectorsUsesThePresenceNumber)
{
	std::string reply;
	EXPECT_TRUE(run(app("app.gp", "start", 0), 0, &reply).empty());
	EXPECT_EQ(reply, refusal("cn_10000 is empty by app.gp "));
	EXPECT_TRUE(twin().wait_log("Interface cn_10000 is empty by __app_gp_run(all)", 2000));

	mark_present("\"miner.ttyS0\",\"miner.ttyS1\"");
	EXPECT_EQ(texts(run(app("app.gp", "start", 0), 1)), (std::vector<std::string>{"/root/start_all_gp.sh 10011"}));
	EXPECT_TRUE(twin().wait_log("supervisorctl start gp.all", 2000));
	wait_group_running("gp");
	EXPECT_EQ(texts(run(app("app.gp", "stop", 0), 1)), (std::vector<std::string>{"/root/stop_all_gp.sh 1"}));
	EXPECT_TRUE(twin().wait_log("Stop all gp.ttyS*!", 2000));
	EXPECT_TRUE(run(app("app.gp", "restart", 0), 0).empty()) << "restart of all only logs";
	EXPECT_TRUE(twin().wait_log("supervisor_restart_gp unsupported parameters of index!", 2000));
	EXPECT_EQ(texts(run(app("app.gp", "stop", 1), 1)), (std::vector<std::string>{"supervisorctl stop gp.ttyS0"}));
	EXPECT_TRUE(gpio_since_boot().empty()) << "no reset pulse for a stop";

	ASSERT_EQ(setting("{\"key\":\"lists\",\"action\":\"clean\"}"), kOk);
	mark_present("\"miner.ttyS5\"");
	EXPECT_EQ(texts(run(app("app.gp", "start", 0), 1)), (std::vector<std::string>{"/root/start_all_gp.sh 11000"}));
}

TEST_P(AppControl, GpRestartStopsPulsesAndStarts)
{
	mark_present("\"miner.ttyS3\"");
	const auto commands = run(app("app.gp", "restart", 3), 2);
	ASSERT_EQ(texts(commands),
		  (std::vector<std::string>{"supervisorctl stop gp.ttyS3", "supervisorctl start gp.ttyS3"}));
	const auto values = value_writes(twin().gpio_record(), 106);
	ASSERT_EQ(values.size(), 2u);
	EXPECT_GE(values[0].t, commands[0].t) << "the stop was waited for";
	EXPECT_NEAR(values[1].t - values[0].t, 3.0, 0.25);
	EXPECT_GE(commands[1].t, values[1].t + 0.09);
	EXPECT_TRUE(twin().wait_log("supervisorctl restart gp.ttyS3", 2000));
}

TEST_P(AppControl, ConnectorIndexIsCheckedBeforeAnythingRuns)
{
	std::string reply;
	EXPECT_TRUE(run(app("app.miner", "start", -1), 0, &reply).empty());
	EXPECT_EQ(reply, refusal("Unsupport app.miner action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid iIndex = -1 vaule by __app_miner_run()", 2000));
	EXPECT_TRUE(run(app("app.miner", "start", 5), 0, &reply).empty());
	EXPECT_EQ(reply, refusal("Unsupport app.miner action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid iIndex = 5 vaule by __app_miner_run()", 2000));
	EXPECT_TRUE(run(app("app.gp", "start", 5), 0, &reply).empty());
	EXPECT_EQ(reply, refusal("Unsupport app.gp action or cn_index"));
	EXPECT_TRUE(run(app("app.miner", "stop", 1), 0, &reply).empty());
	EXPECT_EQ(reply, refusal("cn_1 is empty by app.miner "));
	EXPECT_TRUE(twin().wait_log("Interface cn_1 is empty by __app_miner_run()", 2000));
	mark_present("\"miner.ttyS0\"");
	EXPECT_TRUE(run(app("app.miner", "get", 1), 0, &reply).empty());
	EXPECT_EQ(reply, refusal("Unsupport app.miner action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid iAction = 0 vaule by __app_miner_run()", 2000));
	EXPECT_TRUE(gpio_since_boot().empty());
}

TEST_P(AppControl, MinerOnConnectorsAndOnAll)
{
	mark_present("\"miner.ttyS0\",\"miner.ttyS3\"");
	EXPECT_EQ(texts(run(app("app.miner", "start", 3), 1)),
		  (std::vector<std::string>{"supervisorctl start miner.ttyS3"}));
	const auto stop = run(app("app.miner", "stop", 3), 1);
	ASSERT_EQ(texts(stop), (std::vector<std::string>{"supervisorctl stop miner.ttyS3"}));
	const auto values = value_writes(twin().gpio_record(), 106);
	ASSERT_EQ(values.size(), 1u);
	EXPECT_EQ(values[0].value, "0");
	EXPECT_GE(values[0].t, stop[0].t) << "the reset line goes low after the waited stop";
	EXPECT_EQ(texts(run(app("app.miner", "restart", 1), 1)),
		  (std::vector<std::string>{"supervisorctl restart miner.ttyS0"}));
	EXPECT_EQ(texts(run(app("app.miner", "start", 0), 1)),
		  (std::vector<std::string>{"/root/start_all_miner.sh 10101"}));
	wait_group_running("miner");
	EXPECT_EQ(texts(run(app("app.miner", "stop", 0), 1)), (std::vector<std::string>{"/root/stop_all_miner.sh 1"}));
	EXPECT_TRUE(twin().wait_log("stop all miner.ttyS*", 2000));
	EXPECT_TRUE(run(app("app.miner", "restart", 0), 0).empty());
	EXPECT_TRUE(twin().wait_log("supervisor_restart_miner unsupported parameters of index!", 2000));
}

TEST_P(AppControl, HealthRestartStopsHealthFirstAndStartsItAboutASecondLater)
{
	const auto commands = run(app("app.health", "restart"), 10);
	expect_sequence(commands, std::vector<std::string>{"supervisorctl stop health &", "supervisorctl stop aging &",
							   kPause} +
					  kVminStops + std::vector<std::string>{"supervisorctl stop kx_ftm &"} + kGroupStops +
					  std::vector<std::string>{kPause, "supervisorctl start health &"});
	// 500 ms after the first two stops, 500 ms after the waited group scripts.
	const double first = time_of(commands, "supervisorctl stop health");
	EXPECT_GE(time_of(commands, "supervisorctl stop vmin.ttyS0") - first, 0.45);
	EXPECT_GE(time_of(commands, "supervisorctl start health") - time_of(commands, "/root/stop_all_gp.sh 1"), 0.45);
	EXPECT_GE(time_of(commands, "supervisorctl start health") - first, 0.95);
}

TEST_P(AppControl, HealthStartAndStopStopEverythingElseFirst)
{
	const std::vector<std::string> others =
		kVminStops + std::vector<std::string>{"supervisorctl stop kx_ftm &", "supervisorctl stop aging &"} +
		kGroupStops + std::vector<std::string>{kPause};
	auto commands = run(app("app.health", "start"), 9);
	expect_sequence(commands, others + std::vector<std::string>{"supervisorctl start health &"});
	EXPECT_GE(time_of(commands, "supervisorctl start health") - time_of(commands, "/root/stop_all_gp.sh 1"), 0.95);
	commands = run(app("app.health", "stop"), 9);
	expect_sequence(commands, others + std::vector<std::string>{"supervisorctl stop health &"});
}

TEST_P(AppControl, TestStartRestartsTheFactoryTestAboutThreeSecondsLater)
{
	const auto start = std::chrono::steady_clock::now();
	auto commands = run(app("app.test", "start"), 8);
	EXPECT_GE(seconds_since(start), 3.0);
	const std::vector<std::string> test_start = kVminStops + kGroupStops +
						    std::vector<std::string>{"supervisorctl stop aging &", kPause,
									     "supervisorctl restart kx_ftm &"};
	expect_sequence(commands, test_start);
	EXPECT_NEAR(time_of(commands, "supervisorctl restart kx_ftm") - time_of(commands, "supervisorctl stop aging"),
		    3.0, 0.3);
	EXPECT_EQ(texts(run(app("app.test", "stop"), 1)), (std::vector<std::string>{"supervisorctl stop kx_ftm"}));
	commands = run(app("app.test", "restart"), 9);
	expect_sequence(commands, std::vector<std::string>{"supervisorctl stop kx_ftm &"} + test_start);
}

TEST_P(AppControl, AgingStartStopsTheRestAndRestartsAging)
{
	auto commands = run(app("app.aging", "start"), 9);
	const std::vector<std::string> aging_start =
		kVminStops + std::vector<std::string>{"supervisorctl stop kx_ftm &"} + kGroupStops +
		std::vector<std::string>{kPause, "supervisorctl restart aging &"};
	expect_sequence(commands, aging_start);
	EXPECT_GE(time_of(commands, "supervisorctl restart aging") - time_of(commands, "/root/stop_all_gp.sh 1"), 0.95);
	EXPECT_EQ(texts(run(app("app.aging", "stop"), 1)), (std::vector<std::string>{"supervisorctl stop aging"}));
	commands = run(app("app.aging", "restart"), 10);
	expect_sequence(commands, std::vector<std::string>{"supervisorctl stop aging &"} + aging_start);
	std::string reply;
	EXPECT_TRUE(run(app("app.aging", "get"), 0, &reply).empty());
	EXPECT_EQ(reply, refusal("Unsupport app.aging action."));
}

SETTING_VARIANTS(AppControl);
