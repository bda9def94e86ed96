// Key "dev.Vmin": what the minimum-voltage search reports per board; a get
// hands the counts over and clears them.
#include <cstdio>

#include "device_record.h"
#include "handlers.h"
#include "svc_log.h"

namespace {

constexpr const char *kVminRefusal =
	"{\"code\": -22, \"error\":                   "
	"\"Unsupport index/vmin_cnt/err_num/sumGPloss/hashrate/totalcnt/bad_cnt value\", \"body\": {} }";

void dev_vmin_get(reply_buf &out)
{
	device_record &d = dev();
	char list[kConnectorCount * 160] = "";
	std::size_t length = 0;
	for (int i = 0; i < kConnectorCount; ++i) {
		const hash_board_block &b = d.board[i];
		const int n = std::snprintf(list + length, sizeof(list) - length,
					    "%s{\"index\":%d,\"vmin_cnt\":%d,\"err_num\":%d,\"sumGPloss\":%d,"
					    "\"hashrate\":%d,\"totalcnt\":%d,\"bad_cnt\":%d}",
					    i ? "," : "", i + 1, b.vmin_cnt, b.err_num, b.sumGPloss, b.hashrate,
					    b.totalcnt, b.bad_cnt);
		if (n > 0)
			length += static_cast<std::size_t>(n);
	}
	reply_data(out,
		   "{         \"code\":0,         \"error\":\"ok\",         \"body\":{               \"Vmin\":[%s]    "
		   "     }      }",
		   list);
	// Each count is reported once.
	for (hash_board_block &b : d.board)
		b.vmin_cnt = 0;
}

// One counter: absent, or a non-negative integer stored by the caller.
// Returns false when refused.
bool counter_member(json_t *body, const char *name, int *value, bool *present)
{
	const member_state state = int_member(body, name, value);
	*present = state == member_state::integer;
	if (state == member_state::not_integer) {
		svc_log(kLogError, "JSON invalid %s integer", name);
		return false;
	}
	return state == member_state::absent || *value >= 0;
}

bool apply_vmin_members(json_t *body)
{
	int index = 0;
	if (int_member(body, "index", &index) != member_state::integer) {
		svc_log(kLogError, "JSON invalid index integer");
		return false;
	}
	if (index < 1 || index > kConnectorCount)
		return false;
	hash_board_block &b = dev().board[index - 1];

	int value = 0;
	const member_state cnt = int_member(body, "vmin_cnt", &value);
	if (cnt == member_state::not_integer) {
		svc_log(kLogError, "JSON invalid vmin_cnt integer");
		return false;
	}
	if (cnt == member_state::integer)
		b.vmin_cnt = static_cast<std::uint8_t>(value);

	const member_state err = int_member(body, "err_num", &value);
	if (err == member_state::not_integer) {
		svc_log(kLogError, "JSON invalid err_num integer");
		return false;
	}
	if (err == member_state::integer && value > 0) {
		b.err_num = static_cast<std::int16_t>(-value);
		svc_log(kLogError, "Error code %d:dev.vmin set error code.", value);
	}

	bool present = false;
	if (!counter_member(body, "sumGPloss", &value, &present))
		return false;
	if (present)
		b.sumGPloss = value;
	if (!counter_member(body, "hashrate", &value, &present))
		return false;
	if (present)
		b.hashrate = value;
	if (!counter_member(body, "totalcnt", &value, &present))
		return false;
	if (present)
		b.totalcnt = static_cast<std::int16_t>(value);
	if (!counter_member(body, "bad_cnt", &value, &present))
		return false;
	if (present)
		b.bad_cnt = static_cast<std::int16_t>(value);
	return true;
}

void dev_vmin_set(const setting_request &req, reply_buf &out)
{
	json_t *body = req.body();
	if (body == nullptr)
		svc_log(kLogError, "JSON invalid body");
	if (body == nullptr || !apply_vmin_members(body)) {
		reply_status(out, kVminRefusal);
		return;
	}
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void dev_vmin_run(const setting_request &req, reply_buf &out)
{
	run_get_set(req, out, dev_vmin_get, dev_vmin_set);
}
