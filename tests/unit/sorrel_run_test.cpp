// sorrel's whole run against fake DXGI, SetupAPI and PDH: each query that fails empties its
// own fields only.

#include "sorrel_run.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake_sorrel_platform.h"
#include "memory_counters.h"
#include "sorrel_document.h"
#include "test_support.h"

namespace {

using fake_sorrel::Adapter;
using fake_sorrel::Counter;
using fake_sorrel::Device;
using nlohmann::json;

struct RunResult {
  std::string out;
  int exitCode;
};

RunResult run() {
  RunResult r{};
  const SorrelPlatform platform = fake_sorrel::platform();
  r.out = captureStdout([&] { r.exitCode = runSorrel(platform); });
  expectGuardedRun(r.exitCode);
  return r;
}

Adapter adapter(std::uint32_t low, std::int32_t high, std::uint32_t flags = 0) {
  Adapter a;
  a.luidLowPart = low;
  a.luidHighPart = high;
  a.flags = flags;
  return a;
}

// Two hardware adapters with a software one between them; Windows prefers the last for
// performance and the first for power. Each answers every query.
void baseline() {
  fake_sorrel::World& w = fake_sorrel::world();
  Adapter first = adapter(0x10, 0);
  first.dedicatedSystemMemory = 0;
  first.sharedSystemMemory = 16ull << 30;
  first.outputs = 2;
  first.localBudget = 1ull << 30;
  first.nonLocalBudget = 8ull << 30;
  first.version = 0x001F000F0010ABCDull;
  Adapter last = adapter(0xFFFFFFFFu, -1);
  last.dedicatedSystemMemory = 512ull << 20;
  last.sharedSystemMemory = 8ull << 30;
  last.localBudget = 11ull << 30;
  last.nonLocalBudget = 0;
  last.version = 0xFFFF000000000001ull;
  w.adapters = {first, adapter(0x20, 0, kAdapterFlagSoftware), last};
  w.highPerformance = {2, 1, 0};
  w.minimumPower = {1, 0, 2};
  Device noLuid;
  noLuid.hasLuid = false;
  Device lastDevice;
  lastDevice.luid = 0xFFFFFFFFFFFFFFFFull;
  lastDevice.bus = 1;
  lastDevice.address = 0;
  Device firstDevice;
  firstDevice.luid = 0x10;
  firstDevice.bus = 0;
  firstDevice.address = 0x00020001u;
  w.devices = {lastDevice, noLuid, firstDevice};
  w.dedicatedUsage = {
      {u"luid_0x00000000_0x00000010_phys_0", 100},
      {u"luid_0x00000000_0x00000010_phys_1", 50},     // several instances of one LUID: summed
      {u"luid_0xFFFFFFFF_0xffffffff_phys_0", 7},      // either case of hexadecimal digits
      {u"luid_0x00000000_0x00000099_phys_0", 1000},   // another LUID
      {u"luid_0x0000000_0x000000010_phys_0", 1000},   // seven and nine digits
      {u"luid_0x00000000_0x00000010", 1000},          // no phys
      {u"luid_0x00000000_0x00000010_phys_", 1000},    // no number
      {u"luid_0x00000000_0x00000010_phys_0x", 1000},  // more behind the number
      {u"luid_0x00000000_0x0000001G_phys_0", 1000},   // not hexadecimal
      {u"Luid_0x00000000_0x00000010_phys_0", 1000},
      {u"luid_0x00000000_0x00000010_phys_2", 1000, 0xC0000BC6u},  // PDH_CSTATUS_INVALID_DATA
      {u"luid_0x00000000_0x00000010_phys_3", -1},
  };
  w.sharedUsage = {{u"luid_0x00000000_0x00000010_phys_0", 3}};  // none for the last adapter
}

const std::string kFirst =
    R"({"luidLowPart":16,"luidHighPart":0,"dxgiOrdinal":0,"highPerformanceRank":1,)"
    R"("minimumPowerRank":0,"outputs":2,"dedicatedSystemMemory":0,)"
    R"("sharedSystemMemory":17179869184,"localBudget":1073741824,"nonLocalBudget":8589934592,)"
    R"("dedicatedUsage":150,"sharedUsage":3,"pciBus":0,"pciDevice":2,"pciFunction":1,)"
    R"("driverVersion":"31.15.16.43981"})";
const std::string kLast =
    R"({"luidLowPart":4294967295,"luidHighPart":-1,"dxgiOrdinal":2,"highPerformanceRank":0,)"
    R"("minimumPowerRank":1,"outputs":0,"dedicatedSystemMemory":536870912,)"
    R"("sharedSystemMemory":8589934592,"localBudget":11811160064,"nonLocalBudget":0,)"
    R"("dedicatedUsage":7,"sharedUsage":null,"pciBus":1,"pciDevice":0,"pciFunction":0,)"
    R"("driverVersion":"65535.0.0.1"})";

TEST(SorrelRun, PrintsWhereEachHardwareAdapterSitsByteForByte) {
  fake_sorrel::reset();
  baseline();
  const RunResult r = run();
  EXPECT_EQ(r.out, R"({"schema":1,"adapters":[)" + kFirst + "," + kLast + "]}\n");
  EXPECT_EQ(r.exitCode, 0);
}

// A change to the baseline, and what it changes in the two adapters' objects.
struct QueryCase {
  const char* label;
  std::function<void(fake_sorrel::World&)> change;
  json first;  // the keys that change, with their new values; null for an adapter left out
  json last;
};

void PrintTo(const QueryCase& c, std::ostream* os) { *os << c.label; }

class SorrelQueryTest : public testing::TestWithParam<QueryCase> {};

TEST_P(SorrelQueryTest, EmptiesOnlyItsOwnFields) {
  fake_sorrel::reset();
  baseline();
  GetParam().change(fake_sorrel::world());
  const RunResult r = run();
  EXPECT_EQ(r.exitCode, 0);
  json expected = json::array();
  for (const auto& [base, changes] : {std::pair{kFirst, GetParam().first}, {kLast, GetParam().last}}) {
    if (changes.is_null()) continue;
    json adapter = json::parse(base);
    adapter.update(changes);
    expected.push_back(adapter);
  }
  EXPECT_EQ(parseDocument(r.out)["adapters"], expected) << r.out;
}

const json kNoChange = json::object();
const json kNoUsage = {{"dedicatedUsage", nullptr}, {"sharedUsage", nullptr}};
const json kNoLocation = {{"pciBus", nullptr}, {"pciDevice", nullptr}, {"pciFunction", nullptr}};

INSTANTIATE_TEST_SUITE_P(
    Queries, SorrelQueryTest,
    testing::Values(
        QueryCase{"no_factory6", [](auto& w) { w.factory6 = false; },
                  {{"highPerformanceRank", nullptr}, {"minimumPowerRank", nullptr}},
                  {{"highPerformanceRank", nullptr}, {"minimumPowerRank", nullptr}}},
        QueryCase{"preference_order_ends_early", [](auto& w) { w.preferenceFailsAt = 1; },
                  {{"highPerformanceRank", nullptr}, {"minimumPowerRank", nullptr}},
                  {{"minimumPowerRank", nullptr}}},
        QueryCase{"preference_order_leaves_one_out",
                  [](auto& w) { w.highPerformance = {1, 0}; },
                  {{"highPerformanceRank", 0}}, {{"highPerformanceRank", nullptr}}},
        QueryCase{"no_adapter3", [](auto& w) { w.adapters[0].adapter3 = false; },
                  {{"localBudget", nullptr}, {"nonLocalBudget", nullptr}}, kNoChange},
        QueryCase{"non_local_budget_fails",
                  [](auto& w) { w.adapters[2].nonLocalResult = static_cast<HResult>(0x80004005u); },
                  kNoChange, {{"nonLocalBudget", nullptr}}},
        QueryCase{"driver_version_fails",
                  [](auto& w) { w.adapters[0].versionResult = static_cast<HResult>(0x887A0004u); },
                  {{"driverVersion", nullptr}}, kNoChange},
        QueryCase{"no_display_devices", [](auto& w) { w.devicesOpen = false; }, kNoLocation,
                  kNoLocation},
        QueryCase{"address_missing", [](auto& w) { w.devices[2].hasAddress = false; },
                  kNoLocation, kNoChange},
        QueryCase{"bus_missing_on_the_first_of_two_devices",
                  [](auto& w) {
                    w.devices[0].hasBus = false;
                    Device second = w.devices[0];
                    second.hasBus = true;
                    second.bus = 4;
                    w.devices.push_back(second);
                  },
                  kNoChange, {{"pciBus", 4}}},
        QueryCase{"a_second_device_with_the_luid_changes_nothing",
                  [](auto& w) {
                    Device second = w.devices[2];
                    second.bus = 7;
                    second.address = 0x00030000u;
                    w.devices.push_back(second);
                  },
                  kNoChange, kNoChange},
        QueryCase{"luid_of_another_type",
                  [](auto& w) { w.devices[0].luidType = kPropertyTypeUint32; }, kNoChange,
                  kNoLocation},
        QueryCase{"location_of_a_device_on_another_bus",
                  [](auto& w) { w.devices[0].onPci = false; }, kNoChange, kNoLocation},
        QueryCase{"no_counters", [](auto& w) { w.counters = false; }, kNoUsage, kNoUsage},
        QueryCase{"shared_counter_unreadable", [](auto& w) { w.sharedUnreadable = true; },
                  {{"sharedUsage", nullptr}}, kNoChange},
        QueryCase{"instances_came_between_the_calls", [](auto& w) { w.instancesCome = true; },
                  kNoChange, kNoChange},
        QueryCase{"names_outside_the_buffer",
                  [](auto& w) { w.dedicatedUsage[0].nameOutsideBuffer = true; },
                  {{"dedicatedUsage", 50}}, kNoChange},
        QueryCase{"more_items_than_the_buffer_holds",
                  [](auto& w) { w.overstatedItemCount = true; }, kNoUsage, kNoUsage},
        QueryCase{"enumeration_fails_midway", [](auto& w) { w.enumFailsAt = 1; },
                  {{"highPerformanceRank", 0}}, nullptr},
        QueryCase{"unreadable_description_is_left_out",
                  [](auto& w) { w.adapters[0].descResult = static_cast<HResult>(0x80004005u); },
                  nullptr, {{"minimumPowerRank", 0}}}),
    LabelName());

TEST(SorrelRun, NoFactoryIsTheErrorDocument) {
  fake_sorrel::reset();
  baseline();
  fake_sorrel::world().factoryResult = static_cast<HResult>(0x887A0004u);
  const RunResult r = run();
  EXPECT_EQ(r.out,
            "{\"schema\":1,\"error\":{\"code\":\"dxgi_failed\",\"message\":"
            "\"CreateDXGIFactory1 failed: 0x887A0004\"}}\n");
  EXPECT_EQ(r.exitCode, 1);
}

}  // namespace
