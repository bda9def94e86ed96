// Helpers of the kx_hwmond twin scenarios: requests, reply checks and sysfs set-up.
#pragma once

#include <jansson.h>
#include <json_access.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "twin.h"

namespace hwmon_twin {

using json_ptr = kx_json::json_owner;

inline const std::string kOk = R"({"code": 0, "error": "ok", "body": {} })";

inline std::string refusal(const std::string &item)
{
	return "{\"code\": -22, \"error\": \"Unsupport " + item + "\", \"body\": {} }";
}

inline std::string request(const std::string &key, const std::string &action, const std::string &body = "{}")
{
	return "{\"key\":\"" + key + "\",\"action\":\"" + action + "\",\"body\":" + body + "}";
}

// Parses a data reply, checking that it is one JSON object with code 0 and no blank.
inline json_ptr parse_data_reply(const std::string &reply, bool compacted = true)
{
	json_error_t error;
	json_ptr j(json_loads(reply.c_str(), 0, &error));
	EXPECT_TRUE(j != nullptr) << "not JSON: " << reply;
	if (!j)
		return j;
	EXPECT_TRUE(json_is_object(j.get())) << reply;
	EXPECT_EQ(json_integer_value(json_object_get(j.get(), "code")), 0) << reply;
	if (compacted) {
		EXPECT_EQ(reply.find(' '), std::string::npos) << "blank in " << reply;
	}
	return j;
}

// Member at a dotted-free path of object names.
inline json_t *at(json_t *root, std::initializer_list<const char *> path)
{
	json_t *j = root;
	for (const char *name : path)
		j = json_object_get(j, name);
	return j;
}

inline std::string str_at(json_t *root, std::initializer_list<const char *> path)
{
	json_t *j = at(root, path);
	return json_is_string(j) ? json_string_value(j) : std::string("<not a string>");
}

// Trims the newline the twin's attributes end with.
inline std::string attr(twin::Twin &t, const std::string &path)
{
	std::string v = t.read_file(path);
	while (!v.empty() && (v.back() == '\n' || v.back() == '\0'))
		v.pop_back();
	return v;
}

// Waits until an attribute reads the value (the twin's model answers writes asynchronously).
inline bool wait_attr(twin::Twin &t, const std::string &path, const std::string &value, int timeout_ms = 3000)
{
	auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	while (std::chrono::steady_clock::now() < until) {
		if (attr(t, path) == value)
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
	return attr(t, path) == value;
}

// hwmon indices 0..7 that hold the attribute.
inline std::vector<int> hwmon_with(twin::Twin &t, const std::string &file)
{
	std::vector<int> found;
	for (int n = 0; n < 8; n++)
		if (t.file_exists("/sys/class/hwmon/hwmon" + std::to_string(n) + "/" + file))
			found.push_back(n);
	return found;
}

inline std::string hwmon_path(int n, const std::string &file)
{
	return "/sys/class/hwmon/hwmon" + std::to_string(n) + "/" + file;
}

// Waits until "hwmond" answers on the bus.
inline bool wait_hwmond(twin::Twin &t, int timeout_ms = 10000)
{
	auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	while (std::chrono::steady_clock::now() < until) {
		if (!t.call("hwmond", request("leds.all", "get"), 2).empty())
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
	}
	return false;
}

// GPIO writes to one line's value file, as text in order.
inline std::string value_writes(const std::vector<twin::GpioWrite> &record, int line)
{
	std::string s;
	for (const auto &w : record)
		if (w.line == line && w.file == "value")
			s += w.value;
	return s;
}

inline std::vector<twin::GpioWrite> writes_of(const std::vector<twin::GpioWrite> &record, int line)
{
	std::vector<twin::GpioWrite> out;
	for (const auto &w : record)
		if (w.line == line)
			out.push_back(w);
	return out;
}

}  // namespace hwmon_twin
