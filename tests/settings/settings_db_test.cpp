// The settings database on a temporary file: start-up creation and loading,
// pool writes that are whole or not at all, verbatim values, damaged files.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device_record.h"
#include "pools_table.h"
#include "settings_db.h"

namespace fs = std::filesystem;

namespace {

class SettingsDbTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/cfgsvc_db_test.XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		dir_ = pattern;
		path_ = dir_ / "cfgsvc.db";
		ASSERT_TRUE(device_record_init());
		for (int i = 0; i < kPoolCount; ++i)
			pools_table()[i] = pool_entry{};
	}
	void TearDown() override
	{
		settings_db_close();
		fs::remove_all(dir_);
	}

	void start_service()
	{
		char error[256] = "";
		ASSERT_TRUE(settings_db_open(path_.c_str(), error, sizeof(error))) << error;
		settings_db_prepare();
	}
	void restart_service()
	{
		settings_db_close();
		for (int i = 0; i < kPoolCount; ++i)
			pools_table()[i] = pool_entry{};
		ASSERT_TRUE(device_record_init());
		start_service();
	}

	// Runs SQL on its own connection; each row as its columns joined by '|'.
	std::vector<std::string> query(const std::string &sql)
	{
		sqlite3 *db = nullptr;
		EXPECT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
		std::vector<std::string> rows;
		char *message = nullptr;
		const int rc = sqlite3_exec(
			db, sql.c_str(),
			[](void *out, int columns, char **values, char **) {
				std::string row;
				for (int i = 0; i < columns; ++i)
					row += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
				static_cast<std::vector<std::string> *>(out)->push_back(row);
				return 0;
			},
			&rows, &message);
		EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (message ? message : "");
		sqlite3_free(message);
		sqlite3_close(db);
		return rows;
	}

	static pool_entry make_pool(const char *url, const char *user, const char *pass)
	{
		pool_entry pool{};
		pool_entry_assign(pool, url, user, pass);
		return pool;
	}

	fs::path dir_;
	fs::path path_;
};

const std::vector<std::string> kFactoryPools = {"1|||", "2|||", "3|||"};

} // namespace

TEST_F(SettingsDbTest, FirstStartCreatesAllFourTablesWithFactoryRows)
{
	start_service();
	EXPECT_EQ(query("SELECT * FROM SOURCE_POOLS ORDER BY ID;"), kFactoryPools);
	EXPECT_EQ(query("SELECT * FROM POOLS ORDER BY ID;"), kFactoryPools);
	EXPECT_EQ(query("SELECT * FROM SETTING;"), std::vector<std::string>{"1|0"});
	EXPECT_EQ(query("SELECT * FROM SOURCE_SETTING;"), std::vector<std::string>{"1|0"});
	EXPECT_EQ(dev().mode, 0);
	EXPECT_EQ(table_exists(settings_db(), "POOLS"), 1);
	EXPECT_EQ(table_exists(settings_db(), "NO_SUCH"), 0);
}

TEST_F(SettingsDbTest, StartWithPoolsButNoFactoryCopyKeepsPoolsAndLoadsThem)
{
	query("CREATE TABLE POOLS(ID INT, URL TEXT, USER TEXT, PASS TEXT);"
	      "INSERT INTO POOLS VALUES (1,'u1','w1','p1'),(2,'u2','w2','p2'),(3,'u3','w3','p3');"
	      "CREATE TABLE SETTING(ID INT, DEV_MODE INT); INSERT INTO SETTING VALUES (1, -101);");
	start_service();
	EXPECT_EQ(query("SELECT * FROM SOURCE_POOLS ORDER BY ID;"), kFactoryPools);
	EXPECT_EQ(query("SELECT * FROM POOLS ORDER BY ID;"),
		  (std::vector<std::string>{"1|u1|w1|p1", "2|u2|w2|p2", "3|u3|w3|p3"}));
	EXPECT_STREQ(pools_table()[1].url, "u2");
	EXPECT_STREQ(pools_table()[2].pass, "p3");
	EXPECT_EQ(pools_table()[2].id, 3u);
	EXPECT_EQ(dev().mode, -101);
}

TEST_F(SettingsDbTest, PoolValuesWithQuotesAndSqlTextSurviveVerbatim)
{
	start_service();
	const pool_entry pools[] = {
		make_pool("stratum+tcp://it's.here:3333", "x'); DROP TABLE POOLS; --", "p\"\\'"),
		make_pool("' OR '1'='1", "user'", "';UPDATE SETTING SET DEV_MODE=9;--"),
	};
	char error[256] = "";
	ASSERT_TRUE(write_pools(pools, 2, error, sizeof(error))) << error;
	restart_service();
	EXPECT_STREQ(pools_table()[0].url, "stratum+tcp://it's.here:3333");
	EXPECT_STREQ(pools_table()[0].user, "x'); DROP TABLE POOLS; --");
	EXPECT_STREQ(pools_table()[0].pass, "p\"\\'");
	EXPECT_STREQ(pools_table()[1].url, "' OR '1'='1");
	EXPECT_STREQ(pools_table()[1].pass, "';UPDATE SETTING SET DEV_MODE=9;--");
	EXPECT_STREQ(pools_table()[2].url, "");
	EXPECT_EQ(dev().mode, 0);
	EXPECT_EQ(query("SELECT COUNT(*) FROM POOLS;"), std::vector<std::string>{"3"});
}

TEST_F(SettingsDbTest, FailedWriteLeavesEveryOldPoolInPlace)
{
	start_service();
	const pool_entry old_pools[] = {make_pool("a1", "b1", "c1"), make_pool("a2", "b2", "c2"),
					make_pool("a3", "b3", "c3")};
	char error[256] = "";
	ASSERT_TRUE(write_pools(old_pools, 3, error, sizeof(error))) << error;

	// The second row refuses to change, after the first was already updated.
	query("CREATE TRIGGER refuse_pool2 BEFORE UPDATE ON POOLS WHEN OLD.ID = 2 "
	      "BEGIN SELECT RAISE(ABORT, 'pool 2 is locked'); END;");
	const pool_entry new_pools[] = {make_pool("n1", "m1", "o1"), make_pool("n2", "m2", "o2"),
					make_pool("n3", "m3", "o3")};
	EXPECT_FALSE(write_pools(new_pools, 3, error, sizeof(error)));
	EXPECT_STREQ(error, "pool 2 is locked");
	EXPECT_EQ(query("SELECT * FROM POOLS ORDER BY ID;"),
		  (std::vector<std::string>{"1|a1|b1|c1", "2|a2|b2|c2", "3|a3|b3|c3"}));

	// The connection is usable afterwards: no transaction was left open.
	query("DROP TRIGGER refuse_pool2;");
	ASSERT_TRUE(write_pools(new_pools, 1, error, sizeof(error))) << error;
	EXPECT_EQ(query("SELECT * FROM POOLS WHERE ID=1;"), std::vector<std::string>{"1|n1|m1|o1"});
}

TEST_F(SettingsDbTest, MissingPoolRowIsWrittenAndStrayRowsAreIgnored)
{
	start_service();
	query("DELETE FROM POOLS WHERE ID=2; INSERT INTO POOLS VALUES (7,'stray','s','s');"
	      "UPDATE POOLS SET URL='" + std::string(400, 'L') + "' WHERE ID=3;");
	const pool_entry pools[] = {make_pool("a1", "b1", "c1"), make_pool("a2", "b2", "c2")};
	char error[256] = "";
	ASSERT_TRUE(write_pools(pools, 2, error, sizeof(error))) << error;
	EXPECT_EQ(query("SELECT * FROM POOLS WHERE ID=2;"), std::vector<std::string>{"2|a2|b2|c2"});

	reload_from_db();
	EXPECT_STREQ(pools_table()[1].url, "a2");
	// An over-long stored value is cut to the field, still terminated.
	EXPECT_EQ(std::string(pools_table()[2].url), std::string(255, 'L'));
}

TEST_F(SettingsDbTest, ModeIsWrittenAndReadBack)
{
	start_service();
	dev().mode = -1000;
	EXPECT_EQ(Write_setting_ToSqlite(), 0);
	restart_service();
	EXPECT_EQ(dev().mode, -1000);
	EXPECT_EQ(query("SELECT * FROM SOURCE_SETTING;"), std::vector<std::string>{"1|0"});
}

TEST_F(SettingsDbTest, FileThatIsNoDatabaseIsMovedAsideAndReplaced)
{
	{
		std::ofstream garbage(path_, std::ios::binary);
		for (int i = 0; i < 512; ++i)
			garbage << "this is not a database ";
	}
	start_service();
	const fs::path bad = path_.string() + ".bad";
	ASSERT_TRUE(fs::exists(bad));
	std::ifstream moved(bad);
	std::string head(23, '\0');
	moved.read(head.data(), 23);
	EXPECT_EQ(head, "this is not a database ");
	EXPECT_EQ(query("SELECT * FROM POOLS ORDER BY ID;"), kFactoryPools);

	const pool_entry pools[] = {make_pool("after", "u", "p")};
	char error[256] = "";
	EXPECT_TRUE(write_pools(pools, 1, error, sizeof(error))) << error;
}

TEST_F(SettingsDbTest, CorruptPagesAreMovedAsideAndReplaced)
{
	query("CREATE TABLE filler(x TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
	      "WHERE i < 400) INSERT INTO filler SELECT printf('%0200d', i) FROM n;");
	{
		// Overwrite the middle of the file, well past the header page.
		std::fstream file(path_, std::ios::binary | std::ios::in | std::ios::out);
		file.seekp(3 * 4096 + 100);
		for (int i = 0; i < 2000; ++i)
			file.put(static_cast<char>(0xA5));
	}
	start_service();
	EXPECT_TRUE(fs::exists(path_.string() + ".bad"));
	EXPECT_EQ(query("SELECT * FROM POOLS ORDER BY ID;"), kFactoryPools);
	EXPECT_EQ(query("SELECT name FROM sqlite_master WHERE name='filler';"), std::vector<std::string>{});
}

TEST_F(SettingsDbTest, UnopenablePathIsReported)
{
	char error[256] = "";
	const std::string missing_dir = (dir_ / "no" / "such" / "cfgsvc.db").string();
	EXPECT_FALSE(settings_db_open(missing_dir.c_str(), error, sizeof(error)));
	EXPECT_STRNE(error, "");
}
