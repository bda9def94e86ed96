// A sanitizer report written by any process inside the twin fails the scenario, even when the scenario passed.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "twin.h"

namespace {

std::unique_ptr<twin::Twin> g_twin;  // static: the failure check below takes no locals

TEST(SanitizerReports, AReportLeftInTheTwinFailsTheScenarioAndKeepsItsRunDir) {
  g_twin = twin::Twin::boot();
  std::string run = g_twin->run_dir();
  ASSERT_EQ(g_twin->shell("echo '==7==ERROR: AddressSanitizer: heap-buffer-overflow' > /run/kxsim/logs/sanitizer.7")
                .status,
            0);
  EXPECT_NONFATAL_FAILURE(g_twin.reset(), "heap-buffer-overflow");
  EXPECT_TRUE(std::filesystem::exists(run + "/share/logs/sanitizer.7"));
  std::filesystem::remove_all(run);

  // Without a report the run dir goes with the twin.
  g_twin = twin::Twin::boot();
  run = g_twin->run_dir();
  g_twin.reset();
  EXPECT_FALSE(std::filesystem::exists(run));
}

}  // namespace
