// Key "ftm_i2c1": one SMBus read-word of the sensor at 0x48 on I2C bus 1.
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>

extern "C" {
#include <i2c/smbus.h>
}

#include <vorn_envelope.h>

#include "ftm_log.h"
#include "handlers.h"
#include "unique_fd.h"

namespace ftm {

namespace {

constexpr int kBus = 1;
constexpr int kSensorAddress = 0x48;
constexpr int kRegister = 0;

bool read_sensor_word()
{
	char path[32];
	snprintf(path, sizeof(path), "/dev/i2c-%d", kBus);
	unique_fd fd(open(path, O_RDWR));
	if (!fd.valid()) {
		err("get_i2c1_temp fail to open i2c adapter %s.\n", path);
		return false;
	}
	if (ioctl(fd.get(), I2C_SLAVE, kSensorAddress) < 0) {
		err("get_i2c1_temp fail to access slave device %d err %d.\n", kSensorAddress, errno);
		return false;
	}
	int ret = i2c_smbus_read_word_data(fd.get(), kRegister);
	if (ret < 0) {
		err("get_i2c1_temp fail to read slave device register %d ret %d.\n", kRegister, ret);
		return false;
	}
	err("get_i2c1_temp success to read slave device %d register %d ret %d.\n", kSensorAddress, kRegister, ret);
	return true;
}

}  // namespace

void get_i2c1_temp(const json_t *, char *resp, int size)
{
	reply(resp, size, read_sensor_word() ? VORN_REPLY_OK : "{\"code\": -22, \"error\": \"i2c1 test fail\", \"body\": {} }");
}

}  // namespace ftm
