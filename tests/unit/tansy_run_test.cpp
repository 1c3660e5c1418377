// tansy's whole run against fake DXGI, Direct3D and DXCore: each creation and query that fails
// empties its own fields only; the levels and models are walked down as runtimes refuse them;
// the compute-only adapters come from DXCore's lists, each once, graphics adapters left out.

#include "tansy_run.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake_tansy_platform.h"
#include "fault_injection.h"
#include "tansy_document.h"
#include "test_support.h"
#include "utf8_text.h"

namespace {

using fake_tansy::Adapter;
using fake_tansy::DxcoreAdapter;
using nlohmann::json;

struct RunResult {
  std::string out;
  int exitCode;
};

RunResult run(std::vector<const char*> args = {}) {
  args.insert(args.begin(), "tansy.exe");
  RunResult r{};
  const TansyPlatform platform = fake_tansy::platform();
  r.out = captureStdout(
      [&] { r.exitCode = runTansy(static_cast<int>(args.size()), args.data(), platform); });
  expectGuardedRun(r.exitCode);
  return r;
}

// A discrete GPU, the Basic Render Driver, and DXCore's view: the GPU (graphics, also in the
// core compute list), an NPU without a name in all three lists, and a compute accelerator that
// has generic ML only.
void machine() {
  fake_tansy::reset();
  fake_tansy::World& w = fake_tansy::world();
  Adapter gpu;
  gpu.luidLowPart = 0x10;
  gpu.luidHighPart = 1;
  Adapter software;
  software.luidLowPart = 0x20;
  software.flags = kAdapterFlagSoftware;
  software.d3d11Level = kLevel11_1;
  software.d3d12Level = kLevel12_0;
  software.shaderModel = 0x62;
  software.bindingTier = 2;
  software.uma = software.cacheCoherentUma = true;
  software.native16BitShaderOps = software.waveOps = false;
  w.adapters = {gpu, software};
  DxcoreAdapter dxcoreGpu;
  dxcoreGpu.luidLowPart = 0x10;
  dxcoreGpu.luidHighPart = 1;
  dxcoreGpu.attributes = fake_tansy::graphics | fake_tansy::coreCompute | fake_tansy::gpu;
  DxcoreAdapter npu;
  npu.luidLowPart = 0xFFFFFFFFu;
  npu.luidHighPart = -2;
  npu.attributes =
      fake_tansy::coreCompute | fake_tansy::genericMl | fake_tansy::npu | fake_tansy::gpu;
  npu.name = std::string(1, '\0');
  npu.vendorId = 0x8086;
  npu.deviceId = 0x7D1D;
  npu.memory = 512ull << 20;
  npu.version = 0x0020000500640001ull;
  DxcoreAdapter accelerator;
  accelerator.luidLowPart = 0x30;
  accelerator.attributes = fake_tansy::genericMl | fake_tansy::computeAccelerator;
  const char name[] = "Acc \"1\"\t\xC3\xA9\xAE\0junk";  // é, then an ANSI code page's ®
  accelerator.name = std::string(name, sizeof name - 1);
  accelerator.hardware = false;
  accelerator.coreResult = kInvalidArgument;
  w.dxcoreAdapters = {dxcoreGpu, npu, accelerator};
}

const char kMachineDocument[] =
    "{\"schema\":1,\"dxcoreAvailable\":true,\"adapters\":["
    "{\"luidLowPart\":16,\"luidHighPart\":1,\"dxgiOrdinal\":0,\"software\":false,"
    "\"d3d11\":{\"result\":\"0x00000000\",\"featureLevel\":\"11_1\"},"
    "\"d3d12\":{\"result\":\"0x00000000\",\"featureLevel\":\"12_1\",\"shaderModel\":\"6.6\","
    "\"resourceBindingTier\":3,\"uma\":false,\"cacheCoherentUma\":false,"
    "\"native16BitShaderOps\":true,\"waveOps\":true}},"
    "{\"luidLowPart\":32,\"luidHighPart\":0,\"dxgiOrdinal\":1,\"software\":true,"
    "\"d3d11\":{\"result\":\"0x00000000\",\"featureLevel\":\"11_1\"},"
    "\"d3d12\":{\"result\":\"0x00000000\",\"featureLevel\":\"12_0\",\"shaderModel\":\"6.2\","
    "\"resourceBindingTier\":2,\"uma\":true,\"cacheCoherentUma\":true,"
    "\"native16BitShaderOps\":false,\"waveOps\":false}}],"
    "\"computeAdapters\":["
    "{\"luidLowPart\":4294967295,\"luidHighPart\":-2,\"name\":\"\",\"vendorId\":32902,"
    "\"deviceId\":32029,\"hardware\":true,\"hardwareType\":\"npu\",\"coreCompute\":true,"
    "\"genericMl\":true,\"dedicatedAdapterMemory\":536870912,\"driverVersion\":\"32.5.100.1\","
    "\"d3d12\":{\"result\":\"0x00000000\",\"featureLevel\":\"1_0_core\"}},"
    "{\"luidLowPart\":48,\"luidHighPart\":0,\"name\":\"Acc \\\"1\\\"\\t\xC3\xA9\xEF\xBF\xBD\","
    "\"vendorId\":0,"
    "\"deviceId\":0,\"hardware\":false,\"hardwareType\":\"computeAccelerator\","
    "\"coreCompute\":false,\"genericMl\":true,\"dedicatedAdapterMemory\":0,"
    "\"driverVersion\":\"0.0.0.0\",\"d3d12\":{\"result\":\"0x00000000\","
    "\"featureLevel\":\"1_0_generic\"}}]}\n";

TEST(TansyRun, ReportsEachAdapterAndEachComputeOnlyAdapterOnce) {
  machine();
  const RunResult r = run();
  EXPECT_EQ(r.out, kMachineDocument);
  EXPECT_EQ(r.exitCode, 0);
  const auto& w = fake_tansy::world();
  EXPECT_EQ(w.released.size(), w.acquired.size());
  EXPECT_EQ(w.adaptersWithDevicesHeld, 0) << "an adapter's devices outlived it";
}

// One failure at a time, on the first adapter (or the first compute adapter): the document is
// the machine's with only these fields changed.
struct FailureCase {
  const char* label;
  std::function<void()> fail;
  json changes;  // JSON pointer -> value, applied to the machine's document
};

void armFirst(const char* call) { faults::arm(call, faults::Fault::errorCode, 1); }

const std::vector<FailureCase> kFailures = {
    {"D3D11CreateDevice", [] { armFirst("D3D11CreateDevice"); },
     {{"/adapters/0/d3d11", {{"result", "0x80004005"}, {"featureLevel", nullptr}}}}},
    {"D3D12CreateDevice", [] { armFirst("D3D12CreateDevice"); },
     {{"/adapters/0/d3d12",
       {{"result", "0x80004005"}, {"featureLevel", nullptr}, {"shaderModel", nullptr},
        {"resourceBindingTier", nullptr}, {"uma", nullptr}, {"cacheCoherentUma", nullptr},
        {"native16BitShaderOps", nullptr}, {"waveOps", nullptr}}}}},
    {"FeatureLevels", [] { armFirst("CheckFeatureSupport FEATURE_LEVELS"); },
     {{"/adapters/0/d3d12/featureLevel", nullptr}}},
    {"ShaderModel", [] { armFirst("CheckFeatureSupport SHADER_MODEL"); },
     {{"/adapters/0/d3d12/shaderModel", nullptr}}},
    {"Options", [] { armFirst("CheckFeatureSupport OPTIONS"); },
     {{"/adapters/0/d3d12/resourceBindingTier", nullptr}}},
    {"Architecture1ThenArchitecture", [] { armFirst("CheckFeatureSupport ARCHITECTURE1"); }, json::object()},
    {"BothArchitectures",
     [] {
       fake_tansy::world().adapters[0].architecture1 = false;
       armFirst("CheckFeatureSupport ARCHITECTURE");
     },
     {{"/adapters/0/d3d12/uma", nullptr}, {"/adapters/0/d3d12/cacheCoherentUma", nullptr}}},
    {"Options4", [] { armFirst("CheckFeatureSupport OPTIONS4"); },
     {{"/adapters/0/d3d12/native16BitShaderOps", nullptr}}},
    {"Options1", [] { armFirst("CheckFeatureSupport OPTIONS1"); },
     {{"/adapters/0/d3d12/waveOps", nullptr}}},
    {"NoD3d11", [] { fake_tansy::world().d3d11 = false; },
     {{"/adapters/0/d3d11", nullptr}, {"/adapters/1/d3d11", nullptr}}},
    {"NoD3d12", [] { fake_tansy::world().d3d12 = false; },
     {{"/adapters/0/d3d12", nullptr}, {"/adapters/1/d3d12", nullptr},
      {"/computeAdapters/0/d3d12", nullptr}, {"/computeAdapters/1/d3d12", nullptr}}},
    {"NoDxcore", [] { fake_tansy::world().dxcore = false; },
     {{"/dxcoreAvailable", false}, {"/computeAdapters", json::array()}}},
    {"NoDxcoreFactory", [] { fake_tansy::world().dxcoreFactoryFails = true; },
     {{"/dxcoreAvailable", false}, {"/computeAdapters", json::array()}}},
    {"ComputeDeviceAtNeitherLevel",
     [] {
       DxcoreAdapter& npu = fake_tansy::world().dxcoreAdapters[1];
       npu.coreResult = kInvalidArgument;
       npu.genericResult = static_cast<HResult>(0x887A0004u);
     },
     {{"/computeAdapters/0/d3d12", {{"result", "0x887A0004"}, {"featureLevel", nullptr}}}}},
    {"PropertiesNotSupported",
     [] {
       DxcoreAdapter& npu = fake_tansy::world().dxcoreAdapters[1];
       npu.hasName = npu.hasHardwareId = npu.hasIsHardware = npu.hasMemory = npu.hasVersion = false;
       npu.name = "never read";
     },
     {{"/computeAdapters/0/vendorId", nullptr}, {"/computeAdapters/0/deviceId", nullptr},
      {"/computeAdapters/0/hardware", nullptr}, {"/computeAdapters/0/dedicatedAdapterMemory", nullptr},
      {"/computeAdapters/0/driverVersion", nullptr}}},
    {"NameUnreadable", [] { faults::arm("GetPropertySize", faults::Fault::errorCode, 2); },
     {{"/computeAdapters/1/name", ""}}},
};

class TansyFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(TansyFailureTest, EmptiesOnlyItsOwnFields) {
  machine();
  GetParam().fail();
  const RunResult r = run();
  json expected = json::parse(kMachineDocument);
  for (const auto& change : GetParam().changes.items()) expected[json::json_pointer(change.key())] = change.value();
  EXPECT_EQ(parseDocument(r.out), expected) << r.out;
  EXPECT_EQ(r.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Failures, TansyFailureTest, testing::ValuesIn(kFailures), LabelName());

// How the levels and models are walked down as a runtime refuses what it does not know.
struct WalkCase {
  const char* label;
  std::function<void(fake_tansy::World&)> setUp;
  json d3d11Level;
  json d3d12Level;
  json shaderModel;
  std::vector<std::string> calls;  // the creations and shader-model questions, in order
};

std::vector<std::string> models(std::uint32_t from, std::uint32_t to) {
  std::vector<std::string> calls;
  for (std::uint32_t m = from; m >= to && m >= 0x51; m = m == 0x60 ? 0x51 : m - 1) {
    calls.push_back("shader model " + std::to_string(m));
    if (m == 0x51) break;
  }
  return calls;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::string kD3d11From12_1 = "D3D11CreateDevice from " + std::to_string(kLevel12_1);
const std::string kD3d11From11_1 = "D3D11CreateDevice from " + std::to_string(kLevel11_1);
const std::string kD3d11From11_0 = "D3D11CreateDevice from " + std::to_string(kLevel11_0);
const std::string kD3d12At11_0 = "D3D12CreateDevice at " + std::to_string(kLevel11_0);

const std::vector<WalkCase> kWalks = {
    {"AllKnown", [](fake_tansy::World&) {}, "11_1", "12_1", "6.6",
     concat({kD3d11From12_1, kD3d12At11_0}, models(0x69, 0x69))},
    {"D3d12RuntimeRefuses12_2", [](fake_tansy::World& w) { w.d3d12Knows = kLevel12_1; },
     "11_1", "12_1", "6.6", concat({kD3d11From12_1, kD3d12At11_0}, models(0x69, 0x69))},
    {"EveryModelAbove6_0Refused",
     [](fake_tansy::World& w) { w.shaderModelKnown = 0x60; }, "11_1", "12_1", "6.0",
     concat({kD3d11From12_1, kD3d12At11_0}, models(0x69, 0x60))},
    {"Only5_1Known", [](fake_tansy::World& w) { w.shaderModelKnown = 0x51; }, "11_1", "12_1",
     "5.1", concat({kD3d11From12_1, kD3d12At11_0}, models(0x69, 0x51))},
    {"NoModelKnown", [](fake_tansy::World& w) { w.shaderModelKnown = 0x50; }, "11_1", "12_1",
     nullptr, concat({kD3d11From12_1, kD3d12At11_0}, models(0x69, 0x51))},
    {"D3d11RuntimeWithout12", [](fake_tansy::World& w) { w.d3d11Knows = kLevel11_1; }, "11_1",
     "12_1", "6.6", concat({kD3d11From12_1, kD3d11From11_1, kD3d12At11_0}, models(0x69, 0x69))},
    {"D3d11RuntimeWithout11_1",
     [](fake_tansy::World& w) {
       w.d3d11Knows = kLevel11_0;
       w.adapters[0].d3d11Level = kLevel11_0;
     },
     "11_0", "12_1", "6.6",
     concat({kD3d11From12_1, kD3d11From11_1, kD3d11From11_0, kD3d12At11_0}, models(0x69, 0x69))},
    {"D3d11RuntimeRefusingAll", [](fake_tansy::World& w) { w.d3d11Knows = kLevel10_1; }, nullptr,
     "12_1", "6.6",
     concat({kD3d11From12_1, kD3d11From11_1, kD3d11From11_0, kD3d12At11_0}, models(0x69, 0x69))},
    {"ModelNotAskedAbout", [](fake_tansy::World& w) { w.adapters[0].shaderModel = 0x50; }, "11_1",
     "12_1", nullptr, concat({kD3d11From12_1, kD3d12At11_0}, models(0x69, 0x69))},
    {"LevelsWithoutNames",
     [](fake_tansy::World& w) {
       w.adapters[0].d3d11Level = 0xA200;
       w.adapters[0].d3d12Level = kLevel12_2;
     },
     "41472", "12_2", "6.6", concat({kD3d11From12_1, kD3d12At11_0}, models(0x69, 0x69))},
};

class TansyWalkTest : public testing::TestWithParam<WalkCase> {};

TEST_P(TansyWalkTest, WalksDownAsTheRuntimeRefuses) {
  machine();
  fake_tansy::World& w = fake_tansy::world();
  w.adapters.resize(1);
  w.dxcore = false;
  GetParam().setUp(w);
  const RunResult r = run();
  const json adapter = parseDocument(r.out)["adapters"][0];
  EXPECT_EQ(adapter["d3d11"]["featureLevel"], GetParam().d3d11Level) << r.out;
  EXPECT_EQ(adapter["d3d11"]["result"],
            GetParam().d3d11Level.is_null() ? "0x80070057" : "0x00000000");
  EXPECT_EQ(adapter["d3d12"]["featureLevel"], GetParam().d3d12Level) << r.out;
  EXPECT_EQ(adapter["d3d12"]["shaderModel"], GetParam().shaderModel) << r.out;
  EXPECT_EQ(w.calls, GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(Walks, TansyWalkTest, testing::ValuesIn(kWalks), LabelName());

// DXCore's lists: which adapters come out, in which order.
struct ListCase {
  const char* label;
  std::function<void(fake_tansy::World&)> setUp;
  std::vector<std::uint32_t> lowParts;  // of computeAdapters, in order
};

const std::vector<ListCase> kLists = {
    {"CoreComputeListRefused", [](fake_tansy::World& w) { w.refusedLists = fake_tansy::coreCompute; },
     {0xFFFFFFFFu, 0x30}},
    {"OnlyTheNpuListAnswers",
     [](fake_tansy::World& w) { w.refusedLists = fake_tansy::coreCompute | fake_tansy::genericMl; },
     {0xFFFFFFFFu}},
    {"EveryListRefused",
     [](fake_tansy::World& w) {
       w.refusedLists = fake_tansy::coreCompute | fake_tansy::genericMl | fake_tansy::npu;
     },
     {}},
    {"InTheOrderFirstFound",
     [](fake_tansy::World& w) {
       w.refusedLists = fake_tansy::coreCompute;
       std::swap(w.dxcoreAdapters[1], w.dxcoreAdapters[2]);
     },
     {0x30, 0xFFFFFFFFu}},
    {"AdapterWithoutLuidPassedOver",
     [](fake_tansy::World& w) { w.dxcoreAdapters[1].hasLuid = false; }, {0x30}},
    {"GraphicsNpuLeftOut",
     [](fake_tansy::World& w) { w.dxcoreAdapters[1].attributes |= fake_tansy::graphics; }, {0x30}},
};

class TansyListTest : public testing::TestWithParam<ListCase> {};

TEST_P(TansyListTest, ListsEachComputeOnlyAdapterOnce) {
  machine();
  GetParam().setUp(fake_tansy::world());
  const RunResult r = run();
  const json doc = parseDocument(r.out);
  std::vector<std::uint32_t> lowParts;
  for (const json& adapter : doc["computeAdapters"]) {
    lowParts.push_back(adapter["luidLowPart"].get<std::uint32_t>());
  }
  EXPECT_EQ(lowParts, GetParam().lowParts) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Lists, TansyListTest, testing::ValuesIn(kLists), LabelName());

// The command line: every adapter, the one with a LUID, or the usage document.
struct CommandLineCase {
  const char* label;
  std::vector<const char*> args;
  std::vector<std::uint32_t> adapters;  // the low parts listed, or none for the usage document
  std::vector<std::uint32_t> computeAdapters;
  bool usage;
};

const std::vector<CommandLineCase> kCommandLines = {
    {"None", {}, {0x10, 0x20}, {0xFFFFFFFFu, 0x30}, false},
    {"TheGpu", {"--luid-low", "16", "--luid-high", "1"}, {0x10}, {}, false},
    {"TheNpu", {"--luid-high", "-2", "--luid-low", "4294967295"}, {}, {0xFFFFFFFFu}, false},
    {"LastValueCounts", {"--luid-low", "1", "--luid-high", "0", "--luid-low", "32"}, {0x20}, {}, false},
    {"SaturatedAsBrindleReadsIt", {"--luid-low", "99999999999", "--luid-high", "-2"}, {}, {0xFFFFFFFFu}, false},
    {"NoneHasIt", {"--luid-low", "16", "--luid-high", "0"}, {}, {}, false},
    {"LowOnly", {"--luid-low", "16"}, {}, {}, true},
    {"HighWithoutValue", {"--luid-low", "16", "--luid-high"}, {}, {}, true},
    {"Help", {"--help"}, {}, {}, true},
    {"Extra", {"--luid-low", "16", "--luid-high", "1", "extra"}, {}, {}, true},
};

class TansyCommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(TansyCommandLineTest, ExaminesTheAdaptersAsked) {
  machine();
  const RunResult r = run(GetParam().args);
  if (GetParam().usage) {
    EXPECT_EQ(r.out,
              "{\"schema\":1,\"error\":{\"code\":\"invalid_args\",\"message\":\"Usage: tansy.exe "
              "[--luid-low <uint32> --luid-high <int32>]\"}}\n");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(fake_tansy::world().acquired.empty()) << "the platform was reached";
    return;
  }
  const json doc = parseDocument(r.out);
  std::vector<std::uint32_t> adapters;
  std::vector<std::uint32_t> computeAdapters;
  for (const json& a : doc["adapters"]) adapters.push_back(a["luidLowPart"].get<std::uint32_t>());
  for (const json& a : doc["computeAdapters"]) {
    computeAdapters.push_back(a["luidLowPart"].get<std::uint32_t>());
  }
  EXPECT_EQ(adapters, GetParam().adapters) << r.out;
  EXPECT_EQ(computeAdapters, GetParam().computeAdapters) << r.out;
  EXPECT_EQ(r.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, TansyCommandLineTest, testing::ValuesIn(kCommandLines),
                         LabelName());

// A driver's description reaches the document as UTF-8 whatever bytes it holds.
TEST(TansyText, KeepsWellFormedUtf8AndReplacesEveryOtherByte) {
  const std::string kBad = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> rows[] = {
      {"NPU", "NPU"},
      {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF", "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"},
      {"\x80x", kBad + "x"},                                  // a stray continuation
      {"\xC0\xAF", kBad + kBad},                              // overlong
      {"\xE0\x80\x80", kBad + kBad + kBad},                   // overlong
      {"\xED\xA0\x80", kBad + kBad + kBad},                   // a surrogate
      {"\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},        // past U+10FFFF
      {"ab\xE2\x82", "ab" + kBad + kBad},                     // cut at the end
      {"\xE2\x82x", kBad + kBad + "x"},                       // cut before a letter
      {"Radeon\xAE", "Radeon" + kBad},                         // Windows-1252's ®
  };
  for (const auto& [bytes, text] : rows) EXPECT_EQ(wellFormedUtf8(bytes), text) << bytes;
}

TEST(TansyRun, NoDxgiFactoryIsTheErrorDocument) {
  machine();
  fake_tansy::world().factoryResult = static_cast<HResult>(0x887A0004u);
  const RunResult r = run();
  EXPECT_EQ(r.out,
            "{\"schema\":1,\"error\":{\"code\":\"dxgi_failed\",\"message\":\"CreateDXGIFactory1 "
            "failed: 0x887A0004\"}}\n");
  EXPECT_EQ(r.exitCode, 1);
}

}  // namespace
