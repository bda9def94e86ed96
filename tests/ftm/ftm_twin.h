// Helpers of the kx_ftm twin scenarios: requests, factory machine layouts and log checks.
#pragma once

#include <gtest/gtest.h>

#include <jansson.h>
#include <json_access.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "twin.h"

namespace ftm_twin {

inline constexpr double kStartUpSpeed = twin::kFastestPace;
inline constexpr const char *kClockFile = twin::kFaketimeFile;

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
		o.programs = {"kx_hwmond"};
		if (fast_start_up())
			o.faketime = {"cfgsvc"}; // started by SetUp once the time file is written
		else
			o.programs.insert(o.programs.end(), {"cfgsvc", "kx_ftm"});
		o.machine = machine();
		return o;
	}
	virtual std::string machine() = 0;
	// Chips whose answers take as long as the start-up's own waits keep its real pace.
	virtual bool fast_start_up() const { return kStartUpSpeed > 1.0; }
	void SetUp() override
	{
		twin::TwinTest::SetUp();
		ASSERT_TRUE(twin_ != nullptr);
		// The settings service's start-up (power cycle, probes of the empty
		// connectors) passes at kStartUpSpeed; then its clock is the real one.
		if (fast_start_up()) {
			twin().write_file(kClockFile, "+0 x" + std::to_string(static_cast<int>(kStartUpSpeed)) + "\n");
			ASSERT_TRUE(twin().start_program("cfgsvc"));
			ASSERT_TRUE(twin().start_program("kx_ftm"));
		}
		// The settings service answers once its start-up is over.
		ASSERT_TRUE(twin().wait_log("initialize hardware environment done!", 60000));
		if (fast_start_up()) {
			twin().write_file(kClockFile, "+0 x1\n");
			// Its next clock read, the log line of this request, takes the real clock up.
			twin().call("Setting", request("lists", "get"), 15);
		}
		ASSERT_TRUE(twin().wait_log("ftm: running... ", 20000));
	}
	std::string ftm(const std::string &key, const std::string &action, const std::string &body = "{}", int timeout_s = 15)
	{
		return twin().call("ftm", request(key, action, body), timeout_s);
	}
};

}  // namespace ftm_twin

namespace ftm_twin {

using json_ptr = kx_json::json_owner;

inline json_ptr parse(const std::string &text)
{
	return kx_json::parse_json(text.c_str());
}

inline long long body_int(const json_ptr &reply, const char *name)
{
	return json_integer_value(json_object_get(json_object_get(reply.get(), "body"), name));
}

inline std::string body_text(const json_ptr &reply, const char *name)
{
	const char *s = json_string_value(json_object_get(json_object_get(reply.get(), "body"), name));
	return s ? s : "(missing)";
}

inline const std::string kHbSn = "KXHB245173D000001A12BK11";

// A factory twin whose hash boards are listed to the settings service and carry a base record.
class HashBoardTwin : public FactoryTwin {
protected:
	// Marks the connectors' boards present in the settings service ("lists" set of their miners).
	void list_boards(std::initializer_list<int> cns)
	{
		std::string names;
		for (int cn : cns)
			names += std::string(names.empty() ? "" : ",") + "\"miner.ttyS" + "0135"[cn - 1] + "\"";
		ASSERT_EQ(twin().call("Setting", request("lists", "set", "{\"lists\":[" + names + "]}")), kOk);
		// The factory tooling switches the supply on for the hash-board tests, whatever start-up left.
		ASSERT_EQ(twin().call("hwmond", request("power.all", "set", R"({"power":{"power_vol":"3400","power_en":"1"}})")), kOk);
	}
	std::string base_record(int index, int type, int chips, const std::string &sn, int flash_or_check)
	{
		return ftm("ftm_dev.mboard", "set",
			   "{\"index\":" + std::to_string(index) + ",\"board_type\":" + std::to_string(type) +
				   ",\"ate_freq\":1200.7,\"ate_vol\":620,\"chips_num\":" + std::to_string(chips) +
				   ",\"hb_sn\":\"" + sn + "\",\"sn_flash_or_check\":" + std::to_string(flash_or_check) + "}");
	}
	json_ptr core_test()
	{
		std::string reply = ftm("ftm_dev.mboard", "get", "{}", 60);
		json_ptr j = parse(reply);
		EXPECT_TRUE(j != nullptr) << "not JSON: " << reply;
		return j;
	}
};

}  // namespace ftm_twin
