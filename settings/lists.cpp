// Key "lists": which connectors count as carrying a hash board, named by
// their mining programs.
#include <cstdio>
#include <cstring>

#include "connectors.h"
#include "handlers.h"
#include "svc_log.h"

namespace {

constexpr const char *kListsReplyTemplate =
	"{         \"code\":0,         \"error\":\"ok\",         \"body\":{               \"lists\":[          "
	"        %s               ]         }      }";

constexpr const char *kRefusal = VORN_REFUSAL("miner list set");

int miner_index(const char *name)
{
	for (int cn = 0; cn < kConnectorCount; ++cn) {
		if (std::strcmp(kMinerNames[cn], name) == 0)
			return cn;
	}
	return -1;
}

void lists_get(reply_buf &out)
{
	char names[kConnectorCount * 16] = "";
	std::size_t used = 0;
	for (int cn = 0; cn < kConnectorCount; ++cn) {
		if (dev().present[cn] != 0) {
			std::snprintf(names + used, sizeof(names) - used, "\"%s\",", kMinerNames[cn]);
			used = std::strlen(names);
		}
	}
	if (used > 0)
		names[used - 1] = '\0';
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
	reply_data(out, kListsReplyTemplate, names);
#pragma GCC diagnostic pop
}

void lists_set(const setting_request &req, reply_buf &out)
{
	json_t *body = req.body();
	if (body == nullptr) {
		svc_log(kLogError, "JSON invalid body");
		reply_status(out, kRefusal);
		return;
	}
	json_t *lists = json_object_get(body, "lists");
	if (!json_is_array(lists)) {
		svc_log(kLogError, "JSON invalid miner list");
		reply_status(out, kRefusal);
		return;
	}
	const std::size_t count = json_array_size(lists);
	if (count < 1 || count > 3) {
		svc_log(kLogError, "JSON invalid miner list count: %d ", static_cast<int>(count));
		reply_status(out, kRefusal);
		return;
	}
	for (std::size_t i = 0; i < count; ++i) {
		json_t *element = json_array_get(lists, i);
		const char *name = json_is_string(element) ? json_string_value(element) : "(not a string)";
		const int cn = json_is_string(element) ? miner_index(name) : -1;
		if (cn < 0) {
			// Connectors marked by earlier elements stay marked.
			svc_log(kLogError, "JSON unsupport miner list: %s", name);
			reply_status(out, kRefusal);
			return;
		}
		dev().present[cn] = 1;
	}
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void lists_run(const setting_request &req, reply_buf &out)
{
	switch (req.action) {
	case kActGet: lists_get(out); break;
	case kActSet: lists_set(req, out); break;
	case kActClean:
		for (int cn = 0; cn < kConnectorCount; ++cn)
			dev().present[cn] = 0;
		reply_status(out, VORN_REPLY_OK);
		break;
	default: reply_key_refusal(req, out); break;
	}
}
