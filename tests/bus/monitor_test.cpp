// `ubus monitor` around one call to a service: our tool prints the lines the
// platform's tool prints, through whichever daemon the bus tests run against.
#include "vorn_fixture.h"

#include <csignal>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace {

std::string read_file(const std::string &path)
{
	std::ifstream in(path);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

// Client and object ids differ from run to run: each becomes @1, @2, ... in the
// order it first appears, in the line's columns and as "objid"/"objtype" numbers.
std::string mask_ids(const std::string &lines)
{
	std::map<uint32_t, int> names;
	auto name_of = [&](uint32_t id) {
		auto it = names.emplace(id, static_cast<int>(names.size()) + 1).first;
		return "@" + std::to_string(it->second);
	};
	static const std::regex id(R"re((^(?:->|<-) |#)([0-9a-f]{8})|("obj(?:id|type)":)(-?[0-9]+))re");
	std::string out;
	std::istringstream in(lines);
	for (std::string line; std::getline(in, line);) {
		std::string masked;
		auto last = line.cbegin();
		for (std::sregex_iterator m(line.begin(), line.end(), id), end; m != end; ++m) {
			masked.append(last, (*m)[0].first);
			if ((*m)[2].matched)
				masked += (*m)[1].str() + name_of(static_cast<uint32_t>(std::stoul((*m)[2].str(), nullptr, 16)));
			else
				masked += (*m)[3].str() + name_of(static_cast<uint32_t>(std::stol((*m)[4].str())));
			last = (*m)[0].second;
		}
		masked.append(last, line.cend());
		out += masked + "\n";
	}
	return out;
}

struct Watched {
	int status;
	std::string lines;
};

// Runs `tool [options] monitor` around one call and stops it as a user would (SIGTERM).
Watched watch_one_call(const std::string &tool, const std::string &options)
{
	static int run = 0;
	const std::string out = "/run/monitor-" + std::to_string(++run) + ".txt";
	bus_test::Process monitor({"/bin/sh", "-c", "exec " + tool + " " + options + " monitor > " + out});
	// It is watching once its own request to monitor has been answered and it waits in
	// its event loop (the filters may hide that reply, so the output cannot tell).
	const std::string wchan = "/proc/" + std::to_string(monitor.pid()) + "/wchan";
	for (int waited = 0; waited < 5000; waited += 10) {
		if (read_file(wchan) == "do_epoll_wait")
			break;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	auto call = bus_test::run({bus_test::ubus_cli_path(), "call", "Setting", "transfer", R"({"sendmsg":"echo:hi"})"});
	EXPECT_EQ(call.out, "{\n\t\"resp\": \"hi\"\n}\n");
	kill(monitor.pid(), SIGTERM);
	int status = monitor.wait_exit(5000);
	return {status, mask_ids(read_file(out))};
}

TEST_F(BusTest, MonitorPrintsEveryMessageOfACallAsThePlatformsToolDoes)
{
	start_service("Setting");
	// What a monitor sees of a lookup and a call: its own request's reply, the caller's
	// greeting, lookup, invocation forwarded with the caller's account, reply and status
	// both ways, and its own request to stop.
	const std::string expected =
		"-> @1 #@2         status: {\"status\":0}\n"
		"-> @3 #@3          hello: {}\n"
		"<- @3 #@4         lookup: {\"objpath\":\"Setting\"}\n"
		"-> @3 #@4           data: {\"objpath\":\"Setting\",\"objid\":@5,\"objtype\":@6,\"signature\":{\"transfer\":{\"sendmsg\":3}}}\n"
		"-> @3 #@4         status: {\"status\":0}\n"
		"<- @3 #@5         invoke: {\"objid\":@5,\"method\":\"transfer\",\"data\":{\"sendmsg\":\"echo:hi\"}}\n"
		"-> @7 #@3         invoke: {\"objid\":@5,\"method\":\"transfer\",\"data\":{\"sendmsg\":\"echo:hi\"},\"user\":\"root\",\"group\":\"root\"}\n"
		"<- @7 #@3           data: {\"objid\":@5,\"data\":{\"resp\":\"hi\"}}\n"
		"-> @3 #@5           data: {\"objid\":@5,\"data\":{\"resp\":\"hi\"}}\n"
		"<- @7 #@3         status: {\"status\":0,\"objid\":@5}\n"
		"-> @3 #@5         status: {\"status\":0,\"objid\":@5}\n"
		"<- @1 #@2         invoke: {\"objid\":@2,\"method\":\"remove\",\"data\":{,}}\n";
	auto ours = watch_one_call(bus_test::ubus_cli_path(), "");
	EXPECT_EQ(ours.status, 0);
	EXPECT_EQ(ours.lines, expected);

	const std::string platform = bus_test::platform_ubus_cli_path();
	if (platform.empty())
		GTEST_SKIP() << "the platform's ubus tool is not configured (KX_PLATFORM_UBUS_CLI)";
	for (const char *options : {"", "-m invoke", "-M t", "-m status -m data -M r", "-v -S"}) {
		auto theirs = watch_one_call(platform, options);
		ours = watch_one_call(bus_test::ubus_cli_path(), options);
		EXPECT_EQ(ours.status, theirs.status) << options;
		EXPECT_EQ(ours.lines, theirs.lines) << options;
		EXPECT_NE(theirs.lines, "") << options;
	}
	// Options that are not a message type or a direction: the usage, and 1.
	for (const char *options : {"-m bogus", "-M x"}) {
		auto theirs = bus_test::run({"/bin/sh", "-c", platform + " " + options + " monitor"});
		auto ours_bad = bus_test::run({"/bin/sh", "-c", bus_test::ubus_cli_path() + " " + options + " monitor"});
		EXPECT_EQ(theirs.status, 1) << options;
		EXPECT_EQ(ours_bad.status, theirs.status) << options;
		EXPECT_EQ(ours_bad.err.rfind("Usage: ", 0), 0u) << options;
	}
}

} // namespace
