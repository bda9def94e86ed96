// Key "dev.errno": error numbers reported by other programs, with the time
// they were first reported.
#include <cstdint>
#include <ctime>

#include "device_record.h"
#include "error_list.h"
#include "handlers.h"
#include "svc_log.h"

namespace {

constexpr int kErrnoSlots = 16;

constexpr const char *kErrnoRefusal = VORN_REFUSAL("dev errno");

void dev_errno_set(const setting_request &req, reply_buf &out)
{
	json_t *body = req.body();
	if (body == nullptr) {
		svc_log(kLogError, "JSON invalid body");
		reply_status(out, kErrnoRefusal);
		return;
	}
	const auto now = static_cast<std::uint32_t>(std::time(nullptr));
	json_t *list = json_object_get(body, "errno");
	if (list == nullptr) {
		reply_status(out, VORN_REPLY_OK);
		return;
	}
	if (!json_is_array(list)) {
		svc_log(kLogError, "JSON invalid errno array");
		reply_status(out, kErrnoRefusal);
		return;
	}
	const std::size_t size = json_array_size(list);
	if (size < 1 || size > 4) {
		svc_log(kLogError, "JSON invalid errno count: %d ", static_cast<int>(size));
		reply_status(out, kErrnoRefusal);
		return;
	}
	for (std::size_t i = 0; i < size; ++i) {
		// An element that is not an integer reads as 0 and is skipped.
		const auto value = static_cast<std::int32_t>(json_integer_value(json_array_get(list, i)));
		if (value < -32768 || value > 32767) {
			svc_log(kLogError, "JSON invalid errcode = %d, Out of short range", value);
			reply_status(out, kErrnoRefusal);
			return;
		}
		errno_log_add(now, static_cast<std::int16_t>(value));
	}
	reply_status(out, VORN_REPLY_OK);
}

void dev_errno_get(reply_buf &out)
{
	char codes[kErrnoSlots * 8 + 1];
	char times[kErrnoSlots * 13 + 1];
	errno_log_lists(codes, sizeof(codes), times, sizeof(times));
	reply_data(out,
		   "{         \"code\":0,         \"error\":\"ok\",         \"body\":{                \"errno\":[%s],"
		   "                \"errts\":[%s]         }      }",
		   codes, times);
}

} // namespace

void dev_errno_run(const setting_request &req, reply_buf &out)
{
	if (req.action == kActGet)
		dev_errno_get(out);
	else if (req.action == kActSet)
		dev_errno_set(req, out);
	else
		reply_action_refusal(req, out);
}
