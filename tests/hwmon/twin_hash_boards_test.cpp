// Hash-board temperatures, reset lines and raw EEPROM access of "hwmond" in the twin.
#include <array>

#include "hwmon_twin.h"

namespace {

using namespace hwmon_twin;

const char *kSensorDirs[8] = {"5-0048", "5-0049", "5-004a", "5-004c", "4-0048", "4-0049", "4-004a", "4-004c"};

class HashBoards : public twin::TwinTest {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions o;
		o.programs = {"kx_hwmond"};
		o.machine = machine();
		return o;
	}
	virtual std::string machine() { return ""; }
	void SetUp() override
	{
		twin::TwinTest::SetUp();
		ASSERT_TRUE(wait_hwmond(twin()));
	}
	// Gives every present sensor its own fixed reading; "" stands for a missing sensor.
	std::array<std::string, 8> pin_sensors()
	{
		std::array<std::string, 8> values;
		for (int slot = 0; slot < 8; slot++) {
			std::string base = std::string("/sys/bus/i2c/devices/") + kSensorDirs[slot] + "/hwmon/hwmon";
			for (int i = 7; i >= 0; i--) {
				std::string file = base + std::to_string(i) + "/temp1_input";
				if (twin().file_exists(file)) {
					values[(size_t)slot] = std::to_string(41000 + 1111 * slot);
					twin().set_sys(file, values[(size_t)slot]);
					break;
				}
			}
		}
		return values;
	}
	std::string eeprom_get(int index, int offset, int size)
	{
		return twin().call("hwmond", request("eeprom", "get",
						     "{\"eeprom_data\":{\"index\":" + std::to_string(index) + ",\"offset\":" +
							     std::to_string(offset) + ",\"size\":" + std::to_string(size) + "}}"));
	}
	std::string eeprom_set(int index, int offset, int size, const std::string &data)
	{
		return twin().call("hwmond", request("eeprom", "set",
						     "{\"eeprom_data\":{\"index\":" + std::to_string(index) + ",\"offset\":" +
							     std::to_string(offset) + ",\"size\":" + std::to_string(size) +
							     ",\"data\":\"" + data + "\"}}"));
	}
	std::string eeprom_file(int index)
	{
		return twin().read_file(index == 0 ? "/sys/bus/i2c/devices/5-0050/kx_eeprom"
						   : "/sys/bus/i2c/devices/4-0050/kx_eeprom");
	}
	std::string hb_set(const std::string &board, const std::string &core_reset)
	{
		return twin().call("hwmond", request("hash_board.only", "set",
						     "{    \"value\":\"" + board + "\",\"" + board + "\":{\"board_en\":\"1\",\"core_reset\":\"" +
							     core_reset + "\"}}"));
	}
};

void expect_board(json_t *root, const char *board, const std::string (&temps)[4], int i2c_num)
{
	SCOPED_TRACE(board);
	json_t *b = at(root, {"body", board});
	ASSERT_TRUE(json_is_object(b));
	const char *names[] = {"outlet_temp1", "inlet_temp2", "outlet_temp2", "inlet_temp1", "i2c_num"};
	size_t i = 0;
	const char *key;
	json_t *value;
	json_object_foreach(b, key, value) {
		ASSERT_LT(i, 5u);
		EXPECT_STREQ(key, names[i]);
		if (i < 4) {
			EXPECT_EQ(json_is_string(value) ? json_string_value(value) : "<not a string>", temps[i]) << key;
		}
		i++;
	}
	EXPECT_EQ(i, 5u);
	EXPECT_TRUE(json_is_integer(json_object_get(b, "i2c_num")));
	EXPECT_EQ(json_integer_value(json_object_get(b, "i2c_num")), i2c_num);
}

TEST_F(HashBoards, TemperatureLayoutPairsTheBoardsOfEachBus)
{
	std::array<std::string, 8> v = pin_sensors();
	for (const std::string &t : v)
		ASSERT_FALSE(t.empty());
	std::string reply = twin().call("hwmond", request("hash_boards.all", "get"));
	json_ptr j = parse_data_reply(reply);
	ASSERT_TRUE(j);
	std::string bus5[4] = {v[3], v[1], v[2], v[0]};
	std::string bus4[4] = {v[4], v[5], v[6], v[7]};
	expect_board(j.get(), "hash_board1", bus5, 1);
	expect_board(j.get(), "hash_board2", bus4, 0);
	expect_board(j.get(), "hash_board3", bus5, 1);
	expect_board(j.get(), "hash_board4", bus4, 0);
	size_t values = 0;
	for (const std::string &t : bus5)
		values += 2 * t.size();
	for (const std::string &t : bus4)
		values += 2 * t.size();
	EXPECT_EQ(reply.size(), 428u - 4 + values) << reply;  // each "-1" became "1" or "0"
}

class NoBus4Sensors : public HashBoards {
	std::string machine() override
	{
		return R"({"sensors": [{}, {}, {}, {}, {"present": false}, {"present": false}, {"present": false}, {"present": false}]})";
	}
};

TEST_F(NoBus4Sensors, BoardsTwoAndFourReadEmptyWithI2cNumMinusOne)
{
	std::array<std::string, 8> v = pin_sensors();
	EXPECT_EQ(v[4] + v[5] + v[6] + v[7], "");
	json_ptr j = parse_data_reply(twin().call("hwmond", request("hash_boards.all", "get")));
	ASSERT_TRUE(j);
	std::string bus5[4] = {v[3], v[1], v[2], v[0]};
	std::string empty[4] = {"", "", "", ""};
	expect_board(j.get(), "hash_board1", bus5, 1);
	expect_board(j.get(), "hash_board2", empty, -1);
	expect_board(j.get(), "hash_board3", bus5, 1);
	expect_board(j.get(), "hash_board4", empty, -1);
}

TEST_F(HashBoards, ResetLinesTakeOnlyKnownBoardsAndValues)
{
	size_t mark = twin().gpio_record().size();
	EXPECT_EQ(hb_set("hash_board1", "1"), kOk);
	EXPECT_EQ(hb_set("hash_board4", "0"), kOk);
	EXPECT_EQ(hb_set("hash_board5", "1"), kOk);
	EXPECT_EQ(hb_set("hash_board2", "2"), kOk);
	EXPECT_EQ(hb_set("hash_board3", "1"), kOk);
	EXPECT_EQ(twin().call("hwmond", request("hash_board.only", "set", R"({"value":"hash_board1"})")),
		  refusal("hash board"));
	EXPECT_EQ(twin().call("hwmond", request("hash_board.only", "set", R"({"value":"hash_board1","hash_board1":{"board_en":"1"}})")),
		  refusal("hash board"));
	std::vector<std::tuple<int, std::string, std::string>> got;
	auto record = twin().gpio_record();
	for (size_t i = mark; i < record.size(); i++)
		if (record[i].line == 50 || record[i].line == 51 || record[i].line == 106 || record[i].line == 107)
			got.emplace_back(record[i].line, record[i].file, record[i].value);
	const std::vector<std::tuple<int, std::string, std::string>> expected = {
		{50, "direction", "out"}, {50, "value", "1"},  {107, "direction", "out"}, {107, "value", "0"},
		{51, "direction", "out"}, {106, "direction", "out"}, {106, "value", "1"},
	};
	EXPECT_EQ(got, expected);
	EXPECT_TRUE(twin().wait_log("kx_hb_set unexpected value:/sys/class/gpio/gpio51/value value 2.", 2000));
	EXPECT_TRUE(twin().wait_log("set_hash_board hash_board4 : 107 0.", 2000));
}

TEST_F(HashBoards, EepromRoundTripsInUpperCaseWhateverCaseWasWritten)
{
	std::string before = eeprom_file(1);
	ASSERT_EQ(before.size(), 256u);
	std::string lower, upper;
	for (int i = 0; i < 88; i++) {
		char pair[3];
		snprintf(pair, sizeof pair, "%02x", (i * 37 + 11) & 0xFF);
		lower += pair;
		snprintf(pair, sizeof pair, "%02X", (i * 37 + 11) & 0xFF);
		upper += pair;
	}
	EXPECT_EQ(eeprom_set(1, 0, 176, lower), kOk);
	std::string reply = eeprom_get(1, 0, 88);
	json_ptr j = parse_data_reply(reply);
	ASSERT_TRUE(j);
	EXPECT_EQ(json_integer_value(at(j.get(), {"body", "eeprom", "index"})), 1);
	EXPECT_EQ(json_integer_value(at(j.get(), {"body", "eeprom", "offset"})), 0);
	EXPECT_EQ(json_integer_value(at(j.get(), {"body", "eeprom", "size"})), 176);
	EXPECT_EQ(str_at(j.get(), {"body", "eeprom", "data"}), upper);
	std::string after = eeprom_file(1);
	ASSERT_EQ(after.size(), 256u);
	for (int i = 0; i < 88; i++)
		EXPECT_EQ((unsigned char)after[(size_t)i], (unsigned)((i * 37 + 11) & 0xFF)) << i;
	EXPECT_EQ(after.substr(88), before.substr(88));

	// Upper case writes the same bytes; "size" 0 does not limit what the data carries.
	EXPECT_EQ(eeprom_set(1, 0, 0, upper), kOk);
	EXPECT_EQ(eeprom_file(1), after);

	// The other EEPROM is untouched; a small window at an offset moves only its bytes.
	std::string other = eeprom_file(0);
	EXPECT_EQ(eeprom_set(0, 250, 12, "a1B2c3D4e5F6"), kOk);
	std::string moved = eeprom_file(0);
	EXPECT_EQ(moved.substr(0, 250), other.substr(0, 250));
	EXPECT_EQ(moved.substr(250), std::string("\xa1\xb2\xc3\xd4\xe5\xf6", 6));
	json_ptr k = parse_data_reply(eeprom_get(0, 250, 6));
	ASSERT_TRUE(k);
	EXPECT_EQ(str_at(k.get(), {"body", "eeprom", "data"}), "A1B2C3D4E5F6");
	EXPECT_EQ(json_integer_value(at(k.get(), {"body", "eeprom", "size"})), 12);
	EXPECT_EQ(eeprom_file(1), after);
}

TEST_F(HashBoards, MalformedOrOutOfWindowEepromRequestsChangeNothing)
{
	std::string image0 = eeprom_file(0), image1 = eeprom_file(1);
	std::string hex176(176, 'A');
	EXPECT_EQ(eeprom_set(0, 0, 175, hex176.substr(0, 175)), refusal("eeprom"));
	EXPECT_TRUE(twin().wait_log("The string is not an even number of characters!", 2000));
	EXPECT_EQ(eeprom_set(0, 0, 176, hex176.substr(0, 100) + "G" + hex176.substr(0, 75)), refusal("eeprom"));
	EXPECT_TRUE(twin().wait_log("The string string is not a HEX format character", 2000));
	EXPECT_EQ(eeprom_get(0, 200, 88), refusal("eeprom"));
	EXPECT_EQ(eeprom_set(0, 200, 176, hex176), refusal("eeprom"));
	EXPECT_EQ(eeprom_set(1, 169, 176, hex176), refusal("eeprom"));
	EXPECT_EQ(eeprom_get(2, 0, 88), refusal("eeprom"));
	EXPECT_EQ(eeprom_set(2, 0, 176, hex176), refusal("eeprom"));
	EXPECT_EQ(eeprom_get(0, -1, 4), refusal("eeprom"));
	EXPECT_EQ(eeprom_set(1, -8, 176, hex176), refusal("eeprom"));
	EXPECT_EQ(eeprom_get(1, 0, 257), refusal("eeprom"));
	EXPECT_EQ(eeprom_get(1, 0, -1), refusal("eeprom"));
	EXPECT_EQ(eeprom_set(0, 0, 514, std::string(514, '0')), refusal("eeprom"));
	EXPECT_EQ(eeprom_file(0), image0);
	EXPECT_EQ(eeprom_file(1), image1);

	// The last byte of the window is still reachable; a zero-byte read is empty.
	json_ptr j = parse_data_reply(eeprom_get(1, 255, 1));
	ASSERT_TRUE(j);
	char last[3];
	snprintf(last, sizeof last, "%02X", (unsigned char)image1[255]);
	EXPECT_EQ(str_at(j.get(), {"body", "eeprom", "data"}), last);
	EXPECT_EQ(eeprom_get(0, 0, 0), R"({"code":0,"error":"ok","body":{"eeprom":{"index":0,"offset":0,"size":0,"data":""}}})");
	EXPECT_EQ(twin().program_status("kx_hwmond"), "RUNNING");
}

}  // namespace
