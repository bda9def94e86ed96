// Scenario helpers of the upgrade service: build update packages inside the
// twin, run upgradesvc and collect what it reported, logged and left behind.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "twin.h"

namespace upgrade_scenario {

using file_list = std::vector<std::pair<std::string, std::string>>;

inline std::vector<std::string> lines_of(const std::string &text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);)
		if (!line.empty())
			lines.push_back(line);
	return lines;
}

inline std::string report(int value)
{
	return "{\"key\":\"dev.power\",\"action\":\"ack\",\"body\":{\"upgrade\":" + std::to_string(value) + "}}";
}

struct upgrade_run {
	int status;
	std::string log;                  // syslog lines of this run
	std::vector<std::string> reports; // requests that reached the recording "Setting"
};

class UpgradeScenario : public twin::TwinTest {
protected:
	// A stand-in "Setting" that records every request and answers ok.
	void start_recording_setting()
	{
		const twin::ExecResult started = twin().exec(
			"/usr/lib/kxsim/bin/twin_miner Setting >/dev/null 2>&1 & "
			"for i in $(seq 100); do ubus list Setting >/dev/null 2>&1 && exit 0; sleep 0.05; done; exit 1");
		ASSERT_EQ(started.status, 0) << "the recording Setting never registered";
	}

	// Packs files (name, content) into /userdata/upgrade/update.zip. Names go
	// through no shell: they are written as files and zipped by listing.
	void make_package(const file_list &files)
	{
		twin().exec("rm -rf /tmp/pkg && mkdir /tmp/pkg");
		for (const auto &[name, content] : files)
			twin().write_file("/tmp/pkg/" + name, content);
		const twin::ExecResult packed = twin().exec(
			"cd /tmp/pkg && python3 -c 'import os, zipfile\n"
			"with zipfile.ZipFile(\"/userdata/upgrade/update.zip\", \"w\") as z:\n"
			"    [z.write(n) for n in sorted(os.listdir(\".\"))]' && rm -rf /tmp/pkg");
		ASSERT_EQ(packed.status, 0) << packed.err;
	}

	// MD5 digest of a text, by md5sum inside the twin.
	std::string md5(const std::string &text)
	{
		twin().write_file("/tmp/md5.in", text);
		return twin().exec("md5sum /tmp/md5.in").out.substr(0, 32);
	}

	// A psu.cfg for a file: type line, bus 1, address 88, both digests right.
	std::string psu_cfg(const std::string &type_line, const std::string &file_name, const std::string &content,
			    const std::string &extra = "")
	{
		return type_line + "\nbusNum=1\naddress=88\n" + extra + "fileMD5=" + md5(content) +
		       "\nfileNameMD5=" + md5(file_name) + "\n";
	}

	upgrade_run run_upgrade()
	{
		const std::string before = twin().read_file(kSyslog);
		const std::size_t reports_before = lines_of(twin().read_file(kRecord)).size();
		upgrade_run run{};
		run.status = twin().exec("cd /tmp && /usr/bin/upgradesvc").status;
		std::string log = twin().read_file(kSyslog);
		run.log = log.substr(std::min(before.size(), log.size()));
		const std::vector<std::string> reports = lines_of(twin().read_file(kRecord));
		run.reports.assign(reports.begin() + static_cast<long>(std::min(reports_before, reports.size())),
				   reports.end());
		return run;
	}

	// Names in /userdata/upgrade, sorted.
	std::vector<std::string> upgrade_dir() { return lines_of(twin().exec("ls -A /userdata/upgrade").out); }

	// kx_upgrade_psu calls seen by the twin's fake tool, in order.
	std::vector<std::string> flashes()
	{
		std::vector<std::string> out;
		for (const std::string &c : twin().command_record())
			if (c.rfind("kx_upgrade_psu", 0) == 0)
				out.push_back(c);
		return out;
	}

	static constexpr const char *kSyslog = "/run/kxsim/logs/syslog";
	static constexpr const char *kRecord = "/run/kxsim/records/Setting";
};

} // namespace upgrade_scenario
