// Helpers of the kx_ftm twin scenarios: requests, factory machine layouts and log checks.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "twin.h"

namespace ftm_twin {

inline const std::string kOk = R"({"code": 0, "error": "ok", "body": {} })";
inline const std::string kActionWithKey = R"({"code": -22, "error": "Unsupport action with key ", "body": {} })";

inline std::string refusal(const std::string &item)
{
	return "{\"code\": -22, \"error\": \"Unsupport " + item + "\", \"body\": {} }";
}

inline std::string request(const std::string &key, const std::string &action, const std::string &body = "{}")
{
	return "{\"key\":\"" + key + "\",\"action\":\"" + action + "\",\"body\":" + body + "}";
}

// One board description of the machine JSON.
inline std::string board(int cn, int type, int chips, const std::string &extra = "")
{
	return "{\"cn\": " + std::to_string(cn) + ", \"present\": true, \"type\": " + std::to_string(type) +
	       ", \"chips\": " + std::to_string(chips) + (extra.empty() ? "" : ", " + extra) + "}";
}

inline std::string absent(int cn)
{
	return "{\"cn\": " + std::to_string(cn) + ", \"present\": false}";
}

// The factory fixture: no controller serial number and the given boards; the other connectors are empty.
inline std::string factory_machine(const std::string &boards, const std::string &vendor = R"({"present": true, "sn": null, "mac": null})")
{
	std::string all = boards;
	for (int cn = 1; cn <= 4; cn++)
		if (boards.find("\"cn\": " + std::to_string(cn) + ",") == std::string::npos)
			all += (all.empty() ? "" : ", ") + absent(cn);
	return "{\"boards\": [" + all + "], \"vendor\": " + vendor + "}";
}

inline size_t count_of(const std::string &text, const std::string &needle)
{
	size_t n = 0;
	for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
		n++;
	return n;
}

// Boots the given machine with kx_hwmond, cfgsvc and kx_ftm, as the factory's start-up leaves it.
class FactoryTwin : public twin::TwinTest {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions o;
		o.programs = {"kx_hwmond", "cfgsvc", "kx_ftm"};
		o.machine = machine();
		return o;
	}
	virtual std::string machine() = 0;
	void SetUp() override
	{
		twin::TwinTest::SetUp();
		ASSERT_TRUE(twin().wait_log("ftm: running... ", 20000));
	}
	std::string ftm(const std::string &key, const std::string &action, const std::string &body = "{}", int timeout_s = 15)
	{
		return twin().call("ftm", request(key, action, body), timeout_s);
	}
};

}  // namespace ftm_twin
