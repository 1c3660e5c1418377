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
static_assert(sizeof(QuarryPlatform) == 14 * sizeof(void (*)()), "sweep the new platform call");

const std::vector<SweepEntry> kTable = {
    {"load the Vulkan loader", {{Fault::nullOut, "vulkan_init_failed"}}},
    {"write the document", {{Fault::errorCode, kWriteFailed}}},
    {"open the null device", {{Fault::errorCode, "null_device_unavailable"}}},
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

void twoDevices() {
  fake_vulkan::Device a = fake_vulkan::device("GPU \"A\"", 4318, 1);
  a.luidValid = VK_TRUE;
  a.luid[0] = 0x2a;
  std::strcpy(a.driverName, "driver");
  std::strcpy(a.driverInfo, "info");
  fake_vulkan::model().devices = {a, fake_vulkan::device("B", 32902, 2)};
}

const Baselines kBaselines = {{"two_devices", twoDevices}};

SweepRun runBaseline(const std::string& baseline, const SweepCase* armed) {
  return runSweepCase(kBaselines, baseline, armed, fake_vulkan::reset,
                      [] { return runQuarry(fake_vulkan::platform()); });
}

SeenCalls seenCalls() { return seenByBaseline(kBaselines, runBaseline); }

TEST(QuarrySweep, TheTableNamesEveryCall) { expectTableCoversCalls(seenCalls(), kTable); }

class QuarrySweepTest : public testing::TestWithParam<SweepCase> {};

TEST_P(QuarrySweepTest, EndsInOneDocumentAndDestroysTheInstanceOnce) {
  const SweepRun run = runBaseline(GetParam().baseline, &GetParam());
  expectOutcome(run.out, run.err, run.exitCode, GetParam().expected);
  const fake_vulkan::Model& m = fake_vulkan::model();
  EXPECT_EQ(m.liveInstances, 0);
  const auto destroyed = std::count(m.calls.begin(), m.calls.end(), "vkDestroyInstance");
  const bool created = GetParam().expected != std::string("vulkan_init_failed") &&
                       GetParam().expected != std::string("null_device_unavailable");
  EXPECT_EQ(destroyed, created ? 1 : 0);
  if (run.exitCode == 0) {
    EXPECT_EQ(m.stdoutAtDestroy, 0) << "the instance must be gone before printing";
  } else if (created) {
    EXPECT_EQ(m.stdoutAtDestroy, static_cast<long>(run.out.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, QuarrySweepTest,
                         testing::ValuesIn(generateSweep(seenCalls(), kTable)),
                         sweepCaseName);

}  // namespace
