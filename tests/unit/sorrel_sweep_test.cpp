// sorrel's fault sweep: every platform call of a baseline run fails in each way it can. Once
// the factory is there, nothing fails the run.

#include <algorithm>
#include <string>
#include <vector>

#include "fake_sorrel_platform.h"
#include "sorrel_run.h"
#include "sweep_support.h"

namespace {

using faults::Fault;

static_assert(sizeof(SorrelPlatform) == 27 * sizeof(void (*)()), "sweep the new platform call");

const std::vector<SweepEntry> kTable = {
    {"write the document", {{Fault::errorCode, kWriteFailed}}},
    {"open the null device", {{Fault::errorCode, "null_device_unavailable"}}},
    {"CreateDXGIFactory1", {{Fault::errorCode, "dxgi_failed"}, {Fault::nullOut, "dxgi_failed"}}},
    {"QueryInterface IDXGIFactory6", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"EnumAdapters1", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"GetDesc1", {{Fault::errorCode, kResult}}},
    {"EnumOutputs", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"QueryInterface IDXGIAdapter3", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"QueryVideoMemoryInfo", {{Fault::errorCode, kResult}}},
    {"CheckInterfaceSupport", {{Fault::errorCode, kResult}}},
    {"EnumAdapterByGpuPreference", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"SetupDiGetClassDevsW", {{Fault::errorCode, kResult}}},
    {"SetupDiEnumDeviceInfo", {{Fault::errorCode, kResult}}},
    {"SetupDiGetDevicePropertyW", {{Fault::errorCode, kResult}}},
    {"PdhOpenQueryW", {{Fault::errorCode, kResult}}},
    {"PdhAddEnglishCounterW", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"PdhCollectQueryData", {{Fault::errorCode, kResult}}},
    {"PdhGetFormattedCounterArrayW size", {{Fault::errorCode, kResult}}},
    {"PdhGetFormattedCounterArrayW data", {{Fault::errorCode, kResult}, {Fault::zeroCount, kResult}}},
};

void twoAdapters() {
  fake_sorrel::Adapter first;
  first.luidLowPart = 1;
  first.outputs = 2;
  fake_sorrel::Adapter second;
  second.luidLowPart = 2;
  fake_sorrel::World& w = fake_sorrel::world();
  w.adapters = {first, second};
  w.highPerformance = {1, 0};
  w.minimumPower = {0, 1};
  fake_sorrel::Device device;
  device.luid = 2;
  w.devices = {device};
  w.dedicatedUsage = {{u"luid_0x00000000_0x00000001_phys_0", 5}};
  w.sharedUsage = {{u"luid_0x00000000_0x00000002_phys_0", 6}};
}

const Baselines kBaselines = {{"two adapters", twoAdapters}};

SweepRun runBaseline(const std::string& baseline, const SweepCase* armed) {
  return runSweepCase(kBaselines, baseline, armed, fake_sorrel::reset,
                      [] { return runSorrel(fake_sorrel::platform()); });
}

SeenCalls seenCalls() { return seenByBaseline(kBaselines, runBaseline); }

TEST(SorrelSweep, TheTableNamesEveryCall) { expectTableCoversCalls(seenCalls(), kTable); }

class SorrelSweepTest : public testing::TestWithParam<SweepCase> {};

TEST_P(SorrelSweepTest, EndsInOneDocumentAndReleasesEverythingOnce) {
  const SweepRun run = runBaseline(GetParam().baseline, &GetParam());
  expectOutcome(run.out, run.err, run.exitCode, GetParam().expected);
  const auto& acquired = fake_sorrel::world().acquired;
  const auto& released = fake_sorrel::world().released;
  for (const std::string& object : acquired) {
    EXPECT_EQ(std::count(released.begin(), released.end(), object), 1) << object;
  }
  EXPECT_EQ(released.size(), acquired.size()) << "released what it did not hold";
  // The factories go before SetupAPI and PDH are asked.
  const auto factory = std::find(released.begin(), released.end(), "factory#1");
  if (factory != released.end()) {
    EXPECT_TRUE(std::none_of(released.begin(), factory, [](const std::string& o) {
      return o.rfind("devices", 0) == 0 || o.rfind("query", 0) == 0;
    }));
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, SorrelSweepTest,
                         testing::ValuesIn(generateSweep(seenCalls(), kTable)), sweepCaseName);

}  // namespace
