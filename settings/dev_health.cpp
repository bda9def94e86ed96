// Key "dev.health": the fan and temperature health flags.
#include "device_record.h"
#include "handlers.h"
#include "svc_log.h"

namespace {

constexpr const char *kHealthRefusal = "{\"code\": -22, \"error\": \"No permission to modify dev.health\", \"body\": {} }";

void dev_health_get(reply_buf &out)
{
	// The flags go out as texts.
	reply_data(out,
		   "{         \"code\":0,         \"error\":\"ok\",         \"body\":{               \"fans_ok\":\"%d\","
		   "               \"temps_ok\":\"%d\"         }      }",
		   dev().fans_ok, dev().temps_ok);
}

// Both flags must be integers 0 or 1; nothing changes unless both are.
bool read_flags(json_t *body, int *fans, int *temps)
{
	if (int_member(body, "fans_ok", fans) != member_state::integer) {
		svc_log(kLogError, "JSON invalid %s integer", "fans_ok");
		return false;
	}
	if (int_member(body, "temps_ok", temps) != member_state::integer) {
		svc_log(kLogError, "JSON invalid %s integer", "temps_ok");
		return false;
	}
	if (*fans < 0 || *fans > 1) {
		svc_log(kLogError, "JSON fans_ok = %d", *fans);
		return false;
	}
	if (*temps < 0 || *temps > 1) {
		svc_log(kLogError, "JSON temps_ok = %d", *temps);
		return false;
	}
	return true;
}

void dev_health_set(const setting_request &req, reply_buf &out)
{
	json_t *body = req.body();
	int fans = 0;
	int temps = 0;
	if (body == nullptr)
		svc_log(kLogError, "JSON invalid body");
	if (body == nullptr || !read_flags(body, &fans, &temps)) {
		reply_status(out, kHealthRefusal);
		return;
	}
	dev().fans_ok = fans != 0 ? 1 : 0;
	dev().temps_ok = temps != 0 ? 1 : 0;
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void dev_health_run(const setting_request &req, reply_buf &out)
{
	run_get_set(req, out, dev_health_get, dev_health_set);
}
