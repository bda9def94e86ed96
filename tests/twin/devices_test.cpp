// The emulated /sys and /dev devices behave as the programs expect.
#include <thread>

#include "twin_test_util.h"

using twin_test::devtool;
using twin_test::trimmed;

namespace {

class Devices : public twin::TwinTest {};

TEST_F(Devices, GpioExportCreatesTheLineAndEveryWriteIsRecordedInOrder) {
  EXPECT_FALSE(twin().file_exists("/sys/class/gpio/gpio50"));
  twin::ExecResult r = twin().shell(
      "echo 50 > /sys/class/gpio/export && cat /sys/class/gpio/gpio50/direction /sys/class/gpio/gpio50/value");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "in\n0\n");
  EXPECT_TRUE(twin().file_exists("/sys/devices/platform/pinctrl/gpio/gpio50/value"));
  twin().shell("printf 'out\\0' > /sys/class/gpio/gpio50/direction; echo 1 > /sys/class/gpio/gpio50/value; "
              "echo 0 > /sys/class/gpio/gpio50/value");
  std::vector<twin::GpioWrite> rec = twin().gpio_record();
  ASSERT_EQ(rec.size(), 4u);
  EXPECT_EQ(rec[0].file, "export");
  EXPECT_EQ(rec[0].line, 50);
  EXPECT_EQ(rec[1].file + "=" + rec[1].value, "direction=out");
  EXPECT_EQ(rec[2].value, "1");
  EXPECT_EQ(rec[3].value, "0");
  EXPECT_LE(rec[0].t, rec[3].t);
  // an open without a write changes nothing and is not a write
  twin().shell(": > /sys/class/gpio/gpio50/value");
  EXPECT_EQ(twin().read_file("/sys/class/gpio/gpio50/value"), "0\n");
  EXPECT_EQ(twin().gpio_record().size(), 4u);
  // a descriptor kept open: every write is a value of its own, seen when it is made
  EXPECT_EQ(twin().shell(devtool("writes /sys/class/gpio/gpio50/value 1 0 1")).status, 0);
  rec = twin().gpio_record();
  ASSERT_EQ(rec.size(), 7u);
  EXPECT_EQ(rec[4].value + rec[5].value + rec[6].value, "101");
  EXPECT_EQ(twin().read_file("/sys/class/gpio/gpio50/value"), "1");
}

TEST_F(Devices, PsuOutputFollowsEnableAndSetPoint) {
  const std::string psu = "/sys/class/hwmon/hwmon1/";
  EXPECT_EQ(twin().read_file(psu + "vol_out1"), "3400\n");
  EXPECT_EQ(twin().read_file(psu + "power_model"), "KXP-3600\n");
  twin().shell("echo 0 > " + psu + "on");
  EXPECT_EQ(twin().read_file(psu + "vol_out1"), "0\n");
  twin().shell("echo 4200 > " + psu + "vol; echo 1 > " + psu + "on");
  EXPECT_EQ(twin().read_file(psu + "vol_out1"), "4200\n");
  twin().shell("echo 3600 > " + psu + "vol");
  EXPECT_EQ(twin().read_file(psu + "vol_out1"), "3600\n");
  for (const char* a : {"FANS_status", "POWER_status", "INPUT_status", "IOUT_status", "VOUT_status", "TEMP_status",
                        "vol_out_min", "vol_out_max", "power_sn", "current_in", "power_out", "temp1"})
    EXPECT_TRUE(twin().file_exists(psu + a)) << a;
}

TEST_F(Devices, FanDutyReadsBackAsDutyAndSpeed) {
  twin().shell("echo 40 > /sys/class/hwmon/hwmon2/pwm1");
  EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon2/pwm_user"), "40\n");
  EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon2/pwm1"), "2400\n");
  EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon3/pwm_user"), "100\n");
}

TEST_F(Devices, VendorStorageWriteThenReadReturnsTheItem) {
  EXPECT_EQ(twin().shell(devtool("vendor-read 1")).out, "len=15 data=KXCB24050000123\n");
  EXPECT_EQ(twin().shell(devtool("vendor-write 1 SN-OF-THE-TEST")).status, 0);
  EXPECT_EQ(twin().shell(devtool("vendor-read 1")).out, "len=14 data=SN-OF-THE-TEST\n");
  EXPECT_NE(twin().shell(devtool("vendor-read 4")).status, 0) << "an item never written reads as an error";
}

TEST_F(Devices, I2cReadWordReturnsTheConfiguredWordAndAbsentDevicesFail) {
  twin::ExecResult r = twin().shell("i2cget -y 1 0x48 0x00 w");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0x1900\n");
  EXPECT_NE(twin().shell("i2cget -y 1 0x49 0x00 w").status, 0);
}

TEST_F(Devices, ButtonPressIsTwoUioInterruptsWithTheLevelAtEach) {
  const std::string value = "/sys/devices/platform/pinctrl/gpio/gpio110/value";
  EXPECT_EQ(twin().read_file(value), "1\n");
  twin().shell(devtool("uio /dev/uio1 2 " + value) + " > /tmp/uio1.out 2>&1 &");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  twin().press_button(200);
  std::string out;
  for (int i = 0; i < 50 && out.size() < 32; i++) {
    out = twin().read_file("/tmp/uio1.out");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(out, "count=1 level=0\ncount=2 level=1\n");
  twin().shell(devtool("uio /dev/uio0 1 /dev/null") + " > /tmp/uio0.out 2>&1 &");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  twin().fire_ip_report();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(twin().read_file("/tmp/uio0.out").substr(0, 8), "count=1 ");
}

TEST_F(Devices, ScenarioSetsPinsAndRemovesAttributes) {
  const std::string sensor = "/sys/bus/i2c/devices/4-0048/hwmon/hwmon4/temp1_input";
  twin().heat_board(2, 75000);
  EXPECT_EQ(twin().read_file(sensor), "75000\n");
  EXPECT_EQ(twin().read_file("/sys/bus/i2c/devices/4-004c/hwmon/hwmon7/temp1_input"), "75000\n");
  EXPECT_NE(twin().read_file("/sys/bus/i2c/devices/5-0048/hwmon/hwmon4/temp1_input"), "75000\n");
  twin().set_sys("/sys/class/hwmon/hwmon1/vol_out1", "0");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/vol_out1"), "0\n") << "a set value stays set";
  twin().remove_sys(sensor);
  EXPECT_FALSE(twin().file_exists(sensor));
  EXPECT_NE(twin().state().find("pinned"), std::string::npos);
}

TEST_F(Devices, TemperaturesRiseWhenABoardRunsWithoutFans) {
  const std::string outlet = "/sys/bus/i2c/devices/5-004c/hwmon/hwmon7/temp1_input";
  int before = atoi(twin().read_file(outlet).c_str());
  twin().shell("echo 0 > /sys/class/hwmon/hwmon2/pwm1; echo 0 > /sys/class/hwmon/hwmon3/pwm1");
  twin_test::enable_line(twin(), 50);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  int after = atoi(twin().read_file(outlet).c_str());
  EXPECT_GT(after, before + 5000) << "board 1 running at duty 0";
}

class RefusingPsu : public twin::TwinTest {
  twin::BootOptions options() override { return twin_test::with_machine(R"({"psu": {"refuse_off": true, "vol": 4000}})"); }
};

TEST_F(RefusingPsu, OutputStaysWhenToldToSwitchOff) {
  twin().shell("echo 0 > /sys/class/hwmon/hwmon1/on");
  EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/vol_out1"), "4000\n");
}

class BareMachine : public twin::TwinTest {
  twin::BootOptions options() override {
    return twin_test::with_machine(R"({"vendor": null, "psu": null, "fans": [false, true], "etc_version": null,
                          "hostname": "KX-Test\n", "hostname_bak": "KX1\n", "adc": 900, "sdcard": false,
                          "button_exported": false})");
  }
};

TEST_F(BareMachine, MissingPartsAreMissing) {
  EXPECT_NE(twin().shell(devtool("vendor-read 1")).status, 0);
  EXPECT_FALSE(twin().file_exists("/sys/class/hwmon/hwmon1/vol"));
  EXPECT_FALSE(twin().file_exists("/sys/class/hwmon/hwmon2/pwm1"));
  EXPECT_TRUE(twin().file_exists("/sys/class/hwmon/hwmon3/pwm1"));
  EXPECT_FALSE(twin().file_exists("/etc/version"));
  EXPECT_FALSE(twin().file_exists("/mnt/sdcard"));
  EXPECT_FALSE(twin().file_exists("/sys/devices/platform/pinctrl/gpio/gpio110"));
  EXPECT_EQ(twin().read_file("/etc/hostname"), "KX-Test\n");
  EXPECT_EQ(twin().read_file("/etc/hostname.bak"), "KX1\n");
  EXPECT_EQ(trimmed(twin().shell("hostname").out), "KX-Test");
  EXPECT_EQ(twin().read_file("/sys/bus/iio/devices/iio:device0/in_voltage0_raw"), "900\n");
}

}  // namespace
