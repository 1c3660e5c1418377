// fennel's fault sweep: every platform call of two baseline runs fails in each way it can.

#include <algorithm>
#include <string>
#include <vector>

#include "fake_fennel_platform.h"
#include "fennel_run.h"
#include "sweep_support.h"

namespace {

using faults::Fault;

static_assert(sizeof(FennelPlatform) == 22 * sizeof(void (*)()), "sweep the new platform call");

const std::vector<SweepEntry> kTable = {
    {"write the document", {{Fault::errorCode, kWriteFailed}}},
    {"open the null device", {{Fault::errorCode, "null_device_unavailable"}}},
    {"CoInitializeEx", {{Fault::errorCode, "com_init_failed"}, {Fault::successCode, kResult}}},
    {"CreateDXGIFactory1 IDXGIFactory4", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"CreateDXGIFactory1 IDXGIFactory1",
     {{Fault::errorCode, "dxgi_failed"}, {Fault::nullOut, "dxgi_failed"}}},
    {"EnumAdapters1", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"GetDesc1", {{Fault::errorCode, kResult}, {Fault::unterminated, kResult}}},
    {"LoadLibraryExW dxcore.dll", {{Fault::nullOut, kResult}}},
    {"GetProcAddress DXCoreCreateAdapterFactory", {{Fault::nullOut, kResult}}},
    {"DXCoreCreateAdapterFactory", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"GetAdapterByLuid", {{Fault::errorCode, kResult}, {Fault::nullOut, kResult}}},
    {"IsPropertySupported", {{Fault::errorCode, kResult}}},
    {"GetProperty", {{Fault::errorCode, kResult}}},
    {"WideCharToMultiByte size", {{Fault::zeroCount, kResult}}},
    {"WideCharToMultiByte convert", {{Fault::errorCode, kResult}}},
};

fake_fennel::Adapter adapter(const char16_t* name, std::uint32_t luid, std::uint32_t flags = 0) {
  fake_fennel::Adapter a;
  a.name = name;
  a.luidLowPart = luid;
  a.flags = flags;
  a.integratedByte = 1;
  return a;
}

void dxcoreBaseline() {
  fake_fennel::world().dxcorePresent = true;
  fake_fennel::Adapter unknown = adapter(u"Unknown \u00e9", 3);
  unknown.knownToDxcore = false;
  fake_fennel::world().adapters = {adapter(u"Known", 1), adapter(u"WARP", 2, 2), unknown};
}

void fallbackBaseline() {
  fake_fennel::world().factory4Result = static_cast<HResult>(0x80004002u);
  fake_fennel::world().adapters = {adapter(u"Only", 1)};
}

const Baselines kBaselines = {{"dxcore", dxcoreBaseline}, {"fallback", fallbackBaseline}};

SweepRun runBaseline(const std::string& baseline, const SweepCase* armed) {
  return runSweepCase(kBaselines, baseline, armed, fake_fennel::reset,
                      [] { return runFennel(fake_fennel::platform()); });
}

SeenCalls seenCalls() { return seenByBaseline(kBaselines, runBaseline); }

TEST(FennelSweep, TheTableNamesEveryCall) { expectTableCoversCalls(seenCalls(), kTable); }

std::ptrdiff_t position(const std::vector<std::string>& list, const std::string& item) {
  const auto it = std::find(list.begin(), list.end(), item);
  return it == list.end() ? -1 : it - list.begin();
}

class FennelSweepTest : public testing::TestWithParam<SweepCase> {};

TEST_P(FennelSweepTest, EndsInOneDocumentAndReleasesEverythingOnce) {
  const SweepRun run = runBaseline(GetParam().baseline, &GetParam());
  expectOutcome(run.out, run.err, run.exitCode, GetParam().expected);
  const auto& acquired = fake_fennel::world().acquired;
  const auto& released = fake_fennel::world().released;
  for (const std::string& object : acquired) {
    EXPECT_EQ(std::count(released.begin(), released.end(), object), 1) << object;
  }
  for (const std::string& object : released) {
    EXPECT_EQ(std::count(acquired.begin(), acquired.end(), object), 1) << "not held: " << object;
  }
  // DXGI goes before COM; a DXCore that was created outlives both, its factory before its
  // library. A failed creation unloads the library at once.
  std::vector<std::string> order = {"DXGI factory", "COM"};
  if (position(acquired, "DXCore factory") >= 0) {
    order.insert(order.end(), {"DXCore factory", "dxcore.dll"});
  } else if (position(acquired, "dxcore.dll") >= 0) {
    EXPECT_EQ(position(released, "dxcore.dll"), 0) << "unloaded before anything else";
  }
  std::ptrdiff_t last = -1;
  for (const std::string& object : order) {
    const std::ptrdiff_t at = position(released, object);
    if (at < 0) continue;
    EXPECT_GT(at, last) << object << " released out of order";
    last = at;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FennelSweepTest,
                         testing::ValuesIn(generateSweep(seenCalls(), kTable)),
                         sweepCaseName);

}  // namespace
