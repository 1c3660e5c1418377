// The join by LUID on tables of documents, the order and number of children that
// takeInventory runs (and when it stops), what inventory.exe prints, its options, and the
// child's command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <tuple>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "child_process/command_line.h"
#include "gpu_inventory/inventory.h"
#include "gpu_inventory/this_process.h"
#include "preferences/graphics_settings.h"
#include "inventory_output.h"
#include "tool_options.h"

namespace {

using namespace gpu_inventory;

using Json = nlohmann::ordered_json;

constexpr std::uint64_t gib = 1ull << 30;

std::string adapterJson(const char* name, unsigned low, int high, unsigned vendor = 4318, unsigned device = 9,
                        std::uint64_t memory = 8 * gib, bool integrated = false) {
  return "{\"index\":0,\"name\":\"" + std::string(name) + "\",\"vendorId\":" + std::to_string(vendor) +
         ",\"deviceId\":" + std::to_string(device) + ",\"dedicatedVideoMemory\":" + std::to_string(memory) +
         ",\"luidLowPart\":" + std::to_string(low) + ",\"luidHighPart\":" + std::to_string(high) +
         ",\"isIntegratedGpu\":" + (integrated ? "true" : "false") + "}";
}

// One of sorrel's adapters: ranks and usage as JSON ("null" for none), pci as "bus,device,function".
std::string stateJson(unsigned low, int high, const std::string& highRank, const std::string& lowRank,
                      const std::string& usage = "null", const std::string& pci = "null,null,null",
                      unsigned outputs = 1) {
  const std::size_t comma = pci.find(','), last = pci.rfind(',');
  return "{\"luidLowPart\":" + std::to_string(low) + ",\"luidHighPart\":" + std::to_string(high) +
         ",\"dxgiOrdinal\":0,\"highPerformanceRank\":" + highRank + ",\"minimumPowerRank\":" + lowRank +
         ",\"outputs\":" + std::to_string(outputs) +
         ",\"dedicatedSystemMemory\":0,\"sharedSystemMemory\":0,\"localBudget\":1,\"nonLocalBudget\":null,"
         "\"dedicatedUsage\":" + usage + ",\"sharedUsage\":null,\"pciBus\":" + pci.substr(0, comma) +
         ",\"pciDevice\":" + pci.substr(comma + 1, last - comma - 1) + ",\"pciFunction\":" +
         pci.substr(last + 1) + ",\"driverVersion\":\"31.0.101.4502\"}";
}

// tansy's Direct3D 12 object: a device with the level and model, or the failure's HRESULT.
std::string d3d12Json(const std::string& level, const std::string& model) {
  return "{\"result\":\"0x00000000\",\"featureLevel\":\"" + level + "\",\"shaderModel\":\"" + model +
         "\",\"resourceBindingTier\":3,\"uma\":false,\"cacheCoherentUma\":false,\"native16BitShaderOps\":true,"
         "\"waveOps\":true}";
}

std::string d3d12FailedJson(const std::string& result) {
  return "{\"result\":\"" + result + "\",\"featureLevel\":null,\"shaderModel\":null,\"resourceBindingTier\":null,"
         "\"uma\":null,\"cacheCoherentUma\":null,\"native16BitShaderOps\":null,\"waveOps\":null}";
}

// One of tansy's adapters; d3d12 "null" without d3d12.dll.
std::string capabilitiesJson(unsigned low, int high, unsigned ordinal, const std::string& d3d12 = d3d12Json("12_1", "6.6")) {
  return "{\"luidLowPart\":" + std::to_string(low) + ",\"luidHighPart\":" + std::to_string(high) +
         ",\"dxgiOrdinal\":" + std::to_string(ordinal) +
         ",\"software\":false,\"d3d11\":{\"result\":\"0x00000000\",\"featureLevel\":\"11_1\"},\"d3d12\":" + d3d12 + "}";
}

// A compute-only adapter: name may be empty; vendor and d3d12 as JSON ("null" for none).
std::string computeJson(unsigned low, const std::string& name, const std::string& type, const std::string& vendor,
                        const std::string& d3d12) {
  return "{\"luidLowPart\":" + std::to_string(low) + ",\"luidHighPart\":0,\"name\":\"" + name + "\",\"vendorId\":" +
         vendor + ",\"deviceId\":" + (vendor == "null" ? "null" : "32029") + ",\"hardware\":true,\"hardwareType\":" +
         type + ",\"coreCompute\":false,\"genericMl\":true,\"dedicatedAdapterMemory\":0,\"driverVersion\":\"32.0.100.3053\","
         "\"d3d12\":" + d3d12 + "}";
}

std::string tansyJson(const std::vector<std::string>& adapters, const std::vector<std::string>& compute = {},
                      bool dxcore = true) {
  std::string text = std::string("{\"schema\":1,\"dxcoreAvailable\":") + (dxcore ? "true" : "false") + ",\"adapters\":[";
  for (std::size_t i = 0; i < adapters.size(); ++i) text += (i ? "," : "") + adapters[i];
  text += "],\"computeAdapters\":[";
  for (std::size_t i = 0; i < compute.size(); ++i) text += (i ? "," : "") + compute[i];
  return text + "]}";
}

std::string sorrelJson(const std::vector<std::string>& states) {
  std::string text = "{\"schema\":1,\"adapters\":[";
  for (std::size_t i = 0; i < states.size(); ++i) text += (i ? "," : "") + states[i];
  return text + "]}";
}

// driverId: "" for none.
std::string deviceJson(unsigned vkIndex, const char* name, bool valid, unsigned low = 0, int high = 0,
                       const char* driverId = "") {
  return "{\"vkIndex\":" + std::to_string(vkIndex) + ",\"name\":\"" + name +
         "\",\"vendorId\":4318,\"deviceId\":9,\"deviceLuidValid\":" + (valid ? "true" : "false") +
         (valid ? ",\"luidLowPart\":" + std::to_string(low) + ",\"luidHighPart\":" + std::to_string(high) : "") +
         ",\"apiVersion\":\"1.3.0\",\"driverVersionRaw\":1,\"driverVersionFormatted\":\"0.0.1\"" +
         (*driverId ? ",\"driverId\":\"" + std::string(driverId) + "\"" : "") + "}";
}

ChildRun answer(const std::string& document, std::uint32_t exitCode = 0) {
  ChildRun child;
  child.started = true;
  child.exitCode = exitCode;
  child.output = document + "\n";
  return child;
}

ChildRun crashedChild() {
  ChildRun child;
  child.started = true;
  child.exitCode = 0xC0000005u;
  return child;
}

ChildRun timedOutChild() {
  ChildRun child;
  child.started = child.timedOut = true;
  return child;
}

ChildRun notStartedChild() {
  ChildRun child;
  child.startError = 2;
  child.startProblem = "quarry.exe: not found";
  return child;
}

// Two identical adapters (other LUIDs), listed in another order than Vulkan's devices.
const std::string fennelDoc = "{\"schema\":1,\"dxcoreAvailable\":true,\"adapters\":[" +
                              adapterJson("Twin", 20, 0) + "," + adapterJson("Twin", 10, 0) + "," +
                              adapterJson("Other\\nGPU", 30, -1) + "]}";
// Two devices on LUID 20:0 (a translation layer's listed first), one without a valid LUID,
// one on a LUID that no adapter has.
const std::string quarryDoc = "{\"schema\":2,\"devices\":[" + deviceJson(2, "Twin layered", true, 20, 0, "MESA_DOZEN") +
                              "," + deviceJson(1, "Twin B", true, 10, 0) + "," +
                              deviceJson(3, "llvmpipe", false, 0, 0, "MESA_LLVMPIPE") + "," +
                              deviceJson(0, "Twin A", true, 20, 0) + "," + deviceJson(4, "Elsewhere", true, 99, 0) + "]}";
const std::string quarryError = R"({"schema":2,"error":{"code":"vulkan_init_failed","message":"none"}})";
const std::string noMatch =
    R"({"schema":1,"matched":false,"reason":"no_match","platformCount":1,"d3d11SharingPlatforms":0,"luidExtDevices":0})";
const std::string match =
    R"({"schema":1,"matched":true,"selector":"P:GPU:D","platform":"P","device":"D","deviceIndex":1,"method":"luid"})";

std::vector<std::string> names(const std::vector<InventoryVulkanDevice>& devices) {
  std::vector<std::string> result;
  for (const InventoryVulkanDevice& entry : devices) result.push_back(entry.device.name);
  return result;
}

struct JoinCase {
  const char* label;
  std::string fennel;
  std::uint32_t fennelExit;
  std::string quarry;
  std::uint32_t quarryExit;
  std::vector<std::vector<std::string>> perAdapter;  // device names, adapter by adapter
  std::vector<std::string> others;
  OrderSource from;  // with a sorrel run that ranks every adapter of fennelDoc
};

class JoinTest : public testing::TestWithParam<JoinCase> {};

TEST_P(JoinTest, DevicesFollowTheirAdapterByLuid) {
  const JoinCase& c = GetParam();
  FennelRun fennel = readFennelRun(answer(c.fennel, c.fennelExit));
  Inventory inventory = joinInventory(fennel, readQuarryRun(answer(c.quarry, c.quarryExit)),
                                      std::vector<BrindleRun>(fennel.adapters.size()));
  std::vector<std::vector<std::string>> perAdapter;
  for (const AdapterInventory& entry : inventory.adapters) perAdapter.push_back(names(entry.vulkanDevices));
  EXPECT_EQ(perAdapter, c.perAdapter);
  EXPECT_EQ(names(inventory.otherVulkanDevices), c.others);
  EXPECT_EQ(inventory.order.from, OrderSource::rule);  // no sorrel run
  // Windows' order only where Windows ranked a hardware adapter.
  const SorrelRun sorrel = readSorrelRun(answer(sorrelJson({stateJson(20, 0, "0", "2"), stateJson(10, 0, "1", "1"),
                                                            stateJson(30, -1, "2", "0")})));
  inventory = joinInventory(fennel, readQuarryRun(answer(c.quarry, c.quarryExit)),
                            std::vector<BrindleRun>(fennel.adapters.size()), std::nullopt, sorrel);
  EXPECT_EQ(inventory.order.from, c.from);
}

INSTANTIATE_TEST_SUITE_P(Documents, JoinTest, testing::Values(
    JoinCase{"by_luid_in_vkindex_order", fennelDoc, 0, quarryDoc, 0,
             {{"Twin A", "Twin layered"}, {"Twin B"}, {}}, {"llvmpipe", "Elsewhere"}, OrderSource::windows},
    JoinCase{"no_adapters", R"({"schema":1,"dxcoreAvailable":false,"adapters":[]})", 0, quarryDoc, 0,
             {}, {"Twin A", "Twin B", "Twin layered", "llvmpipe", "Elsewhere"}, OrderSource::rule},
    JoinCase{"only_a_software_adapter", "{\"schema\":1,\"dxcoreAvailable\":false,\"adapters\":[" +
             adapterJson("Microsoft Basic Render Driver", 20, 0, 0x1414, 0x8C) + "]}", 0, quarryDoc, 0,
             {{"Twin A", "Twin layered"}}, {"Twin B", "llvmpipe", "Elsewhere"}, OrderSource::rule},
    JoinCase{"fennel_failed_drops_no_device", R"({"schema":1,"error":{"code":"dxgi_failed","message":"x"}})", 1,
             quarryDoc, 0, {}, {"Twin A", "Twin B", "Twin layered", "llvmpipe", "Elsewhere"}, OrderSource::rule},
    JoinCase{"quarry_failed", fennelDoc, 0, quarryError, 1, {{}, {}, {}}, {}, OrderSource::windows}),
    [](const testing::TestParamInfo<JoinCase>& p) { return std::string(p.param.label); });

// An integrated GPU, the Basic Render Driver without the software flag, a small and a large
// discrete GPU. By the rule: high performance 3, 2, 0, 1; minimum power 0, 2, 3, 1.
const std::string orderFennel =
    "{\"schema\":1,\"dxcoreAvailable\":true,\"adapters\":[" +
    adapterJson("Integrated", 10, 0, 0x8086, 1, gib / 2, true) + "," +
    adapterJson("Microsoft Basic Render Driver", 40, 0, 0x1414, 0x8C, 0) + "," +
    adapterJson("Small", 20, 0, 4318, 9, 4 * gib) + "," + adapterJson("Big", 30, 0, 4318, 9, 8 * gib) + "]}";
// Windows ranks them otherwise (high performance 2, 3, 0 then the software one, though it ranks
// second; minimum power 0, 3, 2, 1). Small uses more than it has, WARP's usage is unknown.
const std::string integratedState = stateJson(10, 0, "3", "0", "0", "0,2,0", 1);
const std::string warpState = stateJson(40, 0, "1", "null", "null", "null,null,null", 0);
const std::string smallState = stateJson(20, 0, "0", "2", std::to_string(5 * gib), "1,0,0", 2);
const std::string bigState = stateJson(30, 0, "2", "1", std::to_string(2 * gib), "10,31,7", 0);

struct SorrelJoinCase {
  const char* label;
  std::string sorrel;
  std::uint32_t sorrelExit;
  std::vector<std::string> states;  // each adapter's state as printed; "" for null
  std::vector<std::optional<std::uint64_t>> free;
  std::vector<std::uint32_t> highPerformance, minimumPower;
  const char* from;
  std::vector<std::string> tableLines;  // the start of lines of the table
};

const std::vector<std::uint32_t> ruleHigh = {3, 2, 0, 1}, ruleLow = {0, 2, 3, 1};
const std::string ruleChoice =
    "High performance: Big (30:0); minimum power: Integrated (10:0) (the inventory's rule, not Windows' preference: ";

class SorrelJoinTest : public testing::TestWithParam<SorrelJoinCase> {};

TEST_P(SorrelJoinTest, StateFreeMemoryAndOrder) {
  const SorrelJoinCase& c = GetParam();
  FennelRun fennel = readFennelRun(answer(orderFennel));
  const Inventory inventory = joinInventory(fennel, readQuarryRun(answer(quarryError, 1)),
                                            std::vector<BrindleRun>(4), std::nullopt,
                                            readSorrelRun(answer(c.sorrel, c.sorrelExit)));
  const Json document = Json::parse(inventoryDocument(inventory));
  ASSERT_EQ(inventory.adapters.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    const AdapterInventory& entry = inventory.adapters[i];
    EXPECT_EQ(entry.state.has_value(), !c.states[i].empty()) << i;
    EXPECT_EQ(freeDedicatedMemory(entry), c.free[i]) << i;
    EXPECT_EQ(document["adapters"][i]["state"], c.states[i].empty() ? Json(nullptr) : Json::parse(c.states[i])) << i;
    EXPECT_EQ(document["adapters"][i]["freeDedicatedMemory"], c.free[i] ? Json(*c.free[i]) : Json(nullptr)) << i;
  }
  EXPECT_EQ(inventory.order.highPerformance, c.highPerformance);
  EXPECT_EQ(inventory.order.minimumPower, c.minimumPower);
  EXPECT_EQ(document["order"], Json({{"highPerformance", c.highPerformance}, {"minimumPower", c.minimumPower},
                                     {"from", c.from}}));
  const std::string table = inventoryTable(inventory);
  for (const std::string& line : c.tableLines) {
    EXPECT_NE(table.find("\n" + line), std::string::npos) << line << "\n" << table;
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, SorrelJoinTest, testing::Values(
    SorrelJoinCase{"windows_order_software_last", sorrelJson({smallState, integratedState, warpState, bigState}), 0,
                   {integratedState, warpState, smallState, bigState}, {gib / 2, std::nullopt, 0, 6 * gib},
                   {2, 3, 0, 1}, {0, 3, 2, 1}, "windows",
                   {"High performance: Small (20:0); minimum power: Integrated (10:0) (Windows' preference)\n",
                    "Big" + std::string(39, ' ') + "30:0  0a:1f.7  8.0 GiB  6.0 of 8.0 GiB free  no          0         tansy was not run: not run  quarry",
                    "Small" + std::string(37, ' ') + "20:0  01:00.0  4.0 GiB  0.0 of 4.0 GiB free  no          2         tansy was not run: not run  quarry",
                    "Microsoft Basic Render Driver (software)  40:0           0 MiB                         no          0         tansy was not run: not run  quarry"}},
    SorrelJoinCase{"sorrel_failed", R"({"schema":1,"error":{"code":"dxgi_failed","message":"m"}})", 1,
                   {"", "", "", ""}, {std::nullopt, std::nullopt, std::nullopt, std::nullopt}, ruleHigh, ruleLow, "rule",
                   {ruleChoice + "sorrel failed: dxgi_failed: m)"}},
    SorrelJoinCase{"sorrel_misses_an_adapter", sorrelJson({integratedState, warpState, bigState, stateJson(99, 0, "0", "2")}), 0,
                   {integratedState, warpState, "", bigState}, {gib / 2, std::nullopt, std::nullopt, 6 * gib},
                   ruleHigh, ruleLow, "rule", {ruleChoice + "sorrel gave no whole order of the hardware adapters)"}},
    SorrelJoinCase{"a_rank_missing", sorrelJson({integratedState, warpState, smallState, stateJson(30, 0, "2", "null")}), 0,
                   {integratedState, warpState, smallState, stateJson(30, 0, "2", "null")}, {gib / 2, std::nullopt, 0, std::nullopt},
                   ruleHigh, ruleLow, "rule", {ruleChoice + "sorrel gave no whole order of the hardware adapters)"}},
    SorrelJoinCase{"a_rank_twice", sorrelJson({integratedState, warpState, smallState, stateJson(30, 0, "0", "1")}), 0,
                   {integratedState, warpState, smallState, stateJson(30, 0, "0", "1")}, {gib / 2, std::nullopt, 0, std::nullopt},
                   ruleHigh, ruleLow, "rule", {ruleChoice + "sorrel gave no whole order of the hardware adapters)"}}),
    [](const testing::TestParamInfo<SorrelJoinCase>& p) { return std::string(p.param.label); });

// fennelDoc's adapters are Twin 20:0, Twin 10:0 and Other 30:-1.
const std::string twin20 = capabilitiesJson(20, 0, 1, d3d12FailedJson("0x887A0004"));
const std::string twin10 = capabilitiesJson(10, 0, 0);
const std::string npu = computeJson(70123, "", "\"npu\"", "32902", R"({"result":"0x00000000","featureLevel":"1_0_generic"})");
const std::string accelerator = computeJson(70124, "Accel \\\"X\\\"", "null", "null", "null");

struct CapabilitiesCase {
  const char* label;
  ChildRun tansy;
  std::vector<std::string> capabilities;  // each adapter's as printed; "" for null
  std::vector<std::string> computeAdapters;
  std::vector<std::string> tableLines;    // parts of the table, each from the start of a cell
};

TEST(JoinInventory, CapabilitiesByLuidAndTheComputeAdaptersAsTansyPrintedThem) {
  const std::string tansyCrashed = "tansy crashed: ended by exception 0xC0000005 without a document";
  const std::vector<CapabilitiesCase> cases = {
      {"answered", answer(tansyJson({twin10, capabilitiesJson(99, 0, 2), twin20}, {npu, accelerator})),
       {twin20, twin10, ""}, {npu, accelerator},
       {"no device: D3D12CreateDevice gave 0x887A0004  ", "12_1, shader model 6.6  ", "tansy does not list this adapter  ",
        "Compute-only adapter: NPU 70123:0 (no name), vendor 8086, Direct3D 12 at 1_0_generic\n",
        "Compute-only adapter: type unknown 70124:0 Accel \"X\", vendor unknown, no d3d12.dll\n"}},
      {"without d3d12.dll nor DXCore", answer(tansyJson({capabilitiesJson(20, 0, 0, "null"),
                                                          capabilitiesJson(10, 0, 1, d3d12FailedJson("0x80004005"))}, {}, false)),
       {capabilitiesJson(20, 0, 0, "null"), capabilitiesJson(10, 0, 1, d3d12FailedJson("0x80004005")), ""}, {},
       {"no d3d12.dll  ", "no device: D3D12CreateDevice gave 0x80004005  ",
        "Compute-only adapters unknown: no DXCore on this system\n"}},
      {"a level and model unknown", answer(tansyJson({capabilitiesJson(20, 0, 0,
           R"({"result":"0x00000001","featureLevel":null,"shaderModel":null,"resourceBindingTier":null,"uma":null,"cacheCoherentUma":null,"native16BitShaderOps":null,"waveOps":null})")})),
       {capabilitiesJson(20, 0, 0, R"({"result":"0x00000001","featureLevel":null,"shaderModel":null,"resourceBindingTier":null,"uma":null,"cacheCoherentUma":null,"native16BitShaderOps":null,"waveOps":null})"), "", ""},
       {}, {"feature level unknown, shader model unknown  "}},
      {"crashed", crashedChild(), {"", "", ""}, {}, {tansyCrashed + "  ", "Compute-only adapters unknown: " + tansyCrashed + "\n"}},
      // 20:5 shares only its low part with Twin 20:0, 31:-1 only its high part with Other 30:-1.
      {"only by the whole LUID", answer(tansyJson({capabilitiesJson(20, 5, 0), twin10, capabilitiesJson(31, -1, 2)})),
       {"", twin10, ""}, {}, {"tansy does not list this adapter  "}},
  };
  for (const CapabilitiesCase& c : cases) {
    const FennelRun fennel = readFennelRun(answer(fennelDoc));
    const Inventory inventory = joinInventory(fennel, readQuarryRun(answer(quarryDoc)), {}, std::nullopt, {}, {},
                                              readTansyRun(c.tansy));
    const Json document = Json::parse(inventoryDocument(inventory));
    ASSERT_EQ(inventory.adapters.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(inventory.adapters[i].capabilities.has_value(), !c.capabilities[i].empty()) << c.label << i;
      EXPECT_EQ(document["adapters"][i]["capabilities"],
                c.capabilities[i].empty() ? Json(nullptr) : Json::parse(c.capabilities[i])) << c.label << i;
    }
    Json compute = Json::array();
    for (const std::string& adapter : c.computeAdapters) compute.push_back(Json::parse(adapter));
    EXPECT_EQ(document["computeAdapters"], compute) << c.label;
    EXPECT_EQ(inventory.computeAdapters.size(), c.computeAdapters.size()) << c.label;
    EXPECT_FALSE(document.contains("tansyPerAdapter")) << c.label;
    const std::string table = inventoryTable(inventory);
    for (const std::string& part : c.tableLines) {
      const std::string before = part.back() == '\n' ? "\n" : "  ";  // a line of its own, or a cell
      EXPECT_NE(table.find(before + part), std::string::npos) << c.label << ": " << part << "\n" << table;
    }
  }
  // A caller's runs per adapter are kept only where takeInventory could have made them.
  const FennelRun fennel = readFennelRun(answer(fennelDoc));
  const std::vector<TansyRun> three(3, readTansyRun(answer(tansyJson({twin10}))));
  const std::tuple<ChildRun, std::size_t, bool> perAdapterRows[] = {
      {answer(tansyJson({twin10})), 3, false}, {crashedChild(), 2, false}, {crashedChild(), 0, false},
      {crashedChild(), 3, true}, {timedOutChild(), 3, true},
      {answer(R"({"schema":1,"error":{"code":"dxgi_failed","message":"m"}})", 1), 3, false}};
  for (const auto& [whole, count, kept] : perAdapterRows) {
    const Inventory joined =
        joinInventory(fennel, readQuarryRun(answer(quarryDoc)), {}, std::nullopt, {}, {}, readTansyRun(whole),
                      std::vector<TansyRun>(three.begin(), three.begin() + static_cast<std::ptrdiff_t>(count)));
    EXPECT_EQ(joined.tansyPerAdapter.has_value(), kept) << count;
    EXPECT_EQ(Json::parse(inventoryDocument(joined)).contains("tansyPerAdapter"), kept) << count;
  }
  // The typed reading of an answer: each of the NPU's fields.
  const TansyRun tansy = readTansyRun(answer(tansyJson({twin10}, {npu})));
  ASSERT_EQ(tansy.computeAdapters.size(), 1u);
  const ComputeAdapter& n = tansy.computeAdapters[0];
  EXPECT_EQ(std::make_tuple(n.luidLowPart, n.luidHighPart, n.name, n.vendorId, n.deviceId, n.hardware, n.hardwareType),
            std::make_tuple(70123u, 0, std::string(), std::optional<std::uint32_t>(32902), std::optional<std::uint32_t>(32029),
                            std::optional<bool>(true), std::optional<std::string>("npu")));
  EXPECT_EQ(std::make_tuple(n.coreCompute, n.genericMl, n.dedicatedAdapterMemory, n.driverVersion),
            std::make_tuple(false, true, std::optional<std::uint64_t>(0), std::optional<std::string>("32.0.100.3053")));
  EXPECT_EQ(n.d3d12->featureLevel, "1_0_generic");
  const D3d12Capabilities& d3d12 = *tansy.adapters.at(0).d3d12;
  EXPECT_EQ(std::make_tuple(d3d12.result, d3d12.featureLevel, d3d12.shaderModel, d3d12.resourceBindingTier),
            std::make_tuple(std::string("0x00000000"), std::optional<std::string>("12_1"), std::optional<std::string>("6.6"),
                            std::optional<std::uint32_t>(3)));
  EXPECT_EQ(std::make_tuple(d3d12.uma, d3d12.cacheCoherentUma, d3d12.native16BitShaderOps, d3d12.waveOps),
            std::make_tuple(std::optional<bool>(false), std::optional<bool>(false), std::optional<bool>(true),
                            std::optional<bool>(true)));
  EXPECT_EQ(tansy.adapters[0].d3d11->featureLevel, "11_1");
}

struct ChosenCase {
  const char* label;
  std::optional<std::string> setting;  // none: no value for the program
  std::optional<std::uint32_t> chosen;
  std::string line;                    // the table's line, "" for none
  // DirectXUserGlobalSettings; by default it names the twins Small and Big.
  std::string global = "HighPerfAdapter=10DE&0009&0;";
  std::optional<std::uint32_t> highPerformance = std::nullopt;  // the position it names
  bool sorrelAnswered = true;          // else the orders are the rule's: Big first for high performance
};

TEST(JoinInventory, TheAdapterTheUserChoseForTheProgram) {
  // Windows' order: high performance Small (2) first, minimum power Integrated (0) first.
  const std::string windowsOrder = sorrelJson({smallState, integratedState, warpState, bigState});
  const std::string program = "python.exe is set to ";
  const std::vector<ChosenCase> cases = {
      {"no setting", std::nullopt, std::nullopt, ""},
      {"let Windows decide", "GpuPreference=0;", std::nullopt, program + "Let Windows decide in Windows' graphics settings\n"},
      {"high performance", "GpuPreference=2;", 2, program + "High performance in Windows' graphics settings: Small (20:0)\n"},
      {"power saving", "GpuPreference=1;", 0, program + "Power saving in Windows' graphics settings: Integrated (10:0)\n"},
      {"one GPU", "SpecificAdapter=8086&0001&00000000;GpuPreference=1073741824;", 0,
       program + "the GPU 8086&0001&00000000 in Windows' graphics settings: Integrated (10:0)\n"},
      {"one of twins", "SpecificAdapter=10DE&0009&1;GpuPreference=1073741824;", std::nullopt,
       program + "the GPU 10DE&0009&00000001 in Windows' graphics settings, which no single adapter here has\n"},
      {"a GPU not here", "SpecificAdapter=1002&73FF&1;GpuPreference=1073741824;", std::nullopt,
       program + "the GPU 1002&73FF&00000001 in Windows' graphics settings, which no single adapter here has\n"},
      {"other", "GpuPreference=7;", std::nullopt,
       "python.exe has a setting in Windows' graphics settings that the inventory cannot read: \"GpuPreference=7;\"\n"},
      {"only other settings", "SwapEffectUpgradeEnable=1;AutoHDREnable=2097;", std::nullopt,
       program + "Let Windows decide in Windows' graphics settings\n"},
      // The ids together: an adapter with only the vendor's, or only the device's, is another GPU.
      {"the vendor's id alone", "SpecificAdapter=8086&0002&0;GpuPreference=1073741824;", std::nullopt,
       program + "the GPU 8086&0002&00000000 in Windows' graphics settings, which no single adapter here has\n"},
      {"the device's id alone", "SpecificAdapter=1002&0001&0;GpuPreference=1073741824;", std::nullopt,
       program + "the GPU 1002&0001&00000000 in Windows' graphics settings, which no single adapter here has\n"},
      // Windows' high-performance GPU, named by the user, beats the order: Integrated, not Small.
      {"high performance, the GPU named", "GpuPreference=2;", 0,
       program + "High performance in Windows' graphics settings: Integrated (10:0)\n", "HighPerfAdapter=8086&0001&0;", 0},
      {"high performance, the GPU named, without sorrel", "GpuPreference=2;", 0,
       program + "High performance in Windows' graphics settings: Integrated (10:0)\n", "HighPerfAdapter=8086&0001&0;", 0,
       false},
      {"high performance without sorrel, the rule's", "GpuPreference=2;", 3,
       program + "High performance in Windows' graphics settings: Big (30:0)\n", "HighPerfAdapter=1002&73FF&0;",
       std::nullopt, false},
      {"no setting, the GPU named", std::nullopt, std::nullopt, "", "SwapEffectUpgradeEnable=1;HighPerfAdapter=8086&0001&0;", 0},
  };
  for (const ChosenCase& c : cases) {
    RegistryValue value;
    if (c.setting) value = {RegistryValue::Type::string, *c.setting};
    const Inventory inventory = joinInventory(
        readFennelRun(answer(orderFennel)), readQuarryRun(answer(quarryError, 1)), std::vector<BrindleRun>(4),
        std::nullopt, c.sorrelAnswered ? readSorrelRun(answer(windowsOrder)) : readSorrelRun(crashedChild()),
        graphicsSettingsOf("C:\\Python\\python.exe", value, {RegistryValue::Type::string, c.global}));
    EXPECT_EQ(inventory.chosenAdapter, c.chosen) << c.label;
    EXPECT_EQ(inventory.highPerformanceAdapter, c.highPerformance) << c.label;
    EXPECT_EQ(highPerformanceAdapterOf(inventory), c.highPerformance) << c.label;
    const Json document = Json::parse(inventoryDocument(inventory));
    EXPECT_EQ(document["graphicsSettings"],
              Json({{"program", "C:\\Python\\python.exe"},
                    {"preference", c.setting ? Json(preferenceName(*inventory.graphicsSettings.preference)) : Json(nullptr)},
                    {"setting", c.setting ? Json(*c.setting) : Json(nullptr)},
                    {"globalSetting", c.global},
                    {"highPerformanceAdapter", c.highPerformance ? Json(*c.highPerformance) : Json(nullptr)},
                    {"chosenAdapter", c.chosen ? Json(*c.chosen) : Json(nullptr)}})) << c.label;
    const std::string table = inventoryTable(inventory);
    EXPECT_EQ(table.find("python.exe") != std::string::npos, !c.line.empty()) << table;
    EXPECT_TRUE(c.line.empty() || table.find("\n" + c.line) != std::string::npos) << c.label << "\n" << table;
  }
  // Without adapters nothing is chosen; without a program nothing is said of one.
  Inventory none = joinInventory({}, {}, {}, std::nullopt, {}, graphicsSettingsOf("C:\\p.exe", {RegistryValue::Type::string, "GpuPreference=2"}, {}));
  EXPECT_EQ(none.chosenAdapter, std::nullopt);
  EXPECT_EQ(Json::parse(inventoryDocument(joinInventory({}, {}, {})))["graphicsSettings"],
            Json::parse(R"({"program":null,"preference":null,"setting":null,"globalSetting":null,"highPerformanceAdapter":null,"chosenAdapter":null})"));
}

TEST(ThisProcess, APositionIsFoundByLuidAndNeverForTheZeroLuid) {
  const std::vector<AdapterLuid> order = {{0, 0}, {7, -1}, {5, 0}};
  EXPECT_EQ(positionOf({5, 0}, order), 2u);
  EXPECT_EQ(positionOf({7, -1}, order), 1u);
  EXPECT_EQ(positionOf({7, 0}, order), std::nullopt);
  EXPECT_EQ(positionOf({0, 0}, order), std::nullopt);  // an adapter whose description was unreadable
}

struct VulkanKindCase {
  const char* driverId;  // nullptr: none
  std::uint32_t vendorId, deviceId;
  const char* name;
  DeviceKind kind;
};

TEST(DeviceKinds, EachRuleOfTheTable) {
  const std::vector<VulkanKindCase> cases = {
      {"MESA_LLVMPIPE", 0x10005, 0, "llvmpipe (LLVM 15.0.6, 256 bits)", DeviceKind::software},
      {"GOOGLE_SWIFTSHADER", 0x1AE0, 0xC0DE, "SwiftShader Device", DeviceKind::software},
      {"UNKNOWN(99)", 0x10005, 0, "a CPU device of Mesa's", DeviceKind::software},
      {nullptr, 0x10005, 0, "a CPU device of Mesa's", DeviceKind::software},
      {"MESA_DOZEN", 0x1414, 0x8C, "Microsoft Direct3D12 (Microsoft Basic Render Driver)", DeviceKind::software},
      {"MESA_DOZEN", 0x1002, 0x73FF, "Microsoft Direct3D12 (AMD Radeon RX 6600)", DeviceKind::translation},
      {nullptr, 0x1002, 0x73FF, "Microsoft Direct3D12 (AMD Radeon RX 6600)", DeviceKind::translation},
      {"AMD_PROPRIETARY", 0x1002, 0x73FF, "Microsoft Direct3D12 (AMD Radeon RX 6600)", DeviceKind::native},
      {nullptr, 0x10DE, 0x2520, "NVIDIA Direct3D12 (RTX 3060) on Microsoft Direct3D12", DeviceKind::native},
      {nullptr, 0x10DE, 0x2520, "Microsoft Direct3D12", DeviceKind::native},
      {"NVIDIA_PROPRIETARY", 0x1414, 0x8D, "a Microsoft device that is not WARP", DeviceKind::native},
  };
  for (const VulkanKindCase& c : cases) {
    VulkanDevice device;
    if (c.driverId) device.driverId = c.driverId;
    device.vendorId = c.vendorId;
    device.deviceId = c.deviceId;
    device.name = c.name;
    EXPECT_EQ(kindName(kindOfVulkanDevice(device)), std::string(kindName(c.kind))) << c.name;
  }
  const std::vector<std::pair<std::string, DeviceKind>> platforms = {
      {"OpenCLOn12", DeviceKind::translation}, {"NVIDIA CUDA", DeviceKind::native},
      {"OpenCLOn12 ", DeviceKind::native}, {"Portable Computing Language", DeviceKind::native}};
  for (const auto& [platform, kind] : platforms) {
    BrindleAnswer answered;
    answered.platform = platform;
    EXPECT_EQ(kindOfOpenClMatch(answered), kind) << platform;
  }
  const std::vector<std::tuple<std::uint32_t, std::uint32_t, AdapterKind>> adapters = {
      {0x1414, 0x8C, AdapterKind::software}, {0x1414, 0x8D, AdapterKind::hardware},
      {0x10DE, 0x8C, AdapterKind::hardware}};
  for (const auto& [vendor, id, kind] : adapters) {
    FennelAdapter adapter;
    adapter.vendorId = vendor;
    adapter.deviceId = id;
    EXPECT_EQ(kindOfAdapter(adapter), kind) << vendor << ":" << id;
  }
}

struct PreferredCase {
  const char* label;
  std::vector<std::string> devices;  // on LUID 20:0
  std::optional<std::uint32_t> preferred;
};

TEST(JoinInventory, ThePreferredVulkanDevice) {
  const std::vector<PreferredCase> cases = {
      {"translation listed first", {deviceJson(0, "Layered", true, 20, 0, "MESA_DOZEN"),
                                    deviceJson(1, "Software", true, 20, 0, "MESA_LLVMPIPE"),
                                    deviceJson(3, "Native", true, 20, 0), deviceJson(2, "Old layered", true, 20, 0, "MESA_DOZEN")}, 3},
      {"only translation", {deviceJson(4, "Software", true, 20, 0, "MESA_LLVMPIPE"),
                            deviceJson(5, "Microsoft Direct3D12 (Twin)", true, 20, 0),
                            deviceJson(2, "Layered", true, 20, 0, "MESA_DOZEN")}, 2},
      {"only software", {deviceJson(0, "Software", true, 20, 0, "MESA_LLVMPIPE")}, std::nullopt},
      {"none", {deviceJson(0, "Elsewhere", true, 21, 0)}, std::nullopt},
  };
  for (const PreferredCase& c : cases) {
    std::string quarry = "{\"schema\":2,\"devices\":[";
    for (std::size_t i = 0; i < c.devices.size(); ++i) quarry += (i ? "," : "") + c.devices[i];
    FennelRun fennel = readFennelRun(answer(fennelDoc));
    const Inventory inventory = joinInventory(fennel, readQuarryRun(answer(quarry + "]}")), {});
    const AdapterInventory& entry = inventory.adapters.at(0);
    EXPECT_EQ(entry.preferredVulkanDevice, c.preferred) << c.label;
    const VulkanDevice* device = preferredVulkanDevice(entry);
    EXPECT_EQ(device ? std::optional<std::uint32_t>(device->vkIndex) : std::nullopt, c.preferred) << c.label;
    const Json document = Json::parse(inventoryDocument(inventory));
    EXPECT_EQ(document["adapters"][0]["preferredVulkanDevice"],
              c.preferred ? Json(*c.preferred) : Json(nullptr)) << c.label;
  }
}

// A runner that answers from the documents above and records what ran, how many at once, and
// whether a brindle run began while quarry was still going. On request it throws for one
// probe, holds fennel back until that throw, or changes the current directory.
struct Recorder {
  std::vector<std::string> ran;
  int running = 0, mostAtOnce = 0;
  bool quarryWaitsForBrindle = false, brindleBeganDuringQuarry = false;
  bool fennelWaitsForSorrel = false, sorrelBeganDuringFennel = false;
  unsigned adapters = 6;     // in fennel's answer
  std::string throwsFor;     // "quarry.exe"...: that run throws
  bool fennelWaitsForThrow = false, thrown = false;
  std::string moveTo;        // a folder the first run makes the current directory
  std::vector<std::string> executables;  // as given to the runner
  std::vector<std::string> purposes;
  std::deque<ChildRun> quarryRuns;  // what quarry's runs print, in turn; then quarryDoc
  // tansy over every adapter: this, else an answer listing each adapter with its position as
  // dxgiOrdinal. A run for one LUID lists that adapter with dxgiOrdinal 100 + its low part,
  // or crashes when the low part is in tansyCrashesFor.
  std::optional<ChildRun> tansyRun;
  std::vector<std::string> tansyCrashesFor;
  bool fennelWaitsForTansy = false, tansyWaitsForBrindle = false, tansyEnded = false;
};
struct RunnerBroke {};  // not a std::exception: any exception reaches the caller
Recorder recorder;
std::mutex recorderLock;
std::condition_variable recorderChanged;

ChildRun recordedRun(const ProbeRequest& request) {
  const std::string& executable = request.executable;
  const std::string probe = executable.substr(executable.find_last_of('\\') + 1);
  std::unique_lock<std::mutex> hold(recorderLock);
  std::string line = probe;
  for (const std::string& argument : request.arguments) line += " " + argument;
  for (const EnvironmentVariable& variable : request.environment) {
    line += " with " + variable.name + "=" + variable.value;
  }
  recorder.ran.push_back(line);
  recorder.executables.push_back(executable);
  recorder.purposes.push_back(request.purpose);
  recorder.mostAtOnce = std::max(recorder.mostAtOnce, ++recorder.running);
  recorderChanged.notify_all();
  if (!recorder.moveTo.empty()) {
    std::filesystem::current_path(recorder.moveTo);
    recorder.moveTo.clear();
  }
  if (probe == recorder.throwsFor) {
    --recorder.running;
    recorder.thrown = true;
    recorderChanged.notify_all();
    throw RunnerBroke{};
  }
  if (probe == "fennel.exe" && recorder.fennelWaitsForThrow) {
    recorderChanged.wait(hold, [] { return recorder.thrown; });
    hold.unlock();  // still running a while after the throw, as a child that takes its time
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    hold.lock();
  }
  if (probe == "fennel.exe" && recorder.fennelWaitsForSorrel) {
    recorder.sorrelBeganDuringFennel = recorderChanged.wait_for(hold, std::chrono::seconds(10), [] {
      return std::find(recorder.ran.begin(), recorder.ran.end(), "sorrel.exe") != recorder.ran.end();
    });
  }
  if (probe == "fennel.exe" && recorder.fennelWaitsForTansy) {
    recorderChanged.wait_for(hold, std::chrono::seconds(10), [] { return recorder.tansyEnded; });
  }
  if (probe == "tansy.exe" && request.arguments.empty() && recorder.tansyWaitsForBrindle) {
    recorderChanged.wait_for(hold, std::chrono::seconds(10), [] {
      return std::any_of(recorder.ran.begin(), recorder.ran.end(),
                         [](const std::string& r) { return r.rfind("brindle", 0) == 0; });
    });
  }
  if (probe == "quarry.exe" && recorder.quarryWaitsForBrindle) {
    recorder.brindleBeganDuringQuarry = recorderChanged.wait_for(hold, std::chrono::seconds(10), [] {
      return std::any_of(recorder.ran.begin(), recorder.ran.end(),
                         [](const std::string& r) { return r.rfind("brindle", 0) == 0; });
    });
  }
  --recorder.running;
  if (probe == "fennel.exe") {
    std::string many = "{\"schema\":1,\"dxcoreAvailable\":true,\"adapters\":[";
    for (unsigned i = 0; i < recorder.adapters; ++i) many += (i ? "," : "") + adapterJson("A", i, -1);
    return answer(many + "]}");
  }
  if (probe == "sorrel.exe") {  // Windows ranks them backwards
    std::vector<std::string> states;
    for (unsigned i = 0; i < recorder.adapters; ++i) {
      const std::string rank = std::to_string(recorder.adapters - 1 - i);
      states.push_back(stateJson(i, -1, rank, rank));
    }
    return answer(sorrelJson(states));
  }
  if (probe == "tansy.exe" && request.arguments.empty()) {
    recorder.tansyEnded = true;
    recorderChanged.notify_all();
    if (recorder.tansyRun) return *recorder.tansyRun;
    std::vector<std::string> adapters;
    for (unsigned i = 0; i < recorder.adapters; ++i) adapters.push_back(capabilitiesJson(i, -1, i));
    return answer(tansyJson(adapters, {computeJson(77, "", "\"npu\"", "32902", "null")}));
  }
  if (probe == "tansy.exe") {
    const std::string& low = request.arguments.at(1);
    const auto& crashes = recorder.tansyCrashesFor;
    if (std::find(crashes.begin(), crashes.end(), low) != crashes.end()) {
      ChildRun crashed;
      crashed.started = true;
      crashed.exitCode = 0xC0000005u;
      return crashed;
    }
    return answer(tansyJson({capabilitiesJson(static_cast<unsigned>(std::stoul(low)), std::stoi(request.arguments.at(3)),
                                              100 + static_cast<unsigned>(std::stoul(low)))}));
  }
  if (probe == "quarry.exe" && !recorder.quarryRuns.empty()) {
    ChildRun run = recorder.quarryRuns.front();
    recorder.quarryRuns.pop_front();
    return run;
  }
  return answer(probe == "quarry.exe" ? quarryDoc : noMatch);
}

TEST(TakeInventory, SequentialRunsOneChildAtATimeInOrder) {
  recorder = {};
  const Inventory inventory = takeInventory("C:\\probes", {std::chrono::milliseconds(5), true}, recordedRun);
  EXPECT_EQ(recorder.mostAtOnce, 1);
  ASSERT_EQ(recorder.ran.size(), 10u);
  EXPECT_EQ(recorder.ran[0], "fennel.exe");
  EXPECT_EQ(recorder.ran[1], "quarry.exe");
  EXPECT_EQ(recorder.ran[2], "sorrel.exe");
  EXPECT_EQ(recorder.purposes[2], "sorrel");
  EXPECT_EQ(recorder.ran[3], "tansy.exe");
  EXPECT_EQ(recorder.purposes[3], "tansy");
  EXPECT_EQ(recorder.ran[9], "brindle.exe --luid-low 5 --luid-high -1");
  EXPECT_EQ(inventory.adapters.at(5).brindle.run.outcome, Outcome::answered);
  EXPECT_EQ(inventory.adapters.at(5).state->highPerformanceRank, 0u);
  EXPECT_EQ(inventory.order.highPerformance, (std::vector<std::uint32_t>{5, 4, 3, 2, 1, 0}));
}

TEST(TakeInventory, BrindleStartsAsSoonAsFennelAnsweredAndAtMostFourRun) {
  recorder = {};
  recorder.quarryWaitsForBrindle = true;
  recorder.fennelWaitsForSorrel = true;  // sorrel starts beside fennel, not after it
  const Inventory inventory = takeInventory("C:\\probes\\", {}, recordedRun);
  EXPECT_TRUE(recorder.brindleBeganDuringQuarry);
  EXPECT_TRUE(recorder.sorrelBeganDuringFennel);
  EXPECT_LE(recorder.mostAtOnce, 4);
  EXPECT_EQ(recorder.ran.size(), 10u);
  EXPECT_EQ(inventory.adapters.size(), 6u);
}

TEST(TakeInventory, SixtyFiveAdaptersAreGarbledAndStartNoBrindleRun) {
  recorder = {};
  recorder.adapters = 65;
  const Inventory inventory = takeInventory("C:\\probes", {std::chrono::milliseconds(5), true}, recordedRun);
  // tansy's answer lists 65 too: garbled, but without fennel's adapters no run per adapter.
  EXPECT_EQ(recorder.ran, (std::vector<std::string>{"fennel.exe", "quarry.exe", "sorrel.exe", "tansy.exe"}));
  EXPECT_EQ(inventory.fennel.run.outcome, Outcome::garbled);
  EXPECT_EQ(inventory.tansy.run.outcome, Outcome::garbled);
  EXPECT_TRUE(inventory.adapters.empty());
}

TEST(TakeInventory, ARunnerThatThrowsReachesTheCallerWithNothingLeftRunning) {
  // Sequential: fennel throws, and quarry never starts.
  recorder = {};
  recorder.throwsFor = "fennel.exe";
  EXPECT_THROW(takeInventory("C:\\probes", {std::chrono::milliseconds(5), true}, recordedRun), RunnerBroke);
  EXPECT_EQ(recorder.ran, std::vector<std::string>{"fennel.exe"});

  // brindle throws after quarry crashed: the run without implicit layers never starts.
  recorder = {};
  recorder.throwsFor = "brindle.exe";
  recorder.quarryRuns = {crashedChild()};
  EXPECT_THROW(takeInventory("C:\\probes", {std::chrono::milliseconds(5), true}, recordedRun), RunnerBroke);
  EXPECT_EQ(recorder.ran, (std::vector<std::string>{"fennel.exe", "quarry.exe", "sorrel.exe", "tansy.exe",
                                                    "brindle.exe --luid-low 0 --luid-high -1"}));

  // Side by side: quarry throws while fennel still runs; the throw waits for fennel's end, and
  // fennel's adapters start no brindle run (sorrel may have started beside them).
  recorder = {};
  recorder.throwsFor = "quarry.exe";
  recorder.fennelWaitsForThrow = true;
  EXPECT_THROW(takeInventory("C:\\probes", {}, recordedRun), RunnerBroke);
  std::lock_guard<std::mutex> hold(recorderLock);
  EXPECT_EQ(recorder.running, 0);
  EXPECT_EQ(std::count_if(recorder.ran.begin(), recorder.ran.end(),
                          [](const std::string& r) { return r != "sorrel.exe" && r != "tansy.exe"; }), 2);
}

struct RetryCase {
  const char* label;
  std::vector<ChildRun> quarryRuns;
  bool retryOption;
  bool retried;
  const char* vulkanFrom;  // nullptr: null
};

TEST(TakeInventory, QuarryIsRunAgainWithoutImplicitLayersOnlyWhenItRanAndDidNotAnswer) {
  const std::vector<RetryCase> cases = {
      {"answered", {answer(quarryDoc)}, true, false, "quarry"},
      {"could not start", {notStartedChild()}, true, false, nullptr},
      {"crashed", {crashedChild(), answer(quarryDoc)}, true, true, "quarryWithoutImplicitLayers"},
      {"timed out", {timedOutChild(), answer(quarryDoc)}, true, true, "quarryWithoutImplicitLayers"},
      {"garbled", {answer("junk"), answer(quarryDoc)}, true, true, "quarryWithoutImplicitLayers"},
      {"failed", {answer(quarryError, 1), answer(quarryDoc)}, true, true, "quarryWithoutImplicitLayers"},
      {"both failed", {crashedChild(), answer(quarryError, 1)}, true, true, nullptr},
      {"retry off", {crashedChild(), answer(quarryDoc)}, false, false, nullptr},
  };
  for (const RetryCase& c : cases) {
    recorder = {};
    recorder.adapters = 1;
    recorder.quarryRuns.assign(c.quarryRuns.begin(), c.quarryRuns.end());
    InventoryOptions options{std::chrono::milliseconds(5), true};
    options.retryQuarryWithoutImplicitLayers = c.retryOption;
    const Inventory inventory = takeInventory("C:\\probes", options, recordedRun);
    std::vector<std::string> quarryRuns, purposes;
    for (std::size_t i = 0; i < recorder.ran.size(); ++i) {
      if (recorder.ran[i].rfind("quarry", 0) != 0) continue;
      quarryRuns.push_back(recorder.ran[i]);
      purposes.push_back(recorder.purposes[i]);
    }
    std::vector<std::string> wanted = {"quarry.exe"}, wantedPurposes = {"quarry"};
    if (c.retried) {
      wanted.push_back("quarry.exe with VK_LOADER_LAYERS_DISABLE=~implicit~");
      wantedPurposes.push_back("quarry without implicit layers");
    }
    EXPECT_EQ(quarryRuns, wanted) << c.label;
    EXPECT_EQ(purposes, wantedPurposes) << c.label;
    EXPECT_EQ(inventory.quarryWithoutImplicitLayers.has_value(), c.retried) << c.label;
    // The devices of whichever run answered are joined; none when neither did.
    EXPECT_EQ(inventory.otherVulkanDevices.size(), c.vulkanFrom ? 5u : 0u) << c.label;
    const Json document = Json::parse(inventoryDocument(inventory));
    EXPECT_EQ(document.contains("quarryWithoutImplicitLayers"), c.retried) << c.label;
    EXPECT_EQ(document["vulkanFrom"], c.vulkanFrom ? Json(c.vulkanFrom) : Json(nullptr)) << c.label;
    const std::string table = inventoryTable(inventory);
    const bool layerBlamed = table.find("A Vulkan layer installed on this machine breaks Vulkan") != std::string::npos;
    EXPECT_EQ(layerBlamed, c.vulkanFrom && std::string(c.vulkanFrom) != "quarry") << c.label << "\n" << table;
  }
}

struct TansyRetryCase {
  const char* label;
  std::optional<ChildRun> tansyRun;  // none: an answer listing every adapter
  std::vector<std::string> crashesFor;
  bool retryOption;
  bool retried;
  // Each adapter's dxgiOrdinal, as the run it was taken from printed it; -1: no capabilities.
  std::vector<int> ordinals;
};

TEST(TakeInventory, TansyRunsPerAdapterOnlyWhenItsRunOverEveryAdapterRanAndDidNotAnswer) {
  const std::vector<TansyRetryCase> cases = {
      {"answered", std::nullopt, {"1"}, true, false, {0, 1, 2}},
      {"crashed", crashedChild(), {}, true, true, {100, 101, 102}},
      {"one adapter's own run crashes", crashedChild(), {"1"}, true, true, {100, -1, 102}},
      {"timed out", timedOutChild(), {}, true, true, {100, 101, 102}},
      {"garbled", answer("junk"), {}, true, true, {100, 101, 102}},
      {"platform crashed", answer(R"({"schema":1,"error":{"code":"platform_crashed","message":"m"}})", 1), {}, true,
       true, {100, 101, 102}},
      {"could not start", notStartedChild(), {}, true, false, {-1, -1, -1}},
      // An error document: each run per adapter would fail the same way.
      {"no DXGI factory", answer(R"({"schema":1,"error":{"code":"dxgi_failed","message":"m"}})", 1), {}, true, false,
       {-1, -1, -1}},
      {"no null device", answer(R"({"schema":1,"error":{"code":"null_device_unavailable","message":"m"}})", 1), {},
       true, false, {-1, -1, -1}},
      {"retry off", crashedChild(), {}, false, false, {-1, -1, -1}},
  };
  for (const TansyRetryCase& c : cases) {
    recorder = {};
    recorder.adapters = 3;
    recorder.tansyRun = c.tansyRun;
    recorder.tansyCrashesFor = c.crashesFor;
    InventoryOptions options{std::chrono::milliseconds(5), true};
    options.retryTansyPerAdapter = c.retryOption;
    const Inventory inventory = takeInventory("C:\\probes", options, recordedRun);
    std::vector<std::string> tansyRuns, purposes;
    for (std::size_t i = 0; i < recorder.ran.size(); ++i) {
      if (recorder.ran[i].rfind("tansy", 0) != 0) continue;
      tansyRuns.push_back(recorder.ran[i]);
      purposes.push_back(recorder.purposes[i]);
    }
    std::vector<std::string> wanted = {"tansy.exe"}, wantedPurposes = {"tansy"};
    if (c.retried) {
      for (int i = 0; i < 3; ++i) {
        wanted.push_back("tansy.exe --luid-low " + std::to_string(i) + " --luid-high -1");
        wantedPurposes.push_back("tansy on A");
      }
    }
    EXPECT_EQ(tansyRuns, wanted) << c.label;
    EXPECT_EQ(purposes, wantedPurposes) << c.label;
    ASSERT_EQ(inventory.tansyPerAdapter.has_value(), c.retried) << c.label;
    std::vector<int> ordinals;
    for (const AdapterInventory& entry : inventory.adapters) {
      ordinals.push_back(entry.capabilities ? static_cast<int>(entry.capabilities->dxgiOrdinal) : -1);
    }
    EXPECT_EQ(ordinals, c.ordinals) << c.label;
    // The compute adapters only from the run over every adapter, and only when it answered.
    EXPECT_EQ(inventory.computeAdapters.size(), c.tansyRun ? 0u : 1u) << c.label;
    const Json document = Json::parse(inventoryDocument(inventory));
    std::vector<std::string> keys;
    for (const auto& item : document.items()) keys.push_back(item.key());
    const auto after = [&](const char* key) { return *(std::find(keys.begin(), keys.end(), key) + 1); };
    EXPECT_EQ(after("sorrel"), "tansy") << c.label;
    EXPECT_EQ(after("tansy"), c.retried ? "tansyPerAdapter" : "order") << c.label;
    EXPECT_EQ(after("adapters"), "computeAdapters") << c.label;
    if (c.retried) {
      ASSERT_EQ(document["tansyPerAdapter"].size(), 3u) << c.label;
      for (std::size_t i = 0; i < 3; ++i) {
        const bool crashed = c.ordinals[i] == -1;
        EXPECT_EQ(document["tansyPerAdapter"][i]["outcome"], crashed ? "crashed" : "answered") << c.label << i;
        EXPECT_EQ(document["adapters"][i]["capabilities"],
                  crashed ? Json(nullptr) : Json::parse(capabilitiesJson(static_cast<unsigned>(i), -1, 100 + static_cast<unsigned>(i))))
            << c.label << i;
      }
      // The adapter whose own run crashed says so in the table.
      const std::string table = inventoryTable(inventory);
      EXPECT_EQ(table.find("  tansy crashed: ended by exception 0xC0000005") != std::string::npos,
                std::count(c.ordinals.begin(), c.ordinals.end(), -1) > 0) << c.label << "\n" << table;
    }
  }
}

TEST(TakeInventory, TansyRunsPerAdapterOnceBothFennelAnsweredAndTansyFailedWhicheverEndsLast) {
  for (const bool tansyEndsFirst : {true, false}) {
    recorder = {};
    recorder.tansyRun = crashedChild();
    recorder.fennelWaitsForTansy = tansyEndsFirst;
    recorder.tansyWaitsForBrindle = !tansyEndsFirst;  // a brindle run begins once fennel answered
    const Inventory inventory = takeInventory("C:\\probes", {}, recordedRun);
    EXPECT_LE(recorder.mostAtOnce, 4) << tansyEndsFirst;
    EXPECT_EQ(recorder.ran.size(), 16u) << tansyEndsFirst;  // four, six brindle runs and six tansy runs
    ASSERT_TRUE(inventory.tansyPerAdapter.has_value()) << tansyEndsFirst;
    for (std::size_t i = 0; i < inventory.adapters.size(); ++i) {
      ASSERT_TRUE(inventory.adapters[i].capabilities.has_value()) << i;
      EXPECT_EQ(inventory.adapters[i].capabilities->dxgiOrdinal, 100 + i) << i;
    }
  }
}

TEST(TakeInventory, ARelativeFolderIsResolvedOnceBeforeTheFirstRun) {
  namespace fs = std::filesystem;
  const fs::path before = fs::current_path();
  recorder = {};
  recorder.moveTo = fs::temp_directory_path().string();  // another thread's chdir, mid-inventory
  takeInventory("probes here", {std::chrono::milliseconds(5), true}, recordedRun);
  fs::current_path(before);
  const std::string folder = (before / "probes here").string();
  ASSERT_EQ(recorder.executables.size(), 10u);
  for (const std::string& executable : recorder.executables) {
    EXPECT_EQ(executable.rfind(folder, 0), 0u) << executable << " is not in " << folder;
  }
}

TEST(JoinInventory, AnAdapterWithoutItsBrindleRunWasNotRunRatherThanGarbled) {
  EXPECT_EQ(ProbeRun{}.outcome, Outcome::notRun);
  const Inventory inventory =
      joinInventory(readFennelRun(answer(fennelDoc)), readQuarryRun(answer(quarryDoc)), {});
  ASSERT_EQ(inventory.adapters.size(), 3u);
  const Json document = Json::parse(inventoryDocument(inventory));
  EXPECT_EQ(document["adapters"][2]["brindle"]["outcome"], "notRun");
  EXPECT_EQ(document["adapters"][2]["brindle"]["problem"], "not run");
  EXPECT_NE(inventoryTable(inventory).find("brindle was not run: not run"), std::string::npos);

  // An inventory made by hand that names a second quarry run it does not hold.
  Inventory byHand = inventory;
  byHand.vulkanFrom = VulkanSource::quarryWithoutImplicitLayers;
  byHand.quarry = {};
  EXPECT_NE(inventoryTable(byHand).find("quarry was not run"), std::string::npos);
  // Capabilities made by hand, with no HRESULT at all: no device, whatever the text holds.
  byHand.adapters[0].capabilities = TansyAdapter{};
  byHand.adapters[0].capabilities->d3d12 = D3d12Capabilities{};
  EXPECT_NE(inventoryTable(byHand).find("  no device: D3D12CreateDevice gave   "), std::string::npos);
}

TEST(InventoryOutput, DocumentAndTableSayWhatEachProbeDid) {
  // fennel's three adapters and the Basic Render Driver without the software flag.
  std::string withWarp = fennelDoc;
  withWarp.insert(withWarp.size() - 2, "," + adapterJson("Microsoft Basic Render Driver", 40, 0, 0x1414, 0x8C));
  FennelRun fennel = readFennelRun(answer(withWarp));
  ChildRun hung;
  hung.started = hung.timedOut = true;
  hung.timeoutSeconds = 30;
  ChildRun answeredThenHung = hung;  // a driver that hangs while brindle lets go of it
  answeredThenHung.output = match + "\n";
  std::string onD3d12 = match;
  onD3d12.replace(onD3d12.find("\"platform\":\"P\""), 14, "\"platform\":\"OpenCLOn12\"");
  const Inventory inventory = joinInventory(
      fennel, readQuarryRun(answer(quarryDoc)),
      {readBrindleRun(answeredThenHung), readBrindleRun(hung),
       readBrindleRun(answer(R"({"schema":1,"matched":false,"error":{"code":"dxgi_adapter_not_found","message":"m"}})", 1)),
       readBrindleRun(answer(onD3d12))});
  const std::string text = inventoryDocument(inventory);
  ASSERT_EQ(text.find('\n'), text.size() - 1);
  const Json document = Json::parse(text);
  std::vector<std::string> keys;
  for (const auto& item : document.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"schema", "fennel", "quarry", "vulkanFrom", "sorrel", "tansy", "order",
                                            "graphicsSettings", "pick", "adapters", "computeAdapters",
                                            "otherVulkanDevices"}));
  EXPECT_EQ(document["tansy"], Json::parse(R"({"outcome":"notRun","exitCode":null,"seconds":0.0,"problem":"not run"})"));
  EXPECT_EQ(document["computeAdapters"], Json::array());
  EXPECT_EQ(document["sorrel"], Json::parse(R"({"outcome":"notRun","exitCode":null,"seconds":0.0,"problem":"not run"})"));
  EXPECT_EQ(document["schema"], 2);
  EXPECT_EQ(document["vulkanFrom"], "quarry");
  EXPECT_FALSE(document["fennel"].contains("problem"));
  EXPECT_EQ(document["fennel"]["document"], Json::parse(withWarp));
  const Json& first = document["adapters"][0];
  keys.clear();
  for (const auto& item : first.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"adapter", "kind", "state", "freeDedicatedMemory", "vulkanDevices",
                                            "preferredVulkanDevice", "brindle", "openclKind", "capabilities"}));
  EXPECT_EQ(first["capabilities"], nullptr);
  EXPECT_EQ(first["adapter"], Json::parse(adapterJson("Twin", 20, 0)));
  EXPECT_EQ(first["vulkanDevices"][1], Json::parse("{\"kind\":\"translation\",\"device\":" +
                                                   deviceJson(2, "Twin layered", true, 20, 0, "MESA_DOZEN") + "}"));
  EXPECT_EQ(document["otherVulkanDevices"][0]["kind"], "software");
  std::vector<std::string> kinds;
  for (const Json& adapter : document["adapters"]) {
    kinds.push_back(adapter["kind"].get<std::string>() + "/" +
                    (adapter["openclKind"].is_null() ? "null" : adapter["openclKind"].get<std::string>()));
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"hardware/native", "hardware/null", "hardware/null", "software/translation"}));
  EXPECT_EQ(document["adapters"][1]["brindle"]["exitCode"], nullptr);
  EXPECT_EQ(document["adapters"][1]["brindle"]["outcome"], "timedOut");
  EXPECT_FALSE(document["adapters"][1]["brindle"].contains("endedAtLimit"));
  EXPECT_EQ(document["adapters"][0]["brindle"]["outcome"], "answered");
  EXPECT_EQ(document["adapters"][0]["brindle"]["exitCode"], nullptr);
  EXPECT_EQ(document["adapters"][0]["brindle"]["endedAtLimit"], true);

  const std::string table = inventoryTable(inventory);
  // A line feed in a driver's name does not break the table: the pick, a header, a rule, four
  // rows, the choices, why no compute adapter is known, the run that was ended, two devices.
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 12) << table;
  const std::string otherRow = "Other GPU" + std::string(31 + 2, ' ') + "30:-1";  // the widest name has 40
  for (const std::string& cell : std::vector<std::string>{"#0 Twin A (preferred); #2 Twin layered (translation)", "P / D (#1, by luid)\n",
                           "brindle timed out: no answer within 30 s", "brindle failed: dxgi_adapter_not_found: m",
                           "\nbrindle on Twin printed its whole answer, then did not end within its time limit and was ended\n",
                           "Vulkan device of no DXGI adapter: #3 llvmpipe (software, no LUID)",
                           "Microsoft Basic Render Driver (software)  40:0", "OpenCLOn12 / D (#1, by luid) (translation)",
                           "20:0" + std::string(8, ' ') + "8.0 GiB", otherRow}) {
    EXPECT_NE(table.find(cell), std::string::npos) << cell << "\n" << table;
  }
}

struct OptionsCase {
  const char* label;
  std::vector<std::string> arguments;
  std::string usageError;  // a part of it; empty when the line is right
  long long timeoutMs;
  bool sequential, json, help;
  bool version = false;
  std::optional<std::string> program = std::nullopt;
};

class OptionsTest : public testing::TestWithParam<OptionsCase> {};

TEST_P(OptionsTest, Parsed) {
  const OptionsCase& c = GetParam();
  const ToolOptions options = parseToolOptions(c.arguments);
  EXPECT_NE(options.usageError.find(c.usageError), std::string::npos) << options.usageError;
  EXPECT_EQ(options.usageError.empty(), c.usageError.empty());
  if (!c.usageError.empty()) return;
  EXPECT_EQ(options.inventory.timeout.count(), c.timeoutMs);
  EXPECT_EQ(options.inventory.sequential, c.sequential);
  EXPECT_EQ(options.json, c.json);
  EXPECT_EQ(options.help, c.help);
  EXPECT_EQ(options.version, c.version);
  EXPECT_EQ(options.inventory.program, c.program);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, OptionsTest, testing::Values(
    OptionsCase{"defaults", {}, "", 30000, false, false, false},
    OptionsCase{"all", {"--bin", "C:\\a b", "--timeout", "2.5", "--sequential", "--json"}, "", 2500, true, true, false},
    OptionsCase{"help", {"--help"}, "", 30000, false, false, true},
    OptionsCase{"version", {"--version"}, "", 30000, false, false, false, true},
    OptionsCase{"version_and_json", {"--json", "--version"}, "", 30000, false, true, false, true},
    OptionsCase{"version_with_a_value", {"--version", "2"}, "unknown option: 2", 0, false, false, false},
    OptionsCase{"zero", {"--timeout", "0"}, "--timeout", 0, false, false, false},
    OptionsCase{"exponent", {"--timeout", "1e3"}, "--timeout", 0, false, false, false},
    OptionsCase{"past_a_day", {"--timeout", "86401"}, "--timeout", 0, false, false, false},
    OptionsCase{"no_seconds", {"--timeout"}, "--timeout", 0, false, false, false},
    OptionsCase{"no_folder", {"--bin"}, "--bin", 0, false, false, false},
    OptionsCase{"unknown", {"--fast"}, "unknown option: --fast", 0, false, false, false},
    OptionsCase{"program", {"--program", "C:\\Python 3\\python.exe"}, "", 30000, false, false, false, false, "C:\\Python 3\\python.exe"},
    OptionsCase{"program_on_a_share", {"--program", "\\\\host\\share\\a.exe"}, "", 30000, false, false, false, false, "\\\\host\\share\\a.exe"},
    OptionsCase{"program_relative", {"--program", "python.exe"}, "--program needs the full path", 0, false, false, false},
    OptionsCase{"program_on_a_drive_relative", {"--program", "C:python.exe"}, "--program", 0, false, false, false},
    // '/' is a separator to Windows: the library makes the path one with '\' before it is looked up.
    OptionsCase{"program_with_slashes", {"--program", "C:/Python/python.exe"}, "", 30000, false, false, false, false, "C:/Python/python.exe"},
    OptionsCase{"program_on_a_share_with_slashes", {"--program", "//host/share/a.exe"}, "", 30000, false, false, false, false, "//host/share/a.exe"},
    OptionsCase{"program_rooted", {"--program", "\\python.exe"}, "--program", 0, false, false, false},
    OptionsCase{"program_rooted_with_a_slash", {"--program", "/usr/bin/python3"}, "--program", 0, false, false, false},
    OptionsCase{"program_with_three_slashes", {"--program", "///host/a.exe"}, "--program", 0, false, false, false},
    OptionsCase{"program_missing", {"--program"}, "--program", 0, false, false, false}),
    [](const testing::TestParamInfo<OptionsCase>& p) { return std::string(p.param.label); });

TEST(CommandLine, EachArgumentComesBackAsItWasGiven) {
  const std::string exe = "C:\\Program Files\\probes\\brindle.exe";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "\"" + exe + "\""},
      {{"--luid-high", "-5"}, "\"" + exe + "\" --luid-high -5"},
      {{"", "a b", "a\"b", "a\\\\b", "a b\\", "a\\\"b", "tab\there"},
       "\"" + exe + "\" \"\" \"a b\" \"a\\\"b\" a\\\\b \"a b\\\\\" \"a\\\\\\\"b\" \"tab\there\""},
  };
  for (const auto& [arguments, line] : cases) {
    EXPECT_EQ(windowsCommandLine(exe, arguments), line);
#ifdef _WIN32
    const std::wstring wide(line.begin(), line.end());
    int count = 0;
    wchar_t** split = CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(split, nullptr);
    std::vector<std::string> back;
    for (int i = 1; i < count; ++i) back.emplace_back(split[i], split[i] + wcslen(split[i]));
    EXPECT_EQ(std::wstring(split[0]), std::wstring(exe.begin(), exe.end()));
    LocalFree(split);
    EXPECT_EQ(back, arguments) << line;
#endif
  }
}

}  // namespace
