// upgradesvc run by hand in the twin against a recording "Setting": what it
// reports, logs, flashes and deletes for each kind of package.
#include <cctype>
#include <string>
#include <vector>

#include "upgrade_scenario.h"

using namespace upgrade_scenario;

namespace {

struct cfg_fields {
	std::string type = "type=gosPower";
	std::string keys = "busNum=1\naddress=88\n";
	std::string file_md5;
	std::string name_md5;
};

std::string cfg_text(const cfg_fields &f)
{
	return f.type + "\n" + f.keys + "fileMD5=" + f.file_md5 + "\nfileNameMD5=" + f.name_md5 + "\n";
}

std::string upper(std::string text)
{
	for (char &c : text)
		c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
	return text;
}

} // namespace

class UpgradeRun : public UpgradeScenario {
protected:
	// Leftovers the final clean-up removes: a copied configuration and firmware files in /userdata.
	void put_userdata_leftovers()
	{
		twin().exec("rm -rf /userdata/upgrade/* && echo old > /userdata/psu.cfg && echo old > /userdata/old.bin");
	}

	void expect_package_and_leftovers_gone(const std::string &what)
	{
		EXPECT_FALSE(twin().file_exists("/userdata/upgrade/update.zip")) << what;
		EXPECT_FALSE(twin().file_exists("/userdata/psu.cfg")) << what;
		EXPECT_FALSE(twin().file_exists("/userdata/old.bin")) << what;
	}
};

TEST_F(UpgradeRun, WithoutPackageItReportsFailureDeletesNothingAndTriesFourTimesWithoutSetting)
{
	twin().write_file("/userdata/upgrade/G1.bin", "unpacked before");
	twin().write_file("/userdata/upgrade/psu.cfg", "type=gosPower\n");
	twin().exec("echo old > /userdata/psu.cfg && echo old > /userdata/old.bin");

	upgrade_run run = run_upgrade();
	EXPECT_EQ(run.status, 0);
	EXPECT_NE(run.log.find("WARNING: upgradesvc_server LINE:"), std::string::npos) << run.log;
	EXPECT_NE(run.log.find(" not found /userdata/upgrade/update.zip"), std::string::npos);
	EXPECT_NE(run.log.find("ERROR  : upgradesvc_notify_cfgsvc_upgrade_result LINE:"), std::string::npos);
	for (int attempt = 1; attempt <= 4; ++attempt)
		EXPECT_NE(run.log.find(" try " + std::to_string(attempt) + " send upgrade result  "), std::string::npos);
	EXPECT_EQ(run.log.find(" try 5 "), std::string::npos);
	EXPECT_EQ(run.log.find("send upgrade result succussfully"), std::string::npos);

	start_recording_setting();
	run = run_upgrade();
	EXPECT_EQ(run.reports, std::vector<std::string>{report(-1)});
	EXPECT_NE(run.log.find("  upgrade FAILED  !!!! "), std::string::npos) << run.log;
	EXPECT_NE(run.log.find("  send upgrade result succussfully !!!! "), std::string::npos);
	EXPECT_EQ(run.log.find(" try 1 "), std::string::npos);

	EXPECT_EQ(upgrade_dir(), (std::vector<std::string>{"G1.bin", "psu.cfg"}));
	EXPECT_TRUE(twin().file_exists("/userdata/psu.cfg"));
	EXPECT_TRUE(twin().file_exists("/userdata/old.bin"));
	EXPECT_TRUE(flashes().empty());
}

TEST_F(UpgradeRun, PackagesThatFlashNothingReportTheirResultAndKeepTheUnpackedFiles)
{
	start_recording_setting();
	const std::string fw = "gosPower firmware";
	const std::string fw_md5 = md5(fw), name_md5 = md5("G1.bin");
	struct package_case {
		const char *what;
		file_list files;
		int reported;
		std::vector<std::string> log;
		std::vector<std::string> remaining;
		std::vector<std::string> absent = {};
	};
	cfg_fields good{.file_md5 = fw_md5, .name_md5 = name_md5};
	cfg_fields unknown_type = good, bus_first = good, upper_md5 = good, wrong_file = good, wrong_name = good;
	unknown_type.type = "type=acmePsu";
	bus_first.type = "busNum=1\ntype=gosPower";
	bus_first.keys = "address=88\n";
	upper_md5.file_md5 = upper(fw_md5);
	wrong_file.file_md5 = md5("another firmware");
	wrong_name.name_md5 = md5("G2.bin");
	cfg_fields fp_only{.file_md5 = md5("boco"), .name_md5 = md5("FP1.bin")};

	std::vector<package_case> cases = {
		{"no psu.cfg", {{"G1.bin", fw}}, 0,
		 {"ERROR  : upgradesvc_get_fw_cfg LINE:", "  can not open /userdata/upgrade/psu.cfg errno:2",
		  "ERROR  : upgradesvc_main_ctrl LINE:", "  unkown fw class :0", "  upgrade  succussfully !!!! "},
		 {"G1.bin"}},
		{"unknown type", {{"G1.bin", fw}, {"psu.cfg", cfg_text(unknown_type)}}, 0, {"  unkown fw class :0"},
		 {"G1.bin", "psu.cfg"}},
		{"busNum before type", {{"G1.bin", fw}, {"psu.cfg", cfg_text(bus_first)}}, -1,
		 {"  pStI2cCfg->ucAddress 88", "bIsHaveBusNum[0] bIsHaveAdress[1] " + fw_md5},
		 {"G1.bin", "psu.cfg"},
		 {"pStI2cCfg->iBusNum"}},
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
	};
	// A name beyond its 63-character field, and one whose quoted form overflows the flash command:
	// neither runs cut.
	const std::string long_name = "G" + std::string(60, 'a') + ".bin";
	const std::string quotes_name = "G" + std::string(50, '\'') + ".bin";
	const cfg_fields long_cfg{.file_md5 = fw_md5, .name_md5 = md5(long_name)};
	const cfg_fields quotes_cfg{.file_md5 = fw_md5, .name_md5 = md5(quotes_name)};
	cases.push_back({"name too long", {{long_name, fw}, {"psu.cfg", cfg_text(long_cfg)}}, -1,
			 {"WARNING: upgradesvc_get_fw_path LINE:", "name too long, skipped " + long_name},
			 {long_name, "psu.cfg"}});
	cases.push_back({"flash command too long", {{quotes_name, fw}, {"psu.cfg", cfg_text(quotes_cfg)}}, -1,
			 {"md5 check success", "ERROR  : upgradesvc_psu LINE:", "command too long for kx_upgrade_psu %d %d %d %s %s",
			  "command too long for rm -rf %s %s ", "  update psu failed, status:-1 "},
			 {quotes_name, "psu.cfg"}});
	for (const package_case &c : cases) {
		put_userdata_leftovers();
		make_package(c.files);
		const upgrade_run run = run_upgrade();
		EXPECT_EQ(run.reports, std::vector<std::string>{report(c.reported)}) << c.what;
		for (const std::string &needle : c.log)
			EXPECT_NE(run.log.find(needle), std::string::npos) << c.what << ": " << needle << "\n" << run.log;
		for (const std::string &needle : c.absent)
			EXPECT_EQ(run.log.find(needle), std::string::npos) << c.what << ": " << needle;
		EXPECT_NE(run.log.find("  upgrade server exit "), std::string::npos) << c.what;
		EXPECT_EQ(upgrade_dir(), c.remaining) << c.what;
		expect_package_and_leftovers_gone(c.what);
	}
	EXPECT_TRUE(flashes().empty());
}

TEST_F(UpgradeRun, FlashesTheFileOfItsClassWithTheConfiguredArgumentsThenDeletesIt)
{
	start_recording_setting();
	struct flash_case {
		const char *type;
		const char *keys;
		const char *flashed;
		std::string command;
		const char *kept;
		const char *class_bit;
	};
	const std::vector<flash_case> cases = {
		{"type=bocoPsu", "busNum=1\naddress=344\nforceUpgrade=true\n", "FP1.bin",
		 "kx_upgrade_psu 1 88 1 /userdata/upgrade/FP1.bin bocoPsu", "G1.bin", "= 2 "},
		{"type=gosPower-v2", "busNum=2\naddress=89\nforceUpgrade=TRUE\n", "G1.bin",
		 "kx_upgrade_psu 2 89 0 /userdata/upgrade/G1.bin gosPower-v2", "FP1.bin", "= 3 "},
	};
	for (const flash_case &c : cases) {
		put_userdata_leftovers();
		const std::string flashed = c.flashed;
		cfg_fields cfg{.type = c.type, .keys = c.keys, .file_md5 = md5(flashed + " image"), .name_md5 = md5(flashed)};
		make_package({{"FP1.bin", "FP1.bin image"}, {"G1.bin", "G1.bin image"}, {"psu.cfg", cfg_text(cfg)}});
		const upgrade_run run = run_upgrade();
		EXPECT_EQ(run.reports, std::vector<std::string>{report(0)}) << c.type;
		ASSERT_FALSE(flashes().empty());
		EXPECT_EQ(flashes().back(), c.command);
		EXPECT_NE(run.log.find("INFO   : upgradesvc_psu LINE:"), std::string::npos);
		EXPECT_NE(run.log.find(" excute update psu cmd :" + c.command + "  "), std::string::npos) << run.log;
		EXPECT_NE(run.log.find("  excute rm psu bin and config :rm -rf /userdata/upgrade/" + flashed +
				       " /userdata/upgrade/psu.cfg  "),
			  std::string::npos);
		EXPECT_NE(run.log.find("upgrade  uiUpgradeResult " + std::string(c.class_bit)), std::string::npos);
		EXPECT_EQ(upgrade_dir(), std::vector<std::string>{c.kept}) << c.type;
		expect_package_and_leftovers_gone(c.type);
	}
	EXPECT_EQ(flashes().size(), 2u);
}

TEST_F(UpgradeRun, AFailedFlashIsReportedAsMinusOneWithTheToolStatusLogged)
{
	start_recording_setting();
	twin().write_file("/run/kxsim/state/kx_upgrade_psu.status", "3\n");
	make_package({{"G1.bin", "image"}, {"psu.cfg", psu_cfg("type=gosPower", "G1.bin", "image")}});
	const upgrade_run run = run_upgrade();
	EXPECT_EQ(run.reports, std::vector<std::string>{report(-1)});
	EXPECT_EQ(flashes(), std::vector<std::string>{"kx_upgrade_psu 1 88 0 /userdata/upgrade/G1.bin gosPower"});
	EXPECT_NE(run.log.find("ERROR  : upgradesvc_psu LINE:"), std::string::npos);
	EXPECT_NE(run.log.find("  update psu failed, status:768 "), std::string::npos) << run.log;
	EXPECT_NE(run.log.find("upgrade  uiUpgradeResult = 0 "), std::string::npos);
	EXPECT_NE(run.log.find("  upgrade FAILED  !!!! "), std::string::npos);
	EXPECT_TRUE(upgrade_dir().empty()) << "firmware and configuration go after any flash attempt";
}

TEST_F(UpgradeRun, NamesAndTypesFromThePackageReachTheToolAsTextAndRunNothing)
{
	start_recording_setting();
	struct name_case {
		std::string name;
		std::string type;
	};
	const std::vector<name_case> cases = {
		{"G1.bin;touch x", "gosPower;touch y"},
		{"G$(reboot).bin", "gosPower`touch y`"},
		{"G'1 x'.bin", "gosPower"},
	};
	for (const name_case &c : cases) {
		make_package({{c.name, "image"}, {"psu.cfg", psu_cfg("type=" + c.type, c.name, "image")}});
		const upgrade_run run = run_upgrade();
		EXPECT_EQ(run.reports, std::vector<std::string>{report(0)}) << c.name << "\n" << run.log;
		ASSERT_FALSE(flashes().empty());
		EXPECT_EQ(flashes().back(), "kx_upgrade_psu 1 88 0 /userdata/upgrade/" + c.name + " " + c.type);
		EXPECT_TRUE(upgrade_dir().empty()) << c.name;
	}
	EXPECT_EQ(flashes().size(), cases.size());
	for (const std::string &command : twin().command_record())
		EXPECT_EQ(command.rfind("kx_upgrade_psu", 0), 0u) << command;
	EXPECT_FALSE(twin().file_exists("/tmp/x"));
	EXPECT_FALSE(twin().file_exists("/tmp/y"));
}

TEST_F(UpgradeRun, WithoutBusDaemonItLogsAndEndsWithMinusOneLeavingThePackage)
{
	make_package({{"G1.bin", "image"}, {"psu.cfg", psu_cfg("type=gosPower", "G1.bin", "image")}});
	// A private mount namespace inside the twin hides the daemon's socket.
	const twin::ExecResult run =
		twin().exec("unshare -m sh -c 'mount -t tmpfs none /var/run/ubus && exec /usr/bin/upgradesvc'");
	EXPECT_EQ(run.status, 255) << run.err;
	EXPECT_TRUE(twin().wait_log("upgradesvc: ERROR  : main LINE:", 2000));
	EXPECT_TRUE(twin().wait_log(" Failed to initialize vorn. ", 2000));
	EXPECT_EQ(upgrade_dir(), std::vector<std::string>{"update.zip"});
	EXPECT_TRUE(flashes().empty());
}

TEST_F(UpgradeRun, ABusConnectionLostDuringTheReportIsLoggedAndTheTriesEnd)
{
	// A "Setting" that takes the request and never answers, then the daemon goes away.
	ASSERT_EQ(twin().exec("/usr/lib/kxsim/bin/twin_miner Setting >/dev/null 2>&1 & echo $! > /tmp/setting.pid; "
			      "for i in $(seq 100); do ubus list Setting >/dev/null 2>&1 && break; sleep 0.05; done; "
			      "kill -STOP $(cat /tmp/setting.pid)")
			  .status,
		  0);
	twin().exec("/usr/bin/upgradesvc >/dev/null 2>&1 &");
	ASSERT_TRUE(twin().wait_log("  upgrade FAILED  !!!! ", 10000));
	twin().exec("sleep 0.3; kill $(pidof ubusd)");
	EXPECT_TRUE(twin().wait_log("upgradesvc: ERROR  : upgradesvc_connection_lost LINE:", 5000));
	EXPECT_TRUE(twin().wait_log(" warnning: vorn connection lost!", 1000));
	EXPECT_TRUE(twin().wait_log(" try 4 send upgrade result  ", 5000));
	EXPECT_EQ(twin().logs().find("send upgrade result succussfully"), std::string::npos);
}
