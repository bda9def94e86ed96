// The settings database file in the twin: first start, partial files,
// damaged files, and a missing /userdata.
#include "setting_scenario.h"

using namespace scenario;

// Boots the twin with the service and stops it again, so that each case
// prepares /userdata first and then starts the service itself.
class DatabaseStart : public SettingScenario {
protected:
	void SetUp() override
	{
		SettingScenario::SetUp();
		ASSERT_TRUE(twin().stop_program(GetParam()));
	}

	void start_service()
	{
		ASSERT_TRUE(twin().start_program(GetParam()));
		ASSERT_TRUE(wait_served());
	}
};

TEST_P(DatabaseStart, FirstStartOnEmptyUserdataCreatesFactoryTables)
{
	twin().shell("rm -f /userdata/cfgsvc.db*");
	start_service();
	EXPECT_EQ(sql("SELECT * FROM SOURCE_POOLS ORDER BY ID;"), "1|||\n2|||\n3|||\n");
	EXPECT_EQ(sql("SELECT * FROM POOLS ORDER BY ID;"), "1|||\n2|||\n3|||\n");
	EXPECT_EQ(sql("SELECT * FROM SETTING;"), "1|0\n");
	EXPECT_EQ(sql("SELECT * FROM SOURCE_SETTING;"), "1|0\n");
	for (const char *line : {"Records created SOURCE_POOLS success", "create table POOLS done",
				 "Records created SETTING success", "create table SOURCE_SETTING done",
				 "initialize vorn done! ", "initialize hardware environment done!"})
		EXPECT_TRUE(twin().wait_log(line, 2000)) << line;
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"get\"}"), pools_reply(kEmptyPools));

	// A second start finds every table and only loads.
	restart_service();
	EXPECT_TRUE(twin().wait_log("table SOURCE_POOLS already exists.", 2000));
	EXPECT_TRUE(twin().wait_log("table POOLS already exists.", 2000));
	EXPECT_TRUE(twin().wait_log("table SETTING already exists", 2000));
	EXPECT_TRUE(twin().wait_log("Update_setting_Callback iId=1, mode=0", 2000));
}

TEST_P(DatabaseStart, PoolsWithoutFactoryCopyAreKeptAndServed)
{
	twin().shell("rm -f /userdata/cfgsvc.db*");
	sql("CREATE TABLE POOLS(ID INT, URL TEXT, USER TEXT, PASS TEXT);"
	    "INSERT INTO POOLS VALUES (1,'kept.1','w1','p1'),(2,'kept.2','w2','p2'),(3,'kept.3','w3','p3');");
	start_service();
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"get\"}"),
		  pools_reply({{"kept.1", "w1", "p1"}, {"kept.2", "w2", "p2"}, {"kept.3", "w3", "p3"}}));
	EXPECT_EQ(sql("SELECT * FROM SOURCE_POOLS ORDER BY ID;"), "1|||\n2|||\n3|||\n");
	EXPECT_EQ(sql("SELECT URL FROM POOLS ORDER BY ID;"), "kept.1\nkept.2\nkept.3\n");
	EXPECT_EQ(sql("SELECT * FROM SETTING;"), "1|0\n");
	EXPECT_TRUE(twin().wait_log("Records created SOURCE_POOLS success", 2000));
}

TEST_P(DatabaseStart, StoredModeIsLoaded)
{
	twin().shell("rm -f /userdata/cfgsvc.db*");
	start_service();
	sql("UPDATE SETTING SET DEV_MODE = 101 WHERE ID = 1;");
	restart_service();
	EXPECT_TRUE(twin().wait_log("Update_setting_Callback iId=1, mode=101", 2000));
}

TEST_P(DatabaseStart, DamagedFileIsMovedAsideAndAFreshOneServes)
{
	twin().write_file("/userdata/cfgsvc.db", std::string(8192, 'Z'));
	start_service();
	EXPECT_TRUE(twin().wait_log("moved aside to /userdata/cfgsvc.db.bad", 2000));
	EXPECT_EQ(twin().read_file("/userdata/cfgsvc.db.bad"), std::string(8192, 'Z'));
	EXPECT_EQ(sql("SELECT * FROM POOLS ORDER BY ID;"), "1|||\n2|||\n3|||\n");
	EXPECT_EQ(setting(pools_set({{"fresh", "w", "p"}})), kOk);
	restart_service();
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"get\"}"),
		  pools_reply({{"fresh", "w", "p"}, {"", "", ""}, {"", "", ""}}));
}

TEST_P(DatabaseStart, FileWithADamagedTableIsMovedAsideToo)
{
	// A real database whose first table page is overwritten: the header still
	// reads as SQLite, only the integrity check finds the damage.
	twin().shell("rm -f /userdata/cfgsvc.db*");
	start_service();
	ASSERT_EQ(setting(pools_set({{"lost.with.the.file", "w", "p"}})), kOk);
	ASSERT_TRUE(twin().stop_program(GetParam()));
	std::string image = twin().read_file("/userdata/cfgsvc.db");
	ASSERT_GE(image.size(), 3u * 4096u);
	image.replace(4096, 4096, std::string(4096, 'Z'));
	twin().write_file("/userdata/cfgsvc.db", image);

	start_service();
	EXPECT_TRUE(twin().wait_log("moved aside to /userdata/cfgsvc.db.bad", 2000));
	EXPECT_EQ(twin().read_file("/userdata/cfgsvc.db.bad"), image);
	EXPECT_EQ(sql("PRAGMA integrity_check;"), "ok\n");
	EXPECT_EQ(sql("SELECT * FROM SOURCE_POOLS ORDER BY ID;"), "1|||\n2|||\n3|||\n");
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"get\"}"), pools_reply(kEmptyPools));
}

TEST_P(DatabaseStart, MissingUserdataEndsTheProgramWithStatusZero)
{
	twin().shell("rm -rf /userdata");
	const twin::ExecResult run = twin().shell(std::string("/usr/bin/") + GetParam(), 10000);
	EXPECT_EQ(run.status, 0);
	EXPECT_NE(run.err.find("Can't open database: "), std::string::npos) << run.err;
	EXPECT_TRUE(twin().call("Setting", "{\"key\":\"lists\",\"action\":\"get\"}", 2).empty());
}

SETTING_VARIANTS(DatabaseStart);
