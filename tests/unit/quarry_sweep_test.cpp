// quarry's fault sweep: every Vulkan call of a two-device run fails in each way it can.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fake_vulkan.h"
#include "quarry_run.h"
#include "sweep_support.h"

namespace {

using faults::Fault;

static_assert(sizeof(VulkanApi) == 5 * sizeof(void (*)()), "sweep the new Vulkan entry point");

const std::vector<SweepEntry> kTable = {
    // Failing the first creation only takes the 1.1 fallback.
    {"vkCreateInstance", {{Fault::errorCode, "vulkan_init_failed", kResult}}},
    {"vkEnumeratePhysicalDevices count",
     {{Fault::errorCode, "vulkan_enum_failed"},
      {Fault::successCode, "vulkan_enum_failed"},
      {Fault::zeroCount, kResult}}},
    {"vkEnumeratePhysicalDevices list",
     {{Fault::errorCode, "vulkan_enum_failed"},
      {Fault::successCode, kResult},
      {Fault::shrinkCount, kResult}}},
    {"vkGetPhysicalDeviceProperties", {{Fault::unterminated, kResult}}},
    {"vkGetPhysicalDeviceProperties2", {{Fault::unterminated, kResult}}},
};

struct SweepRun {
  std::string out;
  std::string err;
  int exitCode = -1;
};

SweepRun runBaseline(const SweepCase* armed) {
  fake_vulkan::reset();
  fake_vulkan::Device a = fake_vulkan::device("GPU \"A\"", 4318, 1);
  a.luidValid = VK_TRUE;
  a.luid[0] = 0x2a;
  std::strcpy(a.driverName, "driver");
  std::strcpy(a.driverInfo, "info");
  fake_vulkan::model().devices = {a, fake_vulkan::device("B", 32902, 2)};
  faults::disarm();
  if (armed != nullptr) faults::arm(armed->call, armed->fault, armed->occurrence);
  SweepRun run;
  testing::internal::CaptureStderr();
  run.out = captureStdout([&] { run.exitCode = runQuarry(fake_vulkan::api()); });
  run.err = testing::internal::GetCapturedStderr();
  return run;
}

std::vector<std::pair<std::string, std::vector<std::string>>> seenByBaseline() {
  const SweepRun run = runBaseline(nullptr);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  return {{"two_devices", faults::seen()}};
}

TEST(QuarrySweep, TheTableNamesEveryCall) { expectTableCoversCalls(seenByBaseline(), kTable); }

class QuarrySweepTest : public testing::TestWithParam<SweepCase> {};

TEST_P(QuarrySweepTest, EndsInOneDocumentAndDestroysTheInstanceOnce) {
  const SweepRun run = runBaseline(&GetParam());
  expectOutcome(run.out, run.err, run.exitCode, GetParam().expected);
  const fake_vulkan::Model& m = fake_vulkan::model();
  EXPECT_EQ(m.liveInstances, 0);
  const auto destroyed = std::count(m.calls.begin(), m.calls.end(), "vkDestroyInstance");
  const bool created = GetParam().expected != std::string("vulkan_init_failed");
  EXPECT_EQ(destroyed, created ? 1 : 0);
  if (run.exitCode == 0) {
    EXPECT_EQ(m.stdoutAtDestroy, 0) << "the instance must be gone before printing";
  } else if (created) {
    EXPECT_EQ(m.stdoutAtDestroy, static_cast<long>(run.out.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, QuarrySweepTest,
                         testing::ValuesIn(generateSweep(seenByBaseline(), kTable)),
                         sweepCaseName);

}  // namespace
