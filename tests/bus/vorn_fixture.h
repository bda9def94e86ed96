// Test fixture: a private bus with the real daemon, and helpers to run the
// test service on it.
#pragma once

// GoogleTest first: the platform's libubox defines a __constructor macro that
// would rewrite a parameter name in the C++ runtime's headers.
#include <gtest/gtest.h>

#include "bus_sandbox.h"
#include "vorn.h"

#include <chrono>
#include <memory>
#include <string>

using clock_type = std::chrono::steady_clock;

inline long elapsed_ms(clock_type::time_point since)
{
	return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - since).count();
}

class BusTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string why;
		ASSERT_TRUE(bus_test::enter_private_run(&why)) << why;
		if (start_daemon_in_setup) {
			ASSERT_TRUE(daemon.start());
		}
	}

	void TearDown() override
	{
		services.clear();
		daemon.stop();
	}

	// Starts the test service under `name` and waits until it is on the bus.
	void start_service(const std::string &name, bool with_callback = true)
	{
		std::vector<std::string> argv = {bus_test::test_service_path(), name};
		if (!with_callback)
			argv.push_back("--no-cb");
		services.push_back(std::make_unique<bus_test::Process>(argv));
		ASSERT_TRUE(bus_test::wait_for_object(name)) << name << " did not register";
	}

	bool start_daemon_in_setup = true;
	bus_test::Daemon daemon;
	std::vector<std::unique_ptr<bus_test::Process>> services;
};
