// upgradesvc run by hand in the twin against a recording "Setting": what it
// reports, logs, flashes and deletes for each kind of package.
#include <cctype>
#include <string>
#include <vector>

#include "upgrade_scenario.h"

using namespace upgrade_scenario;

namespace {

std::string upper(std::string text)
{
	for (char &c : text)
		c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
	return text;
}

} // namespace

class UpgradeRun : public UpgradeScenario {
protected:
	// The final clean-up removes a copied configuration and firmware files in /userdata.
	void put_userdata_leftovers()
	{
		twin().shell("rm -rf /userdata/upgrade/* && echo old > /userdata/psu.cfg && echo old > /userdata/old.bin");
	}

	void expect_package_and_leftovers_gone(const std::string &what)
	{
		for (const char *path : {"/userdata/upgrade/update.zip", "/userdata/psu.cfg", "/userdata/old.bin"})
			EXPECT_FALSE(twin().file_exists(path)) << what << ": " << path;
	}
};

TEST_F(UpgradeRun, WithoutPackageItReportsFailureDeletesNothingAndTriesFourTimesWithoutSetting)
{
	twin().write_file("/userdata/upgrade/G1.bin", "unpacked before");
	twin().write_file("/userdata/upgrade/psu.cfg", "type=gosPower\n");
	twin().shell("echo old > /userdata/psu.cfg && echo old > /userdata/old.bin");

	upgrade_run run = run_upgrade();
	EXPECT_EQ(run.status, 0);
	expect_logged(run.log,
		      {"WARNING: upgradesvc_server LINE:", " not found /userdata/upgrade/update.zip",
		       "ERROR  : upgradesvc_notify_cfgsvc_upgrade_result LINE:", " try 1 send upgrade result  ",
		       " try 2 send", " try 3 send", " try 4 send"},
		      "no Setting");
	EXPECT_EQ(run.log.find(" try 5 "), std::string::npos);
	EXPECT_EQ(run.log.find("send upgrade result succussfully"), std::string::npos);
	// About a second between tries, so a restarting "Setting" can take a later one.
	const std::vector<double> tries = log_times(" send upgrade result  ");
	ASSERT_EQ(tries.size(), 4u);
	for (std::size_t i = 1; i < tries.size(); ++i)
		EXPECT_GE(tries[i] - tries[i - 1], 0.9) << "try " << i + 1;

	start_recording_setting();
	run = run_upgrade();
	EXPECT_EQ(run.reports, std::vector<std::string>{report(-1)});
	expect_logged(run.log, {"  upgrade FAILED  !!!! ", "  send upgrade result succussfully !!!! "}, "Setting");
	EXPECT_EQ(run.log.find(" try 1 "), std::string::npos);

	EXPECT_EQ(upgrade_dir(), (std::vector<std::string>{"G1.bin", "psu.cfg"}));
	EXPECT_TRUE(twin().file_exists("/userdata/psu.cfg"));
	EXPECT_TRUE(twin().file_exists("/userdata/old.bin"));
	EXPECT_TRUE(flashes().empty());
}

TEST_F(UpgradeRun, PackagesThatFlashNothingReportFailureAndKeepTheUnpackedFiles)
{
	start_recording_setting();
	const std::string fw = "gosPower firmware";
	const std::string fw_md5 = md5(fw), name_md5 = md5("G1.bin");
	const cfg_fields good{.file_md5 = fw_md5, .name_md5 = name_md5};
	cfg_fields unknown_type = good, bus_first = good, upper_md5 = good, wrong_file = good, wrong_name = good;
	unknown_type.type = "type=acmePsu";
	bus_first.type = "busNum=1\ntype=gosPower";
	bus_first.keys = "address=88\n";
	upper_md5.file_md5 = upper(fw_md5);
	wrong_file.file_md5 = md5("another firmware");
	wrong_name.name_md5 = md5("G2.bin");
	const cfg_fields fp_only{.file_md5 = md5("boco"), .name_md5 = md5("FP1.bin")};
	// A name beyond its 63-character field, and one whose quoted form overflows the flash command.
	const std::string long_name = "G" + std::string(60, 'a') + ".bin";
	const std::string quotes_name = "G" + std::string(50, '\'') + ".bin";
	const cfg_fields long_cfg{.file_md5 = fw_md5, .name_md5 = md5(long_name)};
	const cfg_fields quotes_cfg{.file_md5 = fw_md5, .name_md5 = md5(quotes_name)};

	struct package_case {
		const char *what;
		file_list files;
		int reported;
		std::vector<std::string> log;
		std::vector<std::string> remaining;
		std::string absent = "";
		std::string damage = ""; // shell line that spoils the package after packing
	};
	const std::vector<package_case> cases = {
		{"no psu.cfg", {{"G1.bin", fw}}, -1,
		 {"ERROR  : upgradesvc_get_fw_cfg LINE:", "  can not open /userdata/upgrade/psu.cfg errno:2",
		  "ERROR  : upgradesvc_main_ctrl LINE:", "  unkown fw class :0", "  upgrade FAILED  !!!! "},
		 {"G1.bin"}},
		{"unknown type", {{"G1.bin", fw}, {"psu.cfg", cfg_text(unknown_type)}}, -1, {"  unkown fw class :0"},
		 {"G1.bin", "psu.cfg"}},
		{"not a zip", {{"G1.bin", fw}, {"psu.cfg", cfg_text(good)}}, -1,
		 {"ERROR  : upgradesvc_server LINE:", " package unreadable, listing status:"}, {},
		 "", "echo 'not a zip' > /userdata/upgrade/update.zip"},
		{"truncated zip", {{"G1.bin", fw}, {"psu.cfg", cfg_text(good)}}, -1,
		 {" package unreadable, listing status:"}, {},
		 "", "truncate -s 100 /userdata/upgrade/update.zip"},
		// The firmware's data (after its 30-byte header and 6-byte name) no longer matches its CRC.
		{"damaged zip", {{"G1.bin", fw}, {"psu.cfg", cfg_text(good)}}, -1,
		 {" package of 2 entries unpacks to ", "ERROR  : upgradesvc_server LINE:", " unzip failed, status:"},
		 {"G1.bin", "psu.cfg"},
		 "can not open", "printf XXXX | dd of=/userdata/upgrade/update.zip bs=1 seek=38 conv=notrunc 2>/dev/null"},
		{"busNum before type", {{"G1.bin", fw}, {"psu.cfg", cfg_text(bus_first)}}, -1,
		 {"  pStI2cCfg->ucAddress 88", "bIsHaveBusNum[0] bIsHaveAdress[1] " + fw_md5},
		 {"G1.bin", "psu.cfg"},
		 "pStI2cCfg->iBusNum"},
		{"upper-case file MD5", {{"G1.bin", fw}, {"psu.cfg", cfg_text(upper_md5)}}, -1,
		 {"md5 check failed iRet:0   acResult:" + fw_md5 + "  /userdata/upgrade/G1.bin    acFileMD5:" +
			  upper(fw_md5),
		  "ERROR  : upgradesvc_md5Check LINE:", "  md5 check failed "},
		 {"G1.bin", "psu.cfg"}},
		{"wrong file MD5", {{"G1.bin", fw}, {"psu.cfg", cfg_text(wrong_file)}}, -1,
		 {"acFileMD5:" + md5("another firmware"), "  md5 check failed "}, {"G1.bin", "psu.cfg"}},
		{"wrong name MD5", {{"G1.bin", fw}, {"psu.cfg", cfg_text(wrong_name)}}, -1,
		 {"md5 check success iRet:0", "acResult:" + name_md5 + "  -     acFileMD5:" + md5("G2.bin"),
		  "  md5 check failed "},
		 {"G1.bin", "psu.cfg"}},
		{"class 3 takes neither FP files nor names without .bin",
		 {{"FP1.bin", "boco"}, {"G1.img", fw}, {"psu.cfg", cfg_text(fp_only)}}, -1,
		 {"pStrDirent->d_name = FP1.bin ", "pStrDirent->d_name = G1.img ", "bIsHaveBusNum[1] bIsHaveAdress[1] "},
		 {"FP1.bin", "G1.img", "psu.cfg"}},
		{"name too long", {{long_name, fw}, {"psu.cfg", cfg_text(long_cfg)}}, -1,
		 {"WARNING: upgradesvc_get_fw_path LINE:", "name too long, skipped " + long_name},
		 {long_name, "psu.cfg"}},
		{"flash command too long", {{quotes_name, fw}, {"psu.cfg", cfg_text(quotes_cfg)}}, -1,
		 {"md5 check success", "ERROR  : upgradesvc_psu LINE:", "command too long for kx_upgrade_psu %d %d %d %s %s",
		  "command too long for rm -rf %s %s ", "  update psu failed, status:-1 "},
		 {quotes_name, "psu.cfg"}},
	};
	for (const package_case &c : cases) {
		put_userdata_leftovers();
		make_package(c.files);
		if (!c.damage.empty()) {
			ASSERT_EQ(twin().shell(c.damage).status, 0) << c.what;
		}
		const upgrade_run run = run_upgrade();
		EXPECT_EQ(run.reports, std::vector<std::string>{report(c.reported)}) << c.what;
		expect_logged(run.log, c.log, c.what);
		expect_logged(run.log, {"  upgrade server exit "}, c.what);
		if (!c.absent.empty()) {
			EXPECT_EQ(run.log.find(c.absent), std::string::npos) << c.what;
		}
		EXPECT_EQ(upgrade_dir(), c.remaining) << c.what;
		expect_package_and_leftovers_gone(c.what);
	}
	EXPECT_TRUE(flashes().empty());
}

TEST_F(UpgradeRun, FlashesTheFileOfItsClassThenDeletesItAndReportsAFailedFlashAsMinusOne)
{
	start_recording_setting();
	struct flash_case {
		const char *tool_status;
		const char *type;
		const char *keys;
		const char *flashed;
		std::string command;
		int reported;
		std::vector<std::string> log;
	};
	const std::vector<flash_case> cases = {
		{"0", "type=bocoPsu", "busNum=1\naddress=344\nforceUpgrade=true\n", "FP1.bin",
		 "kx_upgrade_psu 1 88 1 /userdata/upgrade/FP1.bin bocoPsu", 0, {"upgrade  uiUpgradeResult = 2 "}},
		{"0", "type=gosPower-v2", "busNum=2\naddress=89\nforceUpgrade=TRUE\n", "G1.bin",
		 "kx_upgrade_psu 2 89 0 /userdata/upgrade/G1.bin gosPower-v2", 0, {"upgrade  uiUpgradeResult = 3 "}},
		{"3", "type=gosPower", "busNum=1\naddress=88\n", "G1.bin",
		 "kx_upgrade_psu 1 88 0 /userdata/upgrade/G1.bin gosPower", -1,
		 {"ERROR  : upgradesvc_psu LINE:", "  update psu failed, status:768 ", "upgrade  uiUpgradeResult = 0 ",
		  "  upgrade FAILED  !!!! "}},
	};
	for (const flash_case &c : cases) {
		put_userdata_leftovers();
		twin().write_file("/run/kxsim/state/kx_upgrade_psu.status", c.tool_status);
		const std::string flashed = c.flashed;
		const cfg_fields cfg{.type = c.type, .keys = c.keys, .file_md5 = md5(flashed + " image"),
				     .name_md5 = md5(flashed)};
		make_package({{"FP1.bin", "FP1.bin image"}, {"G1.bin", "G1.bin image"}, {"psu.cfg", cfg_text(cfg)}});
		const upgrade_run run = run_upgrade();
		EXPECT_EQ(run.reports, std::vector<std::string>{report(c.reported)}) << c.type;
		ASSERT_FALSE(flashes().empty());
		EXPECT_EQ(flashes().back(), c.command);
		expect_logged(run.log, c.log, c.type);
		expect_logged(run.log,
			      {"INFO   : upgradesvc_psu LINE:", " excute update psu cmd :" + c.command + "  ",
			       "  excute rm psu bin and config :rm -rf /userdata/upgrade/" + flashed +
				       " /userdata/upgrade/psu.cfg  "},
			      c.type);
		// The flashed file and the configuration go whatever the tool's outcome; the other file stays.
		EXPECT_EQ(upgrade_dir(), std::vector<std::string>{flashed == "G1.bin" ? "FP1.bin" : "G1.bin"}) << c.type;
		expect_package_and_leftovers_gone(c.type);
	}
	EXPECT_EQ(flashes().size(), cases.size());
}

TEST_F(UpgradeRun, NamesAndTypesFromThePackageReachTheToolAsTextAndRunNothing)
{
	start_recording_setting();
	const std::vector<std::pair<std::string, std::string>> cases = {
		{"G1.bin;touch x", "gosPower;touch y"},
		{"G$(reboot).bin", "gosPower`touch y`"},
		{"G'1 x'.bin", "gosPower"},
	};
	for (const auto &[name, type] : cases) {
		make_package({{name, "image"}, {"psu.cfg", psu_cfg("type=" + type, name, "image")}});
		const upgrade_run run = run_upgrade();
		EXPECT_EQ(run.reports, std::vector<std::string>{report(0)}) << name << "\n" << run.log;
		ASSERT_FALSE(flashes().empty());
		EXPECT_EQ(flashes().back(), "kx_upgrade_psu 1 88 0 /userdata/upgrade/" + name + " " + type);
		EXPECT_TRUE(upgrade_dir().empty()) << name;
	}
	EXPECT_EQ(flashes().size(), cases.size());
	EXPECT_EQ(twin().command_record().size(), cases.size()) << "no reboot or other command";
	EXPECT_FALSE(twin().file_exists("/tmp/x"));
	EXPECT_FALSE(twin().file_exists("/tmp/y"));
}

TEST_F(UpgradeRun, ABusConnectionLostDuringTheReportIsLoggedAndTheTriesEnd)
{
	// "Setting" takes the request and never answers; then the daemon goes away.
	start_recording_setting();
	twin().shell("kill -STOP $(cat /tmp/setting.pid); /usr/bin/upgradesvc >/dev/null 2>&1 &");
	ASSERT_TRUE(twin().wait_log("  upgrade FAILED  !!!! ", 10000));
	twin().shell("sleep 0.3; kill $(pidof ubusd)");
	EXPECT_TRUE(twin().wait_log("upgradesvc: ERROR  : upgradesvc_connection_lost LINE:", 5000));
	EXPECT_TRUE(twin().wait_log(" warnning: vorn connection lost!", 1000));
	EXPECT_TRUE(twin().wait_log(" try 4 send upgrade result  ", 10000));
	EXPECT_EQ(twin().logs().find("send upgrade result succussfully"), std::string::npos);
}

// unzip drops control characters from names, but a file already in the upgrade directory may end in
// a newline: that newline is part of the name, not the end of a command (psu.cfg is executable
// here and a stripped-name link stands ready, so a newline taken as a command end would run it).
TEST_F(UpgradeRun, ANameEndingInANewlineIsQuotedWhole)
{
	start_recording_setting();
	const std::string cfg = "type=gosPower\nbusNum=1\naddress=88\nfileMD5=" + md5("image") +
				"\ntouch /tmp/x\nfileNameMD5=G1.bin";
	make_package({{"readme", "not firmware"}});
	twin().write_file("/userdata/upgrade/psu.cfg", cfg);
	ASSERT_EQ(twin().shell("cd /userdata/upgrade && chmod 755 psu.cfg && printf image > img && ln -s img G1.bin && "
			      "python3 -c 'open(\"G1.bin\\n\", \"w\").write(\"x\")'")
			  .status,
		  0);
	const upgrade_run run = run_upgrade();
	EXPECT_EQ(run.reports, std::vector<std::string>{report(-1)}) << run.log;
	EXPECT_TRUE(flashes().empty());
	EXPECT_FALSE(twin().file_exists("/tmp/x"));
}

// Links left in the upgrade folder (here put there by hand, pointing into the twin's /etc) go before
// unpacking, so a later package writes into plain folders; a package that holds a link or a name
// outside the folder is refused before anything is unpacked, however good its firmware.
TEST_F(UpgradeRun, NothingFromAPackageLandsOutsideTheUpgradeFolder)
{
	start_recording_setting();
	const std::string hostname = twin().read_file("/etc/hostname");
	ASSERT_EQ(twin().shell("cd /userdata/upgrade && ln -s /etc lnk && mkdir sub && ln -s /etc/hostname sub/host && "
			      "ln -s /nowhere dangling && echo kept > old.txt")
			  .status,
		  0);
	const std::vector<zip_entry> firmware = {{.name = "G1.bin", .content = "image"},
						 {.name = "psu.cfg", .content = psu_cfg("type=gosPower", "G1.bin", "image")}};
	std::vector<zip_entry> through_links = firmware;
	through_links.push_back({.name = "lnk/x", .content = "written through lnk"});
	through_links.push_back({.name = "sub/host", .content = "written through sub/host"});
	make_zip(through_links);
	upgrade_run run = run_upgrade();
	EXPECT_EQ(run.reports, std::vector<std::string>{report(0)}) << run.log;
	expect_logged(run.log,
		      {"INFO   : upgradesvc_server LINE:", " removed link /userdata/upgrade/lnk",
		       " removed link /userdata/upgrade/sub/host", " removed link /userdata/upgrade/dangling"},
		      "leftover links");
	EXPECT_FALSE(twin().file_exists("/etc/x"));
	EXPECT_EQ(twin().read_file("/etc/hostname"), hostname);
	EXPECT_EQ(twin().read_file("/userdata/upgrade/lnk/x"), "written through lnk");
	EXPECT_EQ(twin().read_file("/userdata/upgrade/sub/host"), "written through sub/host");
	EXPECT_EQ(upgrade_dir(), (std::vector<std::string>{"lnk", "old.txt", "sub"}));
	EXPECT_EQ(twin().shell("find /userdata/upgrade -type l").out, "");

	struct refused_case {
		std::vector<zip_entry> extra;
		std::string reason;
		const char *outside;  // where the entry would have landed
	};
	const std::vector<refused_case> cases = {
		{{{.name = "etc", .content = "/etc", .link = true}, {.name = "etc/y", .content = "y"}},
		 "symbolic link: etc", "/etc/y"},
		{{{.name = "G2.bin", .content = "/etc/hostname", .link = true}}, "symbolic link: G2.bin", nullptr},
		{{{.name = "../escaped", .content = "x"}}, "outside the upgrade folder: ../escaped", "/userdata/escaped"},
		{{{.name = "sub/../../escaped", .content = "x"}}, "outside the upgrade folder: sub/../../escaped",
		 "/userdata/escaped"},
		{{{.name = "sub\\..\\..\\escaped", .content = "x"}}, "outside the upgrade folder: sub\\..\\..\\escaped",
		 "/userdata/escaped"},
		{{{.name = "/tmp/absolute", .content = "x"}}, "outside the upgrade folder: /tmp/absolute", "/tmp/absolute"},
	};
	const std::size_t flashed = flashes().size();
	for (const refused_case &c : cases) {
		std::vector<zip_entry> entries = firmware;
		entries.insert(entries.end(), c.extra.begin(), c.extra.end());
		make_zip(entries);
		run = run_upgrade();
		EXPECT_EQ(run.reports, std::vector<std::string>{report(-1)}) << c.reason;
		expect_logged(run.log, {"ERROR  : upgradesvc_server LINE:", " package refused, " + c.reason}, c.reason);
		EXPECT_EQ(upgrade_dir(), (std::vector<std::string>{"lnk", "old.txt", "sub"})) << c.reason;
		if (c.outside != nullptr) {
			EXPECT_FALSE(twin().file_exists(c.outside)) << c.reason;
		}
	}
	EXPECT_EQ(flashes().size(), flashed);
}

// A package is measured against the free space of /userdata (here a small one) before it is unpacked.
TEST_F(UpgradeRun, APackageThatWouldFillUserdataIsRefusedBeforeUnpacking)
{
	ASSERT_EQ(twin().shell("mount -t tmpfs -o size=8m tmpfs /userdata && mkdir /userdata/upgrade").status, 0);
	start_recording_setting();
	struct size_case {
		std::size_t zeros;
		int reported;
		std::vector<std::string> log;
		std::vector<std::string> remaining;
	};
	const std::vector<size_case> cases = {
		{5u << 20, -1,
		 {"ERROR  : upgradesvc_server LINE:", " package refused, it unpacks to 5251072 bytes and ",
		  " are free on /userdata"},
		 {}},
		{2u << 20, 0, {" package of 3 entries unpacks to 2105344 bytes, "}, {"big.img"}},
	};
	for (const size_case &c : cases) {
		make_zip({{.name = "G1.bin", .content = "image"},
			  {.name = "psu.cfg", .content = psu_cfg("type=gosPower", "G1.bin", "image")},
			  {.name = "big.img", .content = "", .zeros = c.zeros}});
		const upgrade_run run = run_upgrade();
		EXPECT_EQ(run.reports, std::vector<std::string>{report(c.reported)}) << c.zeros;
		expect_logged(run.log, c.log, std::to_string(c.zeros));
		EXPECT_EQ(upgrade_dir(), c.remaining) << c.zeros;
	}
	EXPECT_EQ(flashes().size(), 1u);
}

// "Setting" is away when the first try goes out and back before the last.
TEST_F(UpgradeRun, TheResultReachesASettingThatComesBackWhileItIsReported)
{
	twin().shell("/usr/bin/upgradesvc >/dev/null 2>&1 &");
	ASSERT_TRUE(twin().wait_log(" try 1 send upgrade result  ", 10000));
	start_recording_setting();
	ASSERT_TRUE(twin().wait_log("  send upgrade result succussfully !!!! ", 5000));
	EXPECT_EQ(setting_requests(), std::vector<std::string>{report(-1)});
}
