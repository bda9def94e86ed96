// Writing replies into the bus library's reply buffer, always bounded.
#include <cstdarg>
#include <cstdio>

#include "request.h"
#include "svc_log.h"
#include "text_util.h"

json_t *setting_request::body() const
{
	json_t *member = json_object_get(root, "body");
	return json_is_object(member) ? member : nullptr;
}

void run_get_set(const setting_request &req, reply_buf &out, void (*get)(reply_buf &out), key_handler set)
{
	if (req.action == kActGet)
		get(out);
	else if (req.action == kActSet)
		set(req, out);
	else
		reply_action_refusal(req, out);
}

namespace {
void note_write(reply_buf &out)
{
	if (++out.writes > 1)
		svc_log(kLogError, "reply written %d times for one request", out.writes);
}
} // namespace

void reply_status(reply_buf &out, const char *text)
{
	note_write(out);
	if (out.cap > 0)
		std::snprintf(out.text, static_cast<size_t>(out.cap), "%s", text);
}

void reply_error(reply_buf &out, int code, const char *error)
{
	note_write(out);
	if (out.cap <= 0)
		return;
	char escaped[1024];
	json_escape(error, escaped, sizeof(escaped));
	std::snprintf(out.text, static_cast<size_t>(out.cap), "{\"code\": %d, \"error\": \"%s\", \"body\": {} }", code,
		      escaped);
}

void reply_data(reply_buf &out, const char *format, ...)
{
	note_write(out);
	if (out.cap <= 0)
		return;
	va_list args;
	va_start(args, format);
	std::vsnprintf(out.text, static_cast<size_t>(out.cap), format, args);
	va_end(args);
	strip_spaces(out.text);
}
