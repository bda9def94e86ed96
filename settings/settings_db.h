// The settings database: tables POOLS, SOURCE_POOLS, SETTING, SOURCE_SETTING,
// their creation and loading at start, and the writes of the pools and mode.
#pragma once

#include <cstddef>

#include <sqlite3.h>

#include "pools_table.h"

inline constexpr const char *kDatabasePath = "/userdata/cfgsvc.db";

// Opens the database file, creating it when missing. A file that is not a
// database or fails the integrity check is moved aside to "<path>.bad" and a
// fresh one is opened. On failure returns false with SQLite's error text.
bool settings_db_open(const char *path, char *error, std::size_t error_size);

// Start-up: creates what is missing and loads POOLS and SETTING.
void settings_db_prepare();

void settings_db_close();

// The open connection, or nullptr.
sqlite3 *settings_db();

// 1 when the table can be read, 0 when it does not exist, -1 on any other error.
int table_exists(sqlite3 *db, const char *table);

// Makes sure SOURCE_POOLS and POOLS exist; loads them when POOLS existed.
void init_pools_tables();

// Loads POOLS into the pools table and SETTING into the device record's mode.
void reload_from_db();

// Writes the device record's mode into SETTING row 1; 0 or -1.
int Write_setting_ToSqlite();

// Writes pools 1..count (1 to 3) to POOLS in one transaction: all of them or
// none. On failure returns false with SQLite's error text.
bool write_pools(const pool_entry *pools, int count, char *error, std::size_t error_size);

// Runs one fixed statement whose rows are logged; on failure logs
// "SQL error: %s" and returns false with the error text.
bool run_statement(const char *sql, char *error, std::size_t error_size);
