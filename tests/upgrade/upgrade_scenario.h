// Scenario helpers of the upgrade service: build update packages inside the
// twin, run upgradesvc and collect what it reported, logged and left behind.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "twin.h"

namespace upgrade_scenario {

using file_list = std::vector<std::pair<std::string, std::string>>;

struct zip_entry {
	std::string name;
	std::string content;      // for a link, its target
	bool link = false;        // a symbolic link entry
	std::size_t zeros = 0;    // zero bytes appended to the content
};

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

inline void expect_logged(const std::string &log, const std::vector<std::string> &needles, const std::string &what)
{
	for (const std::string &needle : needles)
		EXPECT_NE(log.find(needle), std::string::npos) << what << ": " << needle << "\n" << log;
}

struct cfg_fields {
	std::string type = "type=gosPower";
	std::string keys = "busNum=1\naddress=88\n";
	std::string file_md5;
	std::string name_md5;
};

inline std::string cfg_text(const cfg_fields &f)
{
	return f.type + "\n" + f.keys + "fileMD5=" + f.file_md5 + "\nfileNameMD5=" + f.name_md5 + "\n";
}

struct upgrade_run {
	int status;
	std::string log;                  // syslog lines of this run
	std::vector<std::string> reports; // requests that reached the recording "Setting"
};

class UpgradeScenario : public twin::TwinTest {
protected:
	// A stand-in "Setting" that records every request and answers ok; its pid in /tmp/setting.pid.
	void start_recording_setting()
	{
		ASSERT_EQ(twin().shell("/usr/lib/kxsim/bin/twin_miner Setting >/dev/null 2>&1 & echo $! > /tmp/setting.pid; "
				      "for i in $(seq 100); do ubus list Setting >/dev/null 2>&1 && exit 0; sleep 0.05; done; "
				      "exit 1")
				  .status,
			  0);
	}

	// Packs entries into /userdata/upgrade/update.zip, in order, compressed.
	// Names and contents go through no shell and no file system: they are
	// written as numbered files and zipped under the names given, verbatim.
	void make_zip(const std::vector<zip_entry> &entries)
	{
		twin().shell("rm -rf /tmp/pkg && mkdir /tmp/pkg");
		for (std::size_t i = 0; i < entries.size(); ++i) {
			const std::string at = "/tmp/pkg/" + std::to_string(i);
			twin().write_file(at + ".name", entries[i].name);
			twin().write_file(at + ".data", entries[i].content);
			if (entries[i].zeros > 0)
				twin().write_file(at + ".zeros", std::to_string(entries[i].zeros));
			if (entries[i].link)
				twin().write_file(at + ".link", "");
		}
		const twin::ExecResult packed = twin().shell(
			"python3 -c 'import os, zipfile\n"
			"def read(path): return open(path, \"rb\").read() if os.path.exists(path) else None\n"
			"with zipfile.ZipFile(\"/userdata/upgrade/update.zip\", \"w\", zipfile.ZIP_DEFLATED) as z:\n"
			"    for i in range(" + std::to_string(entries.size()) + "):\n"
			"        at = \"/tmp/pkg/%d\" % i\n"
			"        info = zipfile.ZipInfo(read(at + \".name\").decode())\n"
			"        info.compress_type = zipfile.ZIP_DEFLATED\n"
			"        info.create_system = 3\n"
			"        info.external_attr = (0o120777 if read(at + \".link\") is not None else 0o100644) << 16\n"
			"        z.writestr(info, read(at + \".data\") + bytes(int(read(at + \".zeros\") or 0)))' "
			"&& rm -rf /tmp/pkg");
		ASSERT_EQ(packed.status, 0) << packed.err;
	}

	void make_package(const file_list &files)
	{
		std::vector<zip_entry> entries;
		for (const auto &[name, content] : files)
			entries.push_back({.name = name, .content = content});
		make_zip(entries);
	}

	std::string md5(const std::string &text)
	{
		twin().write_file("/tmp/md5.in", text);
		return twin().shell("md5sum /tmp/md5.in").out.substr(0, 32);
	}

	// A gosPower configuration on bus 1, address 88, with both digests right for the file.
	std::string psu_cfg(const std::string &type_line, const std::string &name, const std::string &content)
	{
		return cfg_text({.type = type_line, .file_md5 = md5(content), .name_md5 = md5(name)});
	}

	// Requests the recording "Setting" received, without the time of each ("T request" lines).
	std::vector<std::string> setting_requests()
	{
		std::vector<std::string> requests = lines_of(twin().read_file(kRecord));
		for (std::string &line : requests)
			line.erase(0, line.find(' ') + 1);
		return requests;
	}

	upgrade_run run_upgrade()
	{
		const std::size_t log_before = twin().read_file(kSyslog).size();
		const std::size_t reports_before = setting_requests().size();
		upgrade_run run{};
		run.status = twin().shell("cd /tmp && /usr/bin/upgradesvc").status;
		const std::string log = twin().read_file(kSyslog);
		run.log = log.substr(std::min(log_before, log.size()));
		const std::vector<std::string> reports = setting_requests();
		if (reports.size() > reports_before)
			run.reports.assign(reports.begin() + static_cast<long>(reports_before), reports.end());
		return run;
	}

	// Times (seconds since boot) of the syslog lines holding needle, in order.
	std::vector<double> log_times(const std::string &needle)
	{
		std::vector<double> times;
		for (const std::string &line : lines_of(twin().read_file(kSyslog)))
			if (line.find(needle) != std::string::npos)
				times.push_back(std::stod(line));
		return times;
	}

	std::vector<std::string> upgrade_dir() { return lines_of(twin().shell("ls -A /userdata/upgrade").out); }

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
