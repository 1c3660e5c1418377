// The join by LUID on tables of documents, the order and number of children that
// takeInventory runs (and when it stops), what inventory.exe prints, its options, and the
// child's command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "command_line.h"
#include "gpu_inventory/inventory.h"
#include "inventory_output.h"
#include "tool_options.h"

namespace {

using namespace gpu_inventory;

using Json = nlohmann::ordered_json;

std::string adapterJson(const char* name, unsigned low, int high) {
  return "{\"index\":0,\"name\":\"" + std::string(name) +
         "\",\"vendorId\":4318,\"deviceId\":9,\"dedicatedVideoMemory\":8589934592,\"luidLowPart\":" +
         std::to_string(low) + ",\"luidHighPart\":" + std::to_string(high) + ",\"isIntegratedGpu\":false}";
}

std::string deviceJson(unsigned vkIndex, const char* name, bool valid, unsigned low = 0, int high = 0) {
  return "{\"vkIndex\":" + std::to_string(vkIndex) + ",\"name\":\"" + name +
         "\",\"vendorId\":4318,\"deviceId\":9,\"deviceLuidValid\":" + (valid ? "true" : "false") +
         (valid ? ",\"luidLowPart\":" + std::to_string(low) + ",\"luidHighPart\":" + std::to_string(high) : "") +
         ",\"apiVersion\":\"1.3.0\",\"driverVersionRaw\":1,\"driverVersionFormatted\":\"0.0.1\"}";
}

ChildRun answer(const std::string& document, std::uint32_t exitCode = 0) {
  ChildRun child;
  child.started = true;
  child.exitCode = exitCode;
  child.output = document + "\n";
  return child;
}

// Two identical adapters (other LUIDs), listed in another order than Vulkan's devices.
const std::string fennelDoc = "{\"schema\":1,\"dxcoreAvailable\":true,\"adapters\":[" +
                              adapterJson("Twin", 20, 0) + "," + adapterJson("Twin", 10, 0) + "," +
                              adapterJson("Other\\nGPU", 30, -1) + "]}";
// Two devices on LUID 20:0 (a translation layer's listed first), one without a valid LUID,
// one on a LUID that no adapter has.
const std::string quarryDoc = "{\"schema\":2,\"devices\":[" + deviceJson(2, "Twin layered", true, 20, 0) +
                              "," + deviceJson(1, "Twin B", true, 10, 0) + "," +
                              deviceJson(3, "llvmpipe", false) + "," + deviceJson(0, "Twin A", true, 20, 0) +
                              "," + deviceJson(4, "Elsewhere", true, 99, 0) + "]}";
const std::string quarryError = R"({"schema":2,"error":{"code":"vulkan_init_failed","message":"none"}})";
const std::string noMatch =
    R"({"schema":1,"matched":false,"reason":"no_match","platformCount":1,"d3d11SharingPlatforms":0,"luidExtDevices":0})";
const std::string match =
    R"({"schema":1,"matched":true,"selector":"P:GPU:D","platform":"P","device":"D","deviceIndex":1,"method":"luid"})";

std::vector<std::string> names(const std::vector<VulkanDevice>& devices) {
  std::vector<std::string> result;
  for (const VulkanDevice& device : devices) result.push_back(device.name);
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
};

class JoinTest : public testing::TestWithParam<JoinCase> {};

TEST_P(JoinTest, DevicesFollowTheirAdapterByLuid) {
  const JoinCase& c = GetParam();
  FennelRun fennel = readFennelRun(answer(c.fennel, c.fennelExit));
  const Inventory inventory = joinInventory(fennel, readQuarryRun(answer(c.quarry, c.quarryExit)),
                                            std::vector<BrindleRun>(fennel.adapters.size()));
  std::vector<std::vector<std::string>> perAdapter;
  for (const AdapterInventory& entry : inventory.adapters) perAdapter.push_back(names(entry.vulkanDevices));
  EXPECT_EQ(perAdapter, c.perAdapter);
  EXPECT_EQ(names(inventory.otherVulkanDevices), c.others);
}

INSTANTIATE_TEST_SUITE_P(Documents, JoinTest, testing::Values(
    JoinCase{"by_luid_in_vkindex_order", fennelDoc, 0, quarryDoc, 0,
             {{"Twin A", "Twin layered"}, {"Twin B"}, {}}, {"llvmpipe", "Elsewhere"}},
    JoinCase{"no_adapters", R"({"schema":1,"dxcoreAvailable":false,"adapters":[]})", 0, quarryDoc, 0,
             {}, {"Twin A", "Twin B", "Twin layered", "llvmpipe", "Elsewhere"}},
    JoinCase{"fennel_failed_drops_no_device", R"({"schema":1,"error":{"code":"dxgi_failed","message":"x"}})", 1,
             quarryDoc, 0, {}, {"Twin A", "Twin B", "Twin layered", "llvmpipe", "Elsewhere"}},
    JoinCase{"quarry_failed", fennelDoc, 0, quarryError, 1, {{}, {}, {}}, {}}),
    [](const testing::TestParamInfo<JoinCase>& p) { return std::string(p.param.label); });

// A runner that answers from the documents above and records what ran, how many at once, and
// whether a brindle run began while quarry was still going. On request it throws for one
// probe, holds fennel back until that throw, or changes the current directory.
struct Recorder {
  std::vector<std::string> ran;
  int running = 0, mostAtOnce = 0;
  bool quarryWaitsForBrindle = false, brindleBeganDuringQuarry = false;
  unsigned adapters = 6;     // in fennel's answer
  std::string throwsFor;     // "quarry.exe"...: that run throws
  bool fennelWaitsForThrow = false, thrown = false;
  std::string moveTo;        // a folder the first run makes the current directory
  std::vector<std::string> executables;  // as given to the runner
};
struct RunnerBroke {};  // not a std::exception: any exception reaches the caller
Recorder recorder;
std::mutex recorderLock;
std::condition_variable recorderChanged;

ChildRun recordedRun(const std::string& executable, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds) {
  const std::string probe = executable.substr(executable.find_last_of('\\') + 1);
  std::unique_lock<std::mutex> hold(recorderLock);
  std::string line = probe;
  for (const std::string& argument : arguments) line += " " + argument;
  recorder.ran.push_back(line);
  recorder.executables.push_back(executable);
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
  return answer(probe == "quarry.exe" ? quarryDoc : noMatch);
}

TEST(TakeInventory, SequentialRunsOneChildAtATimeInOrder) {
  recorder = {};
  const Inventory inventory = takeInventory("C:\\probes", {std::chrono::milliseconds(5), true}, recordedRun);
  EXPECT_EQ(recorder.mostAtOnce, 1);
  ASSERT_EQ(recorder.ran.size(), 8u);
  EXPECT_EQ(recorder.ran[0], "fennel.exe");
  EXPECT_EQ(recorder.ran[1], "quarry.exe");
  EXPECT_EQ(recorder.ran[7], "brindle.exe --luid-low 5 --luid-high -1");
  EXPECT_EQ(inventory.adapters.at(5).brindle.run.outcome, Outcome::answered);
}

TEST(TakeInventory, BrindleStartsAsSoonAsFennelAnsweredAndAtMostFourRun) {
  recorder = {};
  recorder.quarryWaitsForBrindle = true;
  const Inventory inventory = takeInventory("C:\\probes\\", {}, recordedRun);
  EXPECT_TRUE(recorder.brindleBeganDuringQuarry);
  EXPECT_LE(recorder.mostAtOnce, 4);
  EXPECT_EQ(recorder.ran.size(), 8u);
  EXPECT_EQ(inventory.adapters.size(), 6u);
}

TEST(TakeInventory, SixtyFiveAdaptersAreGarbledAndStartNoBrindleRun) {
  recorder = {};
  recorder.adapters = 65;
  const Inventory inventory = takeInventory("C:\\probes", {std::chrono::milliseconds(5), true}, recordedRun);
  EXPECT_EQ(recorder.ran, (std::vector<std::string>{"fennel.exe", "quarry.exe"}));
  EXPECT_EQ(inventory.fennel.run.outcome, Outcome::garbled);
  EXPECT_TRUE(inventory.adapters.empty());
}

TEST(TakeInventory, ARunnerThatThrowsReachesTheCallerWithNothingLeftRunning) {
  // Sequential: fennel throws, and quarry never starts.
  recorder = {};
  recorder.throwsFor = "fennel.exe";
  EXPECT_THROW(takeInventory("C:\\probes", {std::chrono::milliseconds(5), true}, recordedRun), RunnerBroke);
  EXPECT_EQ(recorder.ran, std::vector<std::string>{"fennel.exe"});

  // Side by side: quarry throws while fennel still runs; the throw waits for fennel's end, and
  // fennel's adapters start no brindle run.
  recorder = {};
  recorder.throwsFor = "quarry.exe";
  recorder.fennelWaitsForThrow = true;
  EXPECT_THROW(takeInventory("C:\\probes", {}, recordedRun), RunnerBroke);
  std::lock_guard<std::mutex> hold(recorderLock);
  EXPECT_EQ(recorder.running, 0);
  EXPECT_EQ(recorder.ran.size(), 2u);
}

TEST(TakeInventory, ARelativeFolderIsResolvedOnceBeforeTheFirstRun) {
  namespace fs = std::filesystem;
  const fs::path before = fs::current_path();
  recorder = {};
  recorder.moveTo = fs::temp_directory_path().string();  // another thread's chdir, mid-inventory
  takeInventory("probes here", {std::chrono::milliseconds(5), true}, recordedRun);
  fs::current_path(before);
  const std::string folder = (before / "probes here").string();
  ASSERT_EQ(recorder.executables.size(), 8u);
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
}

TEST(InventoryOutput, DocumentAndTableSayWhatEachProbeDid) {
  FennelRun fennel = readFennelRun(answer(fennelDoc));
  ChildRun hung;
  hung.started = hung.timedOut = true;
  hung.timeoutSeconds = 30;
  const Inventory inventory = joinInventory(
      fennel, readQuarryRun(answer(quarryDoc)),
      {readBrindleRun(answer(match)), readBrindleRun(hung),
       readBrindleRun(answer(R"({"schema":1,"matched":false,"error":{"code":"dxgi_adapter_not_found","message":"m"}})", 1))});
  const std::string text = inventoryDocument(inventory);
  ASSERT_EQ(text.find('\n'), text.size() - 1);
  const Json document = Json::parse(text);
  std::vector<std::string> keys;
  for (const auto& item : document.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"schema", "fennel", "quarry", "adapters", "otherVulkanDevices"}));
  EXPECT_FALSE(document["fennel"].contains("problem"));
  EXPECT_EQ(document["fennel"]["document"], Json::parse(fennelDoc));
  EXPECT_EQ(document["adapters"][0]["adapter"], Json::parse(adapterJson("Twin", 20, 0)));
  EXPECT_EQ(document["adapters"][1]["brindle"]["exitCode"], nullptr);
  EXPECT_EQ(document["adapters"][1]["brindle"]["outcome"], "timedOut");

  const std::string table = inventoryTable(inventory);
  // A line feed in a driver's name does not break the table: a header, a rule, three rows, two devices.
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 7) << table;
  for (const char* cell : {"#0 Twin A; #2 Twin layered", "P / D (#1, by luid)", "brindle timed out: no answer within 30 s",
                           "brindle failed: dxgi_adapter_not_found: m", "Vulkan device of no DXGI adapter: #3 llvmpipe (no LUID)",
                           "20:0   8.0 GiB", "Other GPU     30:-1"}) {
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
    OptionsCase{"unknown", {"--fast"}, "unknown option: --fast", 0, false, false, false}),
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
