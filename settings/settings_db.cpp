// Settings database at /userdata/cfgsvc.db: schema, start-up, loading and
// writes. Values always reach SQLite as bound parameters.
#include "settings_db.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device_record.h"
#include "svc_log.h"

namespace {

sqlite3 *g_db = nullptr;

constexpr const char *kCreateSourcePools =
	"CREATE TABLE SOURCE_POOLS(ID INT PRIMARY KEY     NOT NULL,URL  \t\tCHAR(128)\tNOT NULL,"
	"USER           TEXT    NOT NULL,PASS           TEXT    NOT NULL);";
constexpr const char *kFillSourcePools =
	"INSERT INTO SOURCE_POOLS (ID,URL,USER,PASS)VALUES (1, '', '', '');"
	"INSERT INTO SOURCE_POOLS (ID,URL,USER,PASS)VALUES (2, '', '', '');"
	"INSERT INTO SOURCE_POOLS (ID,URL,USER,PASS)VALUES (3, '', '', '');";
constexpr const char *kCreatePoolsFromSource = "create table POOLS as select * from SOURCE_POOLS;";
constexpr const char *kLoadPools = "SELECT * from POOLS;";
constexpr const char *kCreateSetting =
	"CREATE TABLE SETTING(ID INT PRIMARY KEY     NOT NULL,DEV_MODE  \t\tINT\tNOT NULL);";
constexpr const char *kFillSetting = "INSERT INTO SETTING (ID,DEV_MODE)VALUES (1, 0);";
constexpr const char *kDropSourceSetting = "DROP TABLE SOURCE_SETTING;";
constexpr const char *kCreateSourceSetting = "create table SOURCE_SETTING as select * from SETTING;";
constexpr const char *kLoadMode = "SELECT * from SETTING;";
constexpr const char *kWriteMode = "UPDATE SETTING set DEV_MODE = %d where ID=%d;";

constexpr const char *kUpdatePool = "UPDATE POOLS set URL = ?1, USER = ?2, PASS = ?3 where ID=?4;";
constexpr const char *kInsertPool = "INSERT INTO POOLS (ID,URL,USER,PASS)VALUES (?4, ?1, ?2, ?3);";
constexpr const char *kSelectPool = "SELECT * from POOLS where ID=?1;";

using sql_callback = int (*)(void *, int, char **, char **);

struct statement_deleter {
	void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using statement = std::unique_ptr<sqlite3_stmt, statement_deleter>;

void copy_error(char *error, std::size_t error_size, const char *text)
{
	if (error != nullptr && error_size > 0)
		std::snprintf(error, error_size, "%s", text != nullptr ? text : "unknown error");
}

// Runs `sql`; a failure is logged with `failure_format` and its text copied out.
bool exec_logged(const char *sql, sql_callback callback, const char *failure_format, char *error = nullptr,
		 std::size_t error_size = 0)
{
	if (g_db == nullptr) {
		svc_log(kLogError, "%s", "SQL error: database is not open");
		copy_error(error, error_size, "database is not open");
		return false;
	}
	char *message = nullptr;
	if (sqlite3_exec(g_db, sql, callback, nullptr, &message) == SQLITE_OK)
		return true;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
	svc_log(kLogError, failure_format, message != nullptr ? message : sqlite3_errmsg(g_db));
#pragma GCC diagnostic pop
	copy_error(error, error_size, message != nullptr ? message : sqlite3_errmsg(g_db));
	sqlite3_free(message);
	return false;
}

int log_rows_callback(void *, int columns, char **values, char **names)
{
	for (int i = 0; i < columns; ++i)
		svc_log(kLogInfo, "%s = %s", names[i], values[i] != nullptr ? values[i] : "NULL");
	svc_log(kLogInfo, "callback");
	return 0;
}

int Update_Pools_Callback(void *, int columns, char **values, char **)
{
	if (columns < 4 || values[0] == nullptr) {
		svc_log(kLogError, "POOLS row with %d columns ignored", columns);
		return 0;
	}
	const int id = std::atoi(values[0]);
	if (id < 1 || id > kPoolCount) {
		svc_log(kLogError, "POOLS row with ID %s ignored", values[0]);
		return 0;
	}
	pool_entry &entry = pools_table()[id - 1];
	entry.id = static_cast<std::uint32_t>(id);
	pool_entry_assign(entry, values[1], values[2], values[3]);
	svc_log(kLogDebug, "Update_Pools_Callback");
	return 0;
}

int Update_setting_Callback(void *, int columns, char **values, char **)
{
	if (columns < 2)
		return 0;
	const int id = values[0] != nullptr ? std::atoi(values[0]) : 0;
	const int mode = values[1] != nullptr ? std::atoi(values[1]) : 0;
	dev().mode = static_cast<std::int16_t>(mode);
	svc_log(kLogDebug, "Update_setting_Callback");
	svc_log(kLogDebug, "Update_setting_Callback iId=%d, mode=%d", id, mode);
	return 0;
}

void log_statement_rows(sqlite3_stmt *stmt)
{
	while (sqlite3_step(stmt) == SQLITE_ROW) {
		for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
			const unsigned char *value = sqlite3_column_text(stmt, i);
			svc_log(kLogInfo, "%s = %s", sqlite3_column_name(stmt, i),
				value != nullptr ? reinterpret_cast<const char *>(value) : "NULL");
		}
		svc_log(kLogInfo, "callback");
	}
}

statement prepare(const char *sql)
{
	sqlite3_stmt *stmt = nullptr;
	if (sqlite3_prepare_v2(g_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
		sqlite3_finalize(stmt);
		return statement{};
	}
	return statement{stmt};
}

bool bind_pool(sqlite3_stmt *stmt, const pool_entry &pool, int id)
{
	return sqlite3_bind_text(stmt, 1, pool.url, -1, SQLITE_TRANSIENT) == SQLITE_OK &&
	       sqlite3_bind_text(stmt, 2, pool.user, -1, SQLITE_TRANSIENT) == SQLITE_OK &&
	       sqlite3_bind_text(stmt, 3, pool.pass, -1, SQLITE_TRANSIENT) == SQLITE_OK &&
	       sqlite3_bind_int(stmt, 4, id) == SQLITE_OK;
}

// Writes one pool row inside the running transaction; a missing row is added.
bool write_one_pool(const pool_entry &pool, int id)
{
	statement update = prepare(kUpdatePool);
	if (!update || !bind_pool(update.get(), pool, id) || sqlite3_step(update.get()) != SQLITE_DONE)
		return false;
	if (sqlite3_changes(g_db) == 0) {
		statement insert = prepare(kInsertPool);
		if (!insert || !bind_pool(insert.get(), pool, id) || sqlite3_step(insert.get()) != SQLITE_DONE)
			return false;
	}
	statement select = prepare(kSelectPool);
	if (select && sqlite3_bind_int(select.get(), 1, id) == SQLITE_OK)
		log_statement_rows(select.get());
	return true;
}

// Why the file cannot serve as the settings database, or nullptr when it can.
// Only a file that is not a database or is corrupt counts; a busy or
// unreadable file is left alone.
const char *damage_of(sqlite3 *db)
{
	sqlite3_stmt *raw = nullptr;
	int rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check;", -1, &raw, nullptr);
	statement check{raw};
	if (rc == SQLITE_OK)
		rc = sqlite3_step(check.get());
	if (rc == SQLITE_ROW) {
		const unsigned char *verdict = sqlite3_column_text(check.get(), 0);
		if (verdict != nullptr && std::strcmp(reinterpret_cast<const char *>(verdict), "ok") == 0)
			return nullptr;
		return "integrity check failed";
	}
	const int primary = rc & 0xff;
	if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
		return sqlite3_errstr(rc);
	return nullptr;
}

void move_aside(const char *path)
{
	char bad[512];
	char from[512];
	char to[600];
	std::snprintf(bad, sizeof(bad), "%s.bad", path);
	if (std::rename(path, bad) != 0) {
		svc_log(kLogError, "Database %s is damaged and could not be moved aside, removing it", path);
		std::remove(path);
	} else {
		svc_log(kLogError, "Database %s is damaged, moved aside to %s", path, bad);
	}
	// A journal left by the damaged file must not be replayed into the fresh one.
	std::snprintf(from, sizeof(from), "%s-journal", path);
	std::snprintf(to, sizeof(to), "%s-journal", bad);
	std::rename(from, to);
}

} // namespace

bool settings_db_open(const char *path, char *error, std::size_t error_size)
{
	for (int attempt = 0; attempt < 2; ++attempt) {
		sqlite3 *db = nullptr;
		if (sqlite3_open(path, &db) != SQLITE_OK) {
			copy_error(error, error_size, db != nullptr ? sqlite3_errmsg(db) : "out of memory");
			sqlite3_close(db);
			return false;
		}
		const char *damage = damage_of(db);
		if (damage == nullptr) {
			g_db = db;
			return true;
		}
		svc_log(kLogError, "Database %s: %s", path, damage);
		sqlite3_close(db);
		move_aside(path);
	}
	copy_error(error, error_size, "database stays damaged after a fresh start");
	return false;
}

void settings_db_close()
{
	sqlite3_close(g_db);
	g_db = nullptr;
}

sqlite3 *settings_db()
{
	return g_db;
}

int table_exists(sqlite3 *db, const char *table)
{
	if (db == nullptr)
		return -1;
	char sql[255];
	std::snprintf(sql, sizeof(sql), "SELECT * from %s;", table);
	char *message = nullptr;
	if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
		return 1;
	int result = -1;
	if (message != nullptr && std::strstr(message, "no such table") != nullptr)
		result = 0;
	else
		svc_log(kLogError, "SQL error: %s", message != nullptr ? message : sqlite3_errmsg(db));
	sqlite3_free(message);
	return result;
}

void init_pools_tables()
{
	if (table_exists(g_db, "SOURCE_POOLS") == 1) {
		svc_log(kLogDebug, "table SOURCE_POOLS already exists.");
	} else {
		exec_logged(kCreateSourcePools, log_rows_callback, "SQL error: %s");
		if (exec_logged(kFillSourcePools, log_rows_callback, "SQL error: %s"))
			svc_log(kLogInfo, "Records created SOURCE_POOLS success");
	}
	if (table_exists(g_db, "POOLS") == 1) {
		reload_from_db();
		svc_log(kLogDebug, "table POOLS already exists.");
	} else if (exec_logged(kCreatePoolsFromSource, log_rows_callback, "SQL error: %s")) {
		svc_log(kLogInfo, "create table POOLS done");
	}
}

void settings_db_prepare()
{
	init_pools_tables();
	if (table_exists(g_db, "SETTING") == 1) {
		svc_log(kLogDebug, "table SETTING already exists");
		reload_from_db();
		return;
	}
	exec_logged(kCreateSetting, log_rows_callback, "SQL error: %s");
	if (exec_logged(kFillSetting, log_rows_callback, "SQL error: %s"))
		svc_log(kLogInfo, "Records created SETTING success");
	if (table_exists(g_db, "SOURCE_SETTING") == 1 &&
	    exec_logged(kDropSourceSetting, log_rows_callback, "SQL error: %s"))
		svc_log(kLogInfo, "DROP TABLE SOURCE_SETTING success");
	if (exec_logged(kCreateSourceSetting, log_rows_callback, "SQL error: %s"))
		svc_log(kLogInfo, "create table SOURCE_SETTING done");
}

void reload_from_db()
{
	exec_logged(kLoadPools, Update_Pools_Callback, "SQL POOLS error: %s");
	exec_logged(kLoadMode, Update_setting_Callback, "SQL SETTING error: %s");
}

int Write_setting_ToSqlite()
{
	char sql[128];
	std::snprintf(sql, sizeof(sql), kWriteMode, dev().mode, 1);
	return exec_logged(sql, log_rows_callback, "SQL Write_setting_ToSqlite error: %s") ? 0 : -1;
}

bool write_pools(const pool_entry *pools, int count, char *error, std::size_t error_size)
{
	if (!exec_logged("BEGIN;", nullptr, "SQL error: %s", error, error_size))
		return false;
	for (int i = 0; i < count; ++i) {
		if (!write_one_pool(pools[i], i + 1)) {
			svc_log(kLogError, "SQL error: %s", sqlite3_errmsg(g_db));
			copy_error(error, error_size, sqlite3_errmsg(g_db));
			exec_logged("ROLLBACK;", nullptr, "SQL error: %s");
			return false;
		}
	}
	if (!exec_logged("COMMIT;", nullptr, "SQL error: %s", error, error_size)) {
		exec_logged("ROLLBACK;", nullptr, "SQL error: %s");
		return false;
	}
	return true;
}

bool run_statement(const char *sql, char *error, std::size_t error_size)
{
	return exec_logged(sql, log_rows_callback, "SQL error: %s", error, error_size);
}
