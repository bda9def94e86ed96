// Key "pools": the three mining pools in memory and in table POOLS, and
// pools_to_miners, which hands them to the present connectors' miners.
#include "pools.h"

#include <sqlite3.h>

#include <cstdio>

#include "bus_link.h"
#include "connectors.h"
#include "handlers.h"
#include "pool_body.h"
#include "settings_db.h"
#include "svc_log.h"
#include "text_util.h"

namespace {

#define POOL_OBJECTS_TEMPLATE                                                                      \
	"\"pools\":[                  {                     \"url\": \"%s\",                     "   \
	"\"user\": \"%s\",                     \"pass\": \"%s\"                  },                  " \
	"{                     \"url\": \"%s\",                     \"user\": \"%s\",                " \
	"     \"pass\": \"%s\"                  },                  {                     \"url\": "  \
	"\"%s\",                     \"user\": \"%s\",                     \"pass\": \"%s\"          " \
	"        }                ]            }        }"

constexpr const char *kPoolsReplyTemplate =
	"{            \"code\":0,            \"error\":\"ok\",            \"body\":{                " POOL_OBJECTS_TEMPLATE;
constexpr const char *kPoolsForwardTemplate =
	"{            \"key\":\"pools\",            \"action\":\"set\",            \"body\":{                " POOL_OBJECTS_TEMPLATE;

constexpr int kMinerReplySize = 256;

// The nine pool values escaped for a JSON string.
struct escaped_pools {
	char url[kPoolCount][json_escaped_size(kPoolUrlSize - 1)];
	char user[kPoolCount][json_escaped_size(kPoolUserSize - 1)];
	char pass[kPoolCount][json_escaped_size(kPoolPassSize - 1)];

	escaped_pools()
	{
		const pool_entry *pools = pools_table();
		for (int i = 0; i < kPoolCount; ++i) {
			json_escape(pools[i].url, url[i], sizeof(url[i]));
			json_escape(pools[i].user, user[i], sizeof(user[i]));
			json_escape(pools[i].pass, pass[i], sizeof(pass[i]));
		}
	}
};

// Room for the forward request with every value at its longest and escaped.
constexpr std::size_t kForwardSize = 1024 + sizeof(escaped_pools);

void pools_get(reply_buf &out)
{
	const escaped_pools values;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
	reply_data(out, kPoolsReplyTemplate, values.url[0], values.user[0], values.pass[0], values.url[1],
		   values.user[1], values.pass[1], values.url[2], values.user[2], values.pass[2]);
#pragma GCC diagnostic pop
}

void reply_sql_error(reply_buf &out, const char *error)
{
	char text[600];
	std::snprintf(text, sizeof(text), "SQL error: %s", error);
	reply_error(out, VORN_CODE_REFUSED, text);
}

// The pools take effect only once stored: a refused set leaves memory and
// the miners as they were.
void pools_set(const setting_request &req, reply_buf &out)
{
	pool_entry parsed[kPoolCount];
	const int count = parse_pools_body(req.body(), parsed);
	if (count == 0) {
		reply_status(out, VORN_REFUSAL("pools set"));
		return;
	}
	if (table_exists(settings_db(), "POOLS") != 1) {
		init_pools_tables();
		svc_log(kLogInfo, "table POOLS is not exists");
	}
	char error[512];
	if (!write_pools(parsed, count, error, sizeof(error))) {
		reply_sql_error(out, error);
		return;
	}
	pool_entry *pools = pools_table();
	for (int i = 0; i < count; ++i)
		pool_entry_assign(pools[i], parsed[i].url, parsed[i].user, parsed[i].pass);
	reply_status(out, VORN_REPLY_OK);
	pools_to_miners();
}

// Drop and re-create run as one transaction, so a failed clean leaves the
// stored and in-memory pools as they were; the reply names the first error.
void pools_clean(reply_buf &out)
{
	if (table_exists(settings_db(), "SOURCE_POOLS") != 1) {
		init_pools_tables();
		svc_log(kLogInfo, "table SOURCE_POOLS is not exists");
	}
	char error[512] = "";
	const bool began = run_statement("BEGIN;", error, sizeof(error));
	bool done = began;
	if (done && table_exists(settings_db(), "POOLS") == 1) {
		done = run_statement("DROP TABLE POOLS;", error, sizeof(error));
		if (done)
			svc_log(kLogInfo, "DROP TABLE POOLS success");
	}
	if (done)
		done = run_statement("create table POOLS as select * from SOURCE_POOLS;", error, sizeof(error));
	if (done)
		done = run_statement("COMMIT;", error, sizeof(error));
	if (!done) {
		// A failed COMMIT may already have ended the transaction.
		if (began && sqlite3_get_autocommit(settings_db()) == 0)
			run_statement("ROLLBACK;", nullptr, 0);
		reply_sql_error(out, error);
		return;
	}
	svc_log(kLogInfo, "clean table POOLS done");
	reload_from_db();
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

bool format_pools_forward(char *buf, std::size_t size)
{
	const escaped_pools values;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
	const int length = std::snprintf(buf, size, kPoolsForwardTemplate, values.url[0], values.user[0],
					 values.pass[0], values.url[1], values.user[1], values.pass[1],
					 values.url[2], values.user[2], values.pass[2]);
#pragma GCC diagnostic pop
	if (length < 0 || static_cast<std::size_t>(length) >= size)
		return false;
	strip_spaces(buf);
	return true;
}

void pools_to_miners()
{
	static char request[kForwardSize];
	const bool formatted = format_pools_forward(request, sizeof(request));
	for (int cn = 0; cn < kConnectorCount; ++cn) {
		if (dev().present[cn] != 0) {
			if (formatted) {
				char resp[kMinerReplySize];
				const int ret = bus_transfer(kMinerNames[cn], request, resp, sizeof(resp));
				svc_log(kLogInfo, "vorn_transfer to %s, ret: %d, resp: %s ", kMinerNames[cn], ret, resp);
			} else {
				svc_log(kLogError, "pools forward to %s does not fit, not sent", kMinerNames[cn]);
			}
		}
		sqlite3_sleep(1);
	}
}

void pools_run(const setting_request &req, reply_buf &out)
{
	switch (req.action) {
	case kActGet: pools_get(out); break;
	case kActSet: pools_set(req, out); break;
	case kActClean: pools_clean(out); break;
	case kAct2Miner:
		pools_to_miners();
		reply_status(out, VORN_REPLY_OK);
		break;
	default: reply_key_refusal(req, out); break;
	}
}
