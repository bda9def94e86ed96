// Keys "leds.all", "led.blue", "led.red", "leds.flash" and "leds", and the LED threads.
#include "leds.h"

#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include <json_access.h>
#include <vorn_envelope.h>

#include "handlers.h"
#include "hwmond_log.h"
#include "hwmond_state.h"
#include "power_fans.h"
#include "reply.h"
#include "sysfs_io.h"

namespace hwmond {

using namespace kx_json;

namespace {

constexpr unsigned kFlashHalfPeriodUs = 500000;
constexpr unsigned kLedThreadHalfPeriodUs = 1000000;

constexpr const char *kLedsAllTemplate =
	"{\"code\":0, \"error\":\"ok\",    \"body\":{        \"leds\":{"
	"            \"leds.blue\": \"%d\",            \"leds.red\": \"%d\"        }    }    }";

constexpr const char *kLedsTemplate =
	"{\"code\":0, \"error\":\"ok\",    \"body\":{"
	"        \"leds_blue\": \"%d\",        \"leds_red\": \"%d\","
	"        \"leds_flash\": \"%d\",        \"leds_time\": \"%d\"    }    }";

const gpio_line &led_gpio(int index) { return hw().leds[(size_t)index].gpio; }

// A blink on a thread that cannot reach its GPIO still takes its time, so that a
// stop-polling loop never spins.
void blink_or_wait(int index, int count, unsigned half_period_us)
{
	if (led_blink(index, count, half_period_us) < 0)
		usleep(2 * half_period_us * (unsigned)count);
}

void flash_both(int mode, int count)
{
	flash_record &flash = hw().flash;
	if (gpio_direction_out(led_gpio(kLedBlue).direction_path) < 0)
		return;
	gpio_value blue(led_gpio(kLedBlue).value_path);
	if (!blue.ok())
		return;
	if (gpio_direction_out(led_gpio(kLedRed).direction_path) < 0)
		return;
	gpio_value red(led_gpio(kLedRed).value_path);
	if (!red.ok())
		return;
	for (int done = 0; flash_cycle_continues(count, done, flash.stop.load()); done++) {
		blue.put('0');
		red.put(mode == 1 ? '0' : '1');
		usleep(kFlashHalfPeriodUs);
		blue.put('1');
		red.put(mode == 1 ? '1' : '0');
		usleep(kFlashHalfPeriodUs);
	}
	blue.put('0');
	red.put('0');
}

void flash_one(int blinking, int held, int held_value, int count)
{
	flash_record &flash = hw().flash;
	if (count > 0) {
		led_blink(blinking, count, kFlashHalfPeriodUs);
		return;
	}
	led_set(held, held_value != 0 ? 1 : 0);
	while (flash.stop.load() == 0)
		blink_or_wait(blinking, 1, kFlashHalfPeriodUs);
}

void *led_flash_thread(void *)
{
	flash_record &flash = hw().flash;
	out_now("led_flash_thread enter.\n");
	int mode = flash.mode.load();
	int count = flash.count.load();
	if (count >= 0) {
		if (mode == 1 || mode == 2)
			flash_both(mode, count);
		else if (mode == 3)
			flash_one(kLedBlue, kLedRed, flash.red.load(), count);
		else if (mode == 4)
			flash_one(kLedRed, kLedBlue, flash.blue.load(), count);
	}
	flash.mode = 0;
	led_set(kLedBlue, flash.blue.load() != 0 ? 1 : 0);
	led_set(kLedRed, flash.red.load() != 0 ? 1 : 0);
	out_now("led_flash_thread exit.\n");
	flash.active = 0;
	return nullptr;
}

void *led_thread(void *)
{
	led_thread_record &rec = hw().led_thread;
	out_now("led_thread enter.\n");
	while (rec.stop.load() == 0) {
		blink_or_wait(kLedBlue, 1, kLedThreadHalfPeriodUs);
		blink_or_wait(kLedRed, 1, kLedThreadHalfPeriodUs);
	}
	out_now("led_thread exit.\n");
	return nullptr;
}

// Joins a thread that was started and not yet reclaimed; only the bus thread calls it.
void reclaim(pthread_t &thread, bool &joinable)
{
	if (joinable) {
		pthread_join(thread, nullptr);
		joinable = false;
	}
}

void start_led_thread()
{
	led_thread_record &rec = hw().led_thread;
	if (rec.running.load() != 0) {
		out("led thread is already running.\n");
		return;
	}
	// A stopped thread may still be finishing its cycle: wait for it, so that one runs at a time.
	reclaim(rec.thread, rec.joinable);
	rec.mode = 7;
	rec.stop = 0;
	rec.running = 1;
	if (pthread_create(&rec.thread, nullptr, led_thread, nullptr) != 0) {
		rec.running = 0;
		out("led thread create failed.\n");
		return;
	}
	rec.joinable = true;
	out("led thread created.\n");
}

void stop_led_thread()
{
	led_thread_record &rec = hw().led_thread;
	if (rec.running.load() == 0) {
		out("led thread is not running.\n");
		return;
	}
	rec.stop = 1;
	rec.running = 0;
	out("led thread send done event.\n");
}

int set_led_key(const json_t *request, char *resp, int size, int index, const char *colour)
{
	static const char *refusal = VORN_REFUSAL("leds");
	json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("hwmond_set_led JSON invalid body.\n");
		return reply_fixed(resp, size, refusal);
	}
	json_t *leds = member_object(body, "leds");
	if (leds == nullptr) {
		out("hwmond_set_led JSON invalid leds.\n");
		return reply_fixed(resp, size, refusal);
	}
	const char *text = member_string(leds, colour);
	if (text == nullptr) {
		out("hwmond_set_led JSON invalid led value.\n");
		return reply_fixed(resp, size, refusal);
	}
	out("hwmond_set_led led %d %s.\n", index, text);
	if (strcmp(text, "1") != 0 && strcmp(text, "0") != 0) {
		out("hwmond_set_led invalid operation %s.\n", text);
		return reply_fixed(resp, size, refusal);
	}
	led_set_text(index, text);
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

}  // namespace

int led_set(int index, int value)
{
	const gpio_line &gpio = led_gpio(index);
	if (gpio_direction_out(gpio.direction_path) < 0)
		return -1;
	gpio_value line(gpio.value_path);
	if (!line.ok())
		return -2;
	hw().leds[(size_t)index].last_value = value;
	line.put(value != 0 ? '1' : '0');
	return 0;
}

int led_set_text(int index, const char *text)
{
	if (strcmp(text, "1") == 0)
		led_set(index, 1);
	else if (strcmp(text, "0") == 0)
		led_set(index, 0);
	return 0;
}

int led_blink(int index, int count, unsigned half_period_us)
{
	const gpio_line &gpio = led_gpio(index);
	if (gpio_direction_out(gpio.direction_path) < 0)
		return -1;
	gpio_value line(gpio.value_path);
	if (!line.ok())
		return -2;
	for (int i = 0; i < count; i++) {
		line.put('0');
		usleep(half_period_us);
		line.put('1');
		usleep(half_period_us);
	}
	line.put('0');
	return 0;
}

bool flash_mode_plan(int mode, blink_plan *plan)
{
	constexpr unsigned fast = 100000, slow = 1000000;
	switch (mode) {
	case 1: *plan = {{{{kLedBlue, 50, fast}, {}}}, 1}; return true;
	case 2: *plan = {{{{kLedBlue, 10, slow}, {}}}, 1}; return true;
	case 3: *plan = {{{{kLedRed, 50, fast}, {}}}, 1}; return true;
	case 4: *plan = {{{{kLedRed, 10, slow}, {}}}, 1}; return true;
	case 5: *plan = {{{{kLedBlue, 5, slow}, {kLedRed, 5, slow}}}, 2}; return true;
	case 6: *plan = {{{{kLedRed, 5, slow}, {kLedBlue, 5, slow}}}, 2}; return true;
	default: return false;
	}
}

int hwmond_get_leds_all(const json_t *, char *resp, int size)
{
	return reply_compacted(resp, size, kLedsAllTemplate, hw().leds[0].last_value.load(),
			       hw().leds[1].last_value.load());
}

int hwmond_set_led_blue(const json_t *request, char *resp, int size)
{
	return set_led_key(request, resp, size, kLedBlue, "blue");
}

int hwmond_set_led_red(const json_t *request, char *resp, int size)
{
	return set_led_key(request, resp, size, kLedRed, "red");
}

int hwmond_set_leds_flash(const json_t *request, char *resp, int size)
{
	static const char *refusal = VORN_REFUSAL("leds flash");
	json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("hwmond_set_leds_flash JSON invalid body.\n");
		return reply_fixed(resp, size, refusal);
	}
	json_t *flash = member_object(body, "leds_flash");
	if (flash == nullptr) {
		out("hwmond_set_leds_flash JSON invalid leds.\n");
		return reply_fixed(resp, size, refusal);
	}
	const char *mode_text = member_string(flash, "led_mode");
	if (mode_text == nullptr) {
		out("hwmond_set_leds_flash JSON invalid led_mode value.\n");
		return reply_fixed(resp, size, refusal);
	}
	int mode = leading_int(mode_text);
	if (mode < 1 || mode > 8) {
		out("hwmond_set_leds_flash JSON invalid led_mode.\n");
		return reply_fixed(resp, size, refusal);
	}
	blink_plan plan{};
	if (flash_mode_plan(mode, &plan)) {
		for (int i = 0; i < plan.step_count; i++)
			led_blink(plan.steps[(size_t)i].led, plan.steps[(size_t)i].count,
				  plan.steps[(size_t)i].half_period_us);
	} else if (mode == 7) {
		start_led_thread();
	} else {
		stop_led_thread();
	}
	out("hwmond_set_leds_flash mode %d finish.\n", mode);
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

int hwmond_get_leds(const json_t *, char *resp, int size)
{
	const flash_record &flash = hw().flash;
	return reply_compacted(resp, size, kLedsTemplate, hw().leds[0].last_value.load(),
			       hw().leds[1].last_value.load(), flash.mode.load(), flash.count.load());
}

int hwmond_set_leds(const json_t *request, char *resp, int size)
{
	static const char *refusal = VORN_REFUSAL("leds");
	json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("hwmond_set_leds JSON invalid body.\n");
		return reply_fixed(resp, size, refusal);
	}
	int blue = 0, red = 0, mode = 0, count = 0;
	if (!member_int(body, "leds_blue", &blue)) {
		out("hwmond_set_leds JSON invalid leds_blue.\n");
		return reply_fixed(resp, size, refusal);
	}
	if (!member_int(body, "leds_red", &red)) {
		out("hwmond_set_leds JSON invalid leds_red.\n");
		return reply_fixed(resp, size, refusal);
	}
	if (!member_int(body, "leds_flash", &mode)) {
		out("hwmond_set_leds JSON invalid leds_flash.\n");
		return reply_fixed(resp, size, refusal);
	}
	if (!member_int(body, "leds_time", &count)) {
		out("hwmond_set_leds JSON invalid leds_time.\n");
		return reply_fixed(resp, size, refusal);
	}
	flash_record &flash = hw().flash;
	if (flash.active.load() == 0) {
		reclaim(flash.thread, flash.joinable);  // a thread that ended on its own
		flash.blue = blue;
		flash.red = red;
		flash.mode = mode;
		flash.count = count;
		flash.stop = 0;
		flash.active = 1;
		if (pthread_create(&flash.thread, nullptr, led_flash_thread, nullptr) != 0) {
			flash.active = 0;
			out("leds flash thread create failed.\n");
			return reply_fixed(resp, size, refusal);
		}
		flash.joinable = true;
		out("led flash thread created.\n");
		return reply_fixed(resp, size, VORN_REPLY_OK);
	}
	if (mode != 0) {
		out("leds flash thread is already created and running, skip.\n");
		return reply_fixed(resp, size, VORN_REPLY_OK);
	}
	flash.stop = 1;
	reclaim(flash.thread, flash.joinable);
	out("wait leds flash thread exit.\n");
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

}  // namespace hwmond
