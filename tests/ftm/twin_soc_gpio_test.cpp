// The libsoc GPIO stand-in over the twin's /sys/class/gpio: export and unexport follow the request mode.
#include "ftm_twin.h"

namespace {

std::vector<std::string> writes_of(twin::Twin &t, int line)
{
	std::vector<std::string> out;
	for (const twin::GpioWrite &w : t.gpio_record())
		if (w.line == line || (w.file == "unexport" && w.value == std::to_string(line)))
			out.push_back(w.file + "=" + w.value);
	return out;
}

class SocGpio : public twin::TwinTest {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions o;
		o.programs = {"kx_hwmond"};  // exports the hash-board enable lines 50, 51, 106, 107
		return o;
	}
	std::string run(const std::string &args) { return twin().shell(std::string(SOC_GPIO_TOOL) + " " + args).out; }
};

TEST_F(SocGpio, RequestModesDecideWhoUnexports)
{
	ASSERT_TRUE(twin().wait_log("kx_hb_init init gpios.", 10000));
	// A line nobody exported is exported for the request and unexported on free.
	EXPECT_EQ(run("60 shared 1"), "direction 0 1 level 0 1 shared 0\nfree 0\n");
	EXPECT_EQ(writes_of(twin(), 60), (std::vector<std::string>{"export=60", "direction=out", "value=1", "unexport=60"}));
	EXPECT_FALSE(twin().file_exists("/sys/class/gpio/gpio60"));
	// A line exported by someone else stays exported in shared mode, is refused in weak mode and
	// unexported after a greedy request.
	EXPECT_EQ(run("50 shared 1"), "direction 0 1 level 0 1 shared 1\nfree 0\n");
	EXPECT_EQ(twin().read_file("/sys/class/gpio/gpio50/value").substr(0, 1), "1");
	EXPECT_EQ(run("50 weak 0"), "request failed\n");
	EXPECT_EQ(run("50 greedy 0"), "direction 0 1 level 0 0 shared 0\nfree 0\n");
	EXPECT_FALSE(twin().file_exists("/sys/class/gpio/gpio50"));
	// The line GPIO -1 of an unknown connector cannot be had.
	EXPECT_EQ(run("-1 shared 1"), "request failed\n");
}

}  // namespace
