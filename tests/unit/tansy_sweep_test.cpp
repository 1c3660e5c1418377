// tansy's fault sweep: every platform call of a baseline run fails in each way it can. Once
// the DXGI factory is there nothing fails the run, and every object is released once.

#include <algorithm>
#include <string>
#include <vector>

#include "fake_tansy_platform.h"
#include "sweep_support.h"
#include "tansy_run.h"

namespace {

using faults::Fault;

static_assert(sizeof(TansyPlatform) == 32 * sizeof(void (*)()), "sweep the new platform call");

const std::vector<FaultOutcome> kPassedOver = {{Fault::errorCode, kResult}};
const std::vector<FaultOutcome> kHandsOut = {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}};

const std::vector<SweepEntry> kTable = {
    {"write the document", {{Fault::errorCode, kWriteFailed}}},
    {"open the null device", {{Fault::errorCode, "null_device_unavailable"}}},
    {"CreateDXGIFactory1", {{Fault::errorCode, "dxgi_failed"}, {Fault::nullOut, "dxgi_failed"}}},
    {"EnumAdapters1", kHandsOut},
    {"GetDesc1", kPassedOver},
    {"D3D11CreateDevice", kHandsOut},
    {"D3D12CreateDevice", kHandsOut},
    {"CheckFeatureSupport FEATURE_LEVELS", kPassedOver},
    {"CheckFeatureSupport SHADER_MODEL", kPassedOver},
    {"CheckFeatureSupport OPTIONS", kPassedOver},
    {"CheckFeatureSupport ARCHITECTURE1", kPassedOver},
    {"CheckFeatureSupport ARCHITECTURE", kPassedOver},
    {"CheckFeatureSupport OPTIONS4", kPassedOver},
    {"CheckFeatureSupport OPTIONS1", kPassedOver},
    {"DXCoreCreateAdapterFactory", kHandsOut},
    {"CreateAdapterList", kHandsOut},
    {"GetAdapterCount", {{Fault::zeroCount, kResult}}},
    {"GetAdapter", kHandsOut},
    {"GetPropertySize", kPassedOver},
    {"GetProperty", kPassedOver},
};

// A hardware adapter, a software one answering only the older architecture query, an NPU in
// two lists and a GPU that the compute list holds too.
void machine() {
  fake_tansy::World& w = fake_tansy::world();
  fake_tansy::Adapter hardware;
  hardware.luidLowPart = 1;
  fake_tansy::Adapter software;
  software.luidLowPart = 2;
  software.flags = kAdapterFlagSoftware;
  software.architecture1 = false;
  w.adapters = {hardware, software};
  fake_tansy::DxcoreAdapter npu;
  npu.luidLowPart = 3;
  npu.name = std::string("NPU\0", 4);
  npu.attributes = fake_tansy::coreCompute | fake_tansy::genericMl | fake_tansy::npu;
  npu.coreResult = kInvalidArgument;
  fake_tansy::DxcoreAdapter gpu;
  gpu.luidLowPart = 1;
  gpu.attributes = fake_tansy::graphics | fake_tansy::coreCompute | fake_tansy::gpu;
  w.dxcoreAdapters = {gpu, npu};
}

const Baselines kBaselines = {{"machine", machine}};

SweepRun runBaseline(const std::string& baseline, const SweepCase* armed) {
  return runSweepCase(kBaselines, baseline, armed, fake_tansy::reset,
                      [] { return runTansy(1, nullptr, fake_tansy::platform()); });
}

SeenCalls seenCalls() { return seenByBaseline(kBaselines, runBaseline); }

TEST(TansySweep, TheTableNamesEveryCall) { expectTableCoversCalls(seenCalls(), kTable); }

class TansySweepTest : public testing::TestWithParam<SweepCase> {};

TEST_P(TansySweepTest, EndsInOneDocumentAndReleasesEverythingOnce) {
  const SweepRun run = runBaseline(GetParam().baseline, &GetParam());
  expectOutcome(run.out, run.err, run.exitCode, GetParam().expected);
  const auto& acquired = fake_tansy::world().acquired;
  const auto& released = fake_tansy::world().released;
  for (const std::string& object : acquired) {
    EXPECT_EQ(std::count(released.begin(), released.end(), object), 1) << object;
  }
  EXPECT_EQ(released.size(), acquired.size()) << "released what it did not hold";
}

INSTANTIATE_TEST_SUITE_P(Faults, TansySweepTest,
                         testing::ValuesIn(generateSweep(seenCalls(), kTable)), sweepCaseName);

}  // namespace
