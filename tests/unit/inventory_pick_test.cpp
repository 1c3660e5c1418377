// The pick over small joined inventories: each need met and not, the order of consideration,
// the needs as inventory.exe spells them, and the pick as the document and the table write it.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "gpu_inventory/pick.h"
#include "inventory_output.h"
#include "tool_options.h"

namespace {

using namespace gpu_inventory;
using Json = nlohmann::ordered_json;
using R = PassedOver;

constexpr std::uint64_t gib = 1ull << 30;

AdapterInventory gpu(const char* name, std::uint32_t low, bool integrated = false, std::uint64_t memory = 8 * gib) {
  AdapterInventory entry;
  entry.adapter.name = name;
  entry.adapter.luidLowPart = low;
  entry.adapter.isIntegratedGpu = integrated;
  entry.adapter.dedicatedVideoMemory = memory;
  entry.adapter.vendorId = 0x10DE;
  entry.preferredVulkanDevice = 0;
  entry.openclKind = DeviceKind::native;
  TansyAdapter capabilities;
  capabilities.luidLowPart = low;
  capabilities.d3d11 = D3d11Capabilities{"0x00000000", "11_1"};
  D3d12Capabilities d3d12;
  d3d12.result = "0x00000000";
  d3d12.featureLevel = "12_1";
  d3d12.shaderModel = "6.6";
  d3d12.uma = integrated;
  capabilities.d3d12 = d3d12;
  entry.capabilities = capabilities;
  return entry;
}

// Three adapters: a discrete GPU, an integrated one and the Basic Render Driver; Windows'
// order, high performance: 0, 1, 2; minimum power: 1, 0, 2.
Inventory machine() {
  Inventory inventory;
  inventory.adapters = {gpu("Discrete", 10), gpu("Integrated", 20, true, 128u << 20), gpu("Basic Render", 30)};
  inventory.adapters[2].kind = AdapterKind::software;
  inventory.adapters[2].preferredVulkanDevice.reset();
  inventory.adapters[2].openclKind.reset();
  inventory.order = {{0, 1, 2}, {1, 0, 2}, OrderSource::windows};
  return inventory;
}

std::optional<D3d12Capabilities>& d3d12Of(Inventory& inventory, std::size_t position) {
  return inventory.adapters[position].capabilities->d3d12;
}

SorrelAdapter budgets(std::optional<std::uint64_t> local, std::optional<std::uint64_t> nonLocal,
                      std::optional<std::uint64_t> dedicatedUsage = std::nullopt) {
  SorrelAdapter state;
  state.localBudget = local;
  state.nonLocalBudget = nonLocal;
  state.dedicatedUsage = dedicatedUsage;
  return state;
}

Needs needsOf(const std::vector<std::string>& texts) {
  Needs needs;
  for (const std::string& text : texts) {
    std::string problem;
    EXPECT_TRUE(addNeed(needs, text, problem)) << text << ": " << problem;
  }
  return needs;
}

struct PickCase {
  const char* label;
  std::function<void(Inventory&)> change;  // from machine()
  std::vector<std::string> needs;
  std::optional<std::uint32_t> adapter;
  std::optional<PickedBecause> because;
  // Each candidate in the order considered: its position and reasons.
  std::vector<std::pair<std::uint32_t, std::vector<PassedOver>>> candidates;
  PreferredOrder prefer = PreferredOrder::highPerformance;
  bool honourUserChoice = true;
};

class PickTest : public testing::TestWithParam<PickCase> {};

TEST_P(PickTest, FirstEligibleCandidateWithEachOnesReasons) {
  const PickCase& c = GetParam();
  Inventory inventory = machine();
  if (c.change) c.change(inventory);
  PickRequest request;
  request.prefer = c.prefer;
  request.honourUserChoice = c.honourUserChoice;
  request.needs = needsOf(c.needs);
  const Pick pick = pickAdapter(inventory, request);
  EXPECT_EQ(pick.adapter, c.adapter);
  EXPECT_EQ(pick.because, c.because);
  std::vector<std::pair<std::uint32_t, std::vector<PassedOver>>> candidates;
  for (const Candidate& candidate : pick.candidates) {
    candidates.emplace_back(candidate.adapter, candidate.reasons);
    EXPECT_EQ(candidate.eligible(), candidate.reasons.empty());
  }
  EXPECT_EQ(candidates, c.candidates);
  EXPECT_EQ(pickedEntry(inventory, pick), c.adapter ? &inventory.adapters[*c.adapter] : nullptr);
}

INSTANTIATE_TEST_SUITE_P(Needs, PickTest, testing::Values(
    PickCase{"no_needs_windows_order", nullptr, {}, 0, PickedBecause::windowsOrder,
             {{0, {}}, {1, {}}, {2, {R::software}}}},
    PickCase{"rule_order", [](Inventory& i) { i.order.from = OrderSource::rule; }, {}, 0, PickedBecause::ruleOrder,
             {{0, {}}, {1, {}}, {2, {R::software}}}},
    PickCase{"minimum_power", nullptr, {}, 1, PickedBecause::windowsOrder, {{1, {}}, {0, {}}, {2, {R::software}}},
             PreferredOrder::minimumPower},
    PickCase{"user_choice_first", [](Inventory& i) { i.chosenAdapter = 1; }, {}, 1, PickedBecause::userChoice,
             {{1, {}}, {0, {}}, {2, {R::software}}}},
    PickCase{"user_choice_ignored", [](Inventory& i) { i.chosenAdapter = 1; }, {}, 0, PickedBecause::windowsOrder,
             {{0, {}}, {1, {}}, {2, {R::software}}}, PreferredOrder::highPerformance, false},
    PickCase{"user_choice_passed_over", [](Inventory& i) { i.chosenAdapter = 1; }, {"discrete"}, 0,
             PickedBecause::windowsOrder, {{1, {R::integrated}}, {0, {}}, {2, {R::software}}}},
    PickCase{"user_choice_of_the_software_adapter", [](Inventory& i) { i.chosenAdapter = 2; }, {}, 0,
             PickedBecause::windowsOrder, {{2, {R::software}}, {0, {}}, {1, {}}}},
    PickCase{"only_software", [](Inventory& i) { i.adapters.resize(1); i.adapters[0].kind = AdapterKind::software;
                                                  i.order = {{0}, {0}, OrderSource::rule}; },
             {}, std::nullopt, std::nullopt, {{0, {R::software}}}},
    PickCase{"no_adapters", [](Inventory& i) { i.adapters.clear(); i.order = {}; i.chosenAdapter = 0; }, {},
             std::nullopt, std::nullopt, {}},
    // An order made by hand may miss an entry or name one twice or out of range: each entry once.
    PickCase{"order_made_by_hand", [](Inventory& i) { i.order.highPerformance = {1, 1, 7}; }, {}, 1,
             PickedBecause::windowsOrder, {{1, {}}, {0, {}}, {2, {R::software}}}},
    // Past the hand-made order, the rest come in fennel's order: the inventory's own, not Windows'.
    PickCase{"order_missing_the_pick", [](Inventory& i) { i.order.highPerformance = {2}; }, {}, 0,
             PickedBecause::ruleOrder, {{2, {R::software}}, {0, {}}, {1, {}}}},
    PickCase{"discrete", nullptr, {"discrete"}, 0, PickedBecause::windowsOrder,
             {{0, {}}, {1, {R::integrated}}, {2, {R::software}}}},
    PickCase{"nothing_eligible", nullptr, {"discrete", "memory=9GiB"}, std::nullopt, std::nullopt,
             {{0, {R::notEnoughMemory}}, {1, {R::integrated, R::notEnoughMemory}}, {2, {R::software, R::notEnoughMemory}}}},
    // Discrete: the free dedicated memory; without sorrel's usage, all of it.
    PickCase{"memory_free_dedicated", [](Inventory& i) { i.adapters[0].state = budgets(std::nullopt, std::nullopt, 5 * gib); },
             {"memory=4GiB"}, std::nullopt, std::nullopt,
             {{0, {R::notEnoughMemory}}, {1, {R::notEnoughMemory}}, {2, {R::software}}}},
    PickCase{"memory_free_dedicated_enough", [](Inventory& i) { i.adapters[0].state = budgets(std::nullopt, std::nullopt, 4 * gib); },
             {"memory=4GiB"}, 0, PickedBecause::windowsOrder,
             {{0, {}}, {1, {R::notEnoughMemory}}, {2, {R::software}}}},
    // Shared memory: both budgets, not the small carve-out fennel calls dedicated.
    PickCase{"memory_budgets_of_an_integrated_gpu", [](Inventory& i) { i.adapters[1].state = budgets(gib, 3 * gib); },
             {"memory=4GiB"}, 1, PickedBecause::windowsOrder, {{1, {}}, {0, {}}, {2, {R::software}}},
             PreferredOrder::minimumPower},
    PickCase{"memory_budgets_short", [](Inventory& i) { i.adapters[1].state = budgets(gib, 3 * gib - 1); },
             {"memory=4GiB"}, 0, PickedBecause::windowsOrder, {{1, {R::notEnoughMemory}}, {0, {}}, {2, {R::software}}},
             PreferredOrder::minimumPower},
    PickCase{"memory_one_budget_unknown", [](Inventory& i) { i.adapters[1].state = budgets(8 * gib, std::nullopt); },
             {"memory=1GiB"}, 0, PickedBecause::windowsOrder, {{1, {R::notEnoughMemory}}, {0, {}}, {2, {R::software}}},
             PreferredOrder::minimumPower},
    // UMA decides over the integrated flag; where it is unknown the flag does.
    PickCase{"memory_uma_on_a_gpu_not_flagged_integrated",
             [](Inventory& i) { d3d12Of(i, 0)->uma = true; i.adapters[0].state = budgets(gib, gib, 0); },
             {"memory=4GiB"}, std::nullopt, std::nullopt,
             {{0, {R::notEnoughMemory}}, {1, {R::notEnoughMemory}}, {2, {R::software}}}},
    PickCase{"memory_not_uma_on_a_gpu_flagged_integrated",
             [](Inventory& i) { d3d12Of(i, 1)->uma = false; i.adapters[1].state = budgets(8 * gib, 8 * gib, 0); },
             {"memory=1GiB"}, 0, PickedBecause::windowsOrder, {{1, {R::notEnoughMemory}}, {0, {}}, {2, {R::software}}},
             PreferredOrder::minimumPower},
    PickCase{"memory_uma_unknown_takes_the_flag",
             [](Inventory& i) { i.adapters[1].capabilities.reset(); i.adapters[1].state = budgets(4 * gib, gib); },
             {"memory=5GiB"}, 1, PickedBecause::windowsOrder, {{1, {}}, {0, {}}, {2, {R::software}}},
             PreferredOrder::minimumPower},
    PickCase{"unknown_capabilities", [](Inventory& i) { i.adapters[0].capabilities.reset(); },
             {"d3d11", "d3d12=12_0", "shader-model=6.0"}, 1, PickedBecause::windowsOrder,
             {{0, {R::capabilitiesUnknown}}, {1, {}}, {2, {R::software}}}},
    PickCase{"unknown_capabilities_without_a_direct3d_need", [](Inventory& i) { i.adapters[0].capabilities.reset(); },
             {"vulkan"}, 0, PickedBecause::windowsOrder, {{0, {}}, {1, {}}, {2, {R::software, R::noVulkanDevice}}}},
    PickCase{"direct3d11", [](Inventory& i) {
               i.adapters[0].capabilities->d3d11->featureLevel.reset();
               i.adapters[1].capabilities->d3d11.reset(); }, {"d3d11"}, std::nullopt, std::nullopt,
             {{0, {R::noDirect3d11Device}}, {1, {R::noDirect3d11Device}}, {2, {R::software}}}},
    PickCase{"direct3d11_level", [](Inventory& i) { i.adapters[0].capabilities->d3d11->featureLevel = "10_1"; },
             {"d3d11=11_0"}, 1, PickedBecause::windowsOrder, {{0, {R::direct3d11LevelBelow}}, {1, {}}, {2, {R::software}}}},
    // A level tansy has no name for is its number: 45312 is 11_1, 45057 is just above 11_0.
    PickCase{"direct3d11_level_as_a_number", [](Inventory& i) {
               i.adapters[0].capabilities->d3d11->featureLevel = "45057";
               i.adapters[1].capabilities->d3d11->featureLevel = "45312"; },
             {"d3d11=11_1"}, 1, PickedBecause::windowsOrder,
             {{0, {R::direct3d11LevelBelow}}, {1, {}}, {2, {R::software}}}},
    PickCase{"direct3d12", [](Inventory& i) { d3d12Of(i, 0).reset(); d3d12Of(i, 1)->featureLevel.reset(); },
             {"d3d12"}, std::nullopt, std::nullopt,
             {{0, {R::noDirect3d12Device}}, {1, {R::noDirect3d12Device}}, {2, {R::software}}}},
    PickCase{"direct3d12_level", [](Inventory& i) { d3d12Of(i, 0)->featureLevel = "12_0"; },
             {"d3d12=12_1"}, 1, PickedBecause::windowsOrder, {{0, {R::direct3d12LevelBelow}}, {1, {}}, {2, {R::software}}}},
    PickCase{"direct3d12_level_met_exactly", nullptr, {"d3d12=12_1"}, 0, PickedBecause::windowsOrder,
             {{0, {}}, {1, {}}, {2, {R::software}}}},
    PickCase{"shader_model", [](Inventory& i) { d3d12Of(i, 0)->shaderModel = "6.5"; d3d12Of(i, 1)->shaderModel.reset(); },
             {"shader-model=6.6"}, std::nullopt, std::nullopt,
             {{0, {R::shaderModelBelow}}, {1, {R::shaderModelBelow}}, {2, {R::software}}}},
    // (major, minor): 6.10 is after 6.9, 5.1 before 6.0.
    PickCase{"shader_model_compared_as_numbers",
             [](Inventory& i) { d3d12Of(i, 0)->shaderModel = "6.10"; d3d12Of(i, 1)->shaderModel = "5.1"; },
             {"shader-model=6.9"}, 0, PickedBecause::windowsOrder,
             {{0, {}}, {1, {R::shaderModelBelow}}, {2, {R::software, R::shaderModelBelow}}}},
    PickCase{"shader_model_without_a_device_once", [](Inventory& i) { d3d12Of(i, 0)->featureLevel.reset(); },
             {"d3d12=12_0", "shader-model=6.0"}, 1, PickedBecause::windowsOrder,
             {{0, {R::noDirect3d12Device}}, {1, {}}, {2, {R::software}}}},
    PickCase{"vulkan_and_opencl", [](Inventory& i) { i.adapters[0].preferredVulkanDevice.reset(); i.adapters[1].openclKind.reset(); },
             {"vulkan", "opencl"}, std::nullopt, std::nullopt,
             {{0, {R::noVulkanDevice}}, {1, {R::noOpenclDevice}}, {2, {R::software, R::noVulkanDevice, R::noOpenclDevice}}}},
    PickCase{"every_reason_in_its_order", [](Inventory& i) {
               i.adapters[1].kind = AdapterKind::software;
               i.adapters[1].preferredVulkanDevice.reset();
               i.adapters[1].openclKind.reset();
               i.adapters[1].capabilities->d3d11->featureLevel = "10_0";
               d3d12Of(i, 1)->featureLevel = "11_0";
               d3d12Of(i, 1)->shaderModel = "6.0"; },
             {"opencl", "vulkan", "shader-model=6.1", "d3d12=11_1", "d3d11=11_0", "memory=1GiB", "discrete"},
             0, PickedBecause::windowsOrder,
             {{0, {}},
              {1, {R::software, R::integrated, R::notEnoughMemory, R::direct3d11LevelBelow, R::direct3d12LevelBelow,
                   R::shaderModelBelow, R::noVulkanDevice, R::noOpenclDevice}},
              {2, {R::software, R::noVulkanDevice, R::noOpenclDevice}}}}),
    [](const testing::TestParamInfo<PickCase>& p) { return std::string(p.param.label); });

struct NeedCase {
  std::vector<std::string> given;
  std::string problem;              // a part of it; empty when every need is right
  std::vector<std::string> texts;   // needTexts when right
};

TEST(Needs, SpelledAsInventoryExeReadsThem) {
  const std::vector<NeedCase> cases = {
      {{"discrete"}, "", {"discrete"}},
      {{"memory=4294967296"}, "", {"memory=4294967296"}},
      {{"memory=4GiB"}, "", {"memory=4294967296"}},
      {{"memory=512MiB"}, "", {"memory=536870912"}},
      {{"memory=3KiB"}, "", {"memory=3072"}},
      {{"memory=18446744073709551615"}, "", {"memory=18446744073709551615"}},
      {{"memory=17179869183GiB"}, "", {"memory=18446744072635809792"}},
      {{"opencl", "vulkan", "shader-model=6.2", "d3d12=12_0", "d3d11", "memory=1KiB", "discrete"}, "",
       {"discrete", "memory=1024", "d3d11", "d3d12=12_0", "shader-model=6.2", "vulkan", "opencl"}},
      {{"d3d11=9_1"}, "", {"d3d11=9_1"}},
      {{"d3d11=12_1"}, "", {"d3d11=12_1"}},
      {{"d3d12=11_0"}, "", {"d3d12=11_0"}},
      {{"d3d12=12_2"}, "", {"d3d12=12_2"}},
      {{"d3d12"}, "", {"d3d12"}},
      {{"shader-model=5.1"}, "", {"shader-model=5.1"}},
      {{"shader-model=6.9"}, "", {"shader-model=6.9"}},
      {{"gpu"}, "unknown need: gpu", {}},
      {{"Discrete"}, "unknown need", {}},
      {{""}, "unknown need", {}},
      {{"discrete=yes"}, "discrete takes no value", {}},
      {{"vulkan="}, "vulkan takes no value", {}},
      {{"memory"}, "memory needs a size", {}},
      {{"memory="}, "memory needs a size", {}},
      {{"memory=0"}, "memory needs a size", {}},
      {{"memory=4GB"}, "not \"4GB\"", {}},
      {{"memory=4gib"}, "memory needs a size", {}},
      {{"memory=1.5GiB"}, "memory needs a size", {}},
      {{"memory=-1"}, "memory needs a size", {}},
      {{"memory= 4GiB"}, "memory needs a size", {}},
      {{"memory=GiB"}, "memory needs a size", {}},
      {{"memory=18446744073709551616"}, "memory needs a size", {}},
      {{"memory=17179869184GiB"}, "memory needs a size", {}},
      {{"d3d11=12_2"}, "from 9_1 to 12_1, not \"12_2\"", {}},
      {{"d3d11=8_0"}, "d3d11 needs a feature level", {}},
      {{"d3d12=10_1"}, "from 11_0 to 12_2", {}},
      {{"d3d12=12.0"}, "d3d12 needs a feature level", {}},
      {{"d3d12=49152"}, "d3d12 needs a feature level", {}},
      {{"d3d12="}, "d3d12 needs a feature level", {}},
      {{"shader-model"}, "shader-model needs a model", {}},
      {{"shader-model=6"}, "shader-model needs a model", {}},
      {{"shader-model=5.0"}, "shader-model needs a model", {}},
      {{"shader-model=6.10"}, "shader-model needs a model", {}},
      {{"shader-model=7.0"}, "shader-model needs a model", {}},
      {{"discrete", "discrete"}, "the need discrete is named twice", {}},
      {{"d3d12", "d3d12=12_0"}, "the need d3d12 is named twice", {}},
      {{"memory=1GiB", "memory=2GiB"}, "the need memory is named twice", {}},
      {{"shader-model=6.0", "shader-model=6.0"}, "named twice", {}},
  };
  for (const NeedCase& c : cases) {
    Needs needs;
    std::string problem;
    bool right = true;
    for (const std::string& text : c.given) right = right && addNeed(needs, text, problem);
    EXPECT_EQ(right, c.problem.empty()) << c.given.back() << ": " << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.given.back() << ": " << problem;
    if (right) {
      EXPECT_EQ(needTexts(needs), c.texts) << c.given.back();
    }
  }
}

TEST(Needs, FeatureLevelsAsTansyPrintsThem) {
  const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> cases = {
      {"9_1", 0x9100}, {"10_0", 0xa000}, {"11_1", 0xb100}, {"12_2", 0xc200}, {"0", 0}, {"4096", 4096},
      {"4294967295", 4294967295u}, {"4294967296", std::nullopt}, {"12345678901", std::nullopt},
      {"12.1", std::nullopt}, {"", std::nullopt}, {"-1", std::nullopt}, {"1_0_core", std::nullopt}};
  for (const auto& [text, value] : cases) EXPECT_EQ(featureLevelValue(text), value) << text;
}

struct PickOptionsCase {
  std::vector<std::string> arguments;
  std::string usageError;  // a part of it
  PreferredOrder prefer;
  bool honourUserChoice;
  std::vector<std::string> needs;
};

TEST(PickOptions, PreferNeedAndTheUserChoice) {
  const std::vector<PickOptionsCase> cases = {
      {{}, "", PreferredOrder::highPerformance, true, {}},
      {{"--prefer", "minimum-power", "--ignore-user-choice"}, "", PreferredOrder::minimumPower, false, {}},
      {{"--prefer", "minimum-power", "--prefer", "high-performance"}, "", PreferredOrder::highPerformance, true, {}},
      {{"--need", "d3d12=12_0", "--need", "memory=4GiB", "--json"}, "", PreferredOrder::highPerformance, true,
       {"memory=4294967296", "d3d12=12_0"}},
      {{"--prefer", "highPerformance"}, "--prefer needs high-performance or minimum-power", {}, true, {}},
      {{"--prefer"}, "--prefer needs", {}, true, {}},
      {{"--need"}, "--need needs a need", {}, true, {}},
      {{"--need", "d3d13"}, "--need: unknown need: d3d13", {}, true, {}},
      {{"--need", "vulkan", "--need", "vulkan"}, "--need: the need vulkan is named twice", {}, true, {}},
      {{"--need", "shader-model=6.10"}, "--need: shader-model needs a model", {}, true, {}},
      {{"--ignore-user-choice=yes"}, "unknown option", {}, true, {}},
  };
  for (const PickOptionsCase& c : cases) {
    const ToolOptions options = parseToolOptions(c.arguments);
    const std::string line = c.arguments.empty() ? "" : c.arguments.back();
    EXPECT_EQ(options.usageError.empty(), c.usageError.empty()) << line << ": " << options.usageError;
    EXPECT_NE(options.usageError.find(c.usageError), std::string::npos) << options.usageError;
    if (!c.usageError.empty()) continue;
    EXPECT_EQ(options.pick.prefer, c.prefer) << line;
    EXPECT_EQ(options.pick.honourUserChoice, c.honourUserChoice) << line;
    EXPECT_EQ(needTexts(options.pick.needs), c.needs) << line;
  }
}

TEST(PickOutput, TheDocumentsObjectAndTheTablesFirstLines) {
  Inventory inventory = machine();
  inventory.fennel.run.outcome = Outcome::answered;
  inventory.chosenAdapter = 1;
  inventory.graphicsSettings.program = "C:\\Python\\python.exe";
  d3d12Of(inventory, 1)->featureLevel = "11_1";
  inventory.adapters[0].state = budgets(std::nullopt, std::nullopt, 7 * gib);
  PickRequest request;
  request.needs = needsOf({"d3d12=12_0", "memory=2GiB"});
  const Json pick = Json::parse(inventoryDocument(inventory, request))["pick"];
  EXPECT_EQ(pick, Json::parse(R"({"prefer":"highPerformance","userChoice":true,
      "needs":["memory=2147483648","d3d12=12_0"],"adapter":null,"because":null,"candidates":[
      {"adapter":1,"eligible":false,"reasons":["notEnoughMemory","direct3d12LevelBelow"]},
      {"adapter":0,"eligible":false,"reasons":["notEnoughMemory"]},
      {"adapter":2,"eligible":false,"reasons":["software"]}]})"));
  const std::string none = inventoryTable(inventory, request);
  EXPECT_EQ(none.substr(0, none.find("\nDXGI adapter")),
            "Pick: none: no adapter meets the needs memory=2147483648, d3d12=12_0\n"
            "Passed over: Integrated (20:0): 128 MiB of memory for a program, less than the 2.0 GiB needed; "
            "Direct3D 12 at 11_1, below 12_0\n"
            "Passed over: Discrete (10:0): 1.0 GiB of memory for a program, less than the 2.0 GiB needed");

  const std::vector<std::pair<PickRequest, std::string>> lines = {
      {PickRequest{}, "Pick: Integrated (20:0): the GPU chosen for python.exe in Windows' graphics settings\n"},
      {PickRequest{PreferredOrder::highPerformance, true, needsOf({"d3d12=11_1"})},
       "Pick: Integrated (20:0): the GPU chosen for python.exe in Windows' graphics settings, which meets the needs "
       "d3d12=11_1\n"},
      {PickRequest{PreferredOrder::minimumPower, false, {}}, "Pick: Integrated (20:0): first in Windows' minimum-power order\n"},
      {PickRequest{PreferredOrder::highPerformance, true, needsOf({"d3d12=12_1", "shader-model=6.7"})},
       "Pick: none: no adapter meets the needs d3d12=12_1, shader-model=6.7\n"
       "Passed over: Integrated (20:0): Direct3D 12 at 11_1, below 12_1; shader model 6.6, below 6.7\n"
       "Passed over: Discrete (10:0): shader model 6.6, below 6.7\n"},
  };
  for (const auto& [asked, expected] : lines) {
    const std::string table = inventoryTable(inventory, asked);
    EXPECT_EQ(table.substr(0, table.find("DXGI adapter")), expected);
  }
  inventory.chosenAdapter.reset();
  inventory.order.from = OrderSource::rule;
  inventory.adapters[0].capabilities.reset();
  inventory.adapters[0].adapter.name = "Line\nfeed";
  const std::string table = inventoryTable(inventory, PickRequest{PreferredOrder::highPerformance, true, needsOf({"d3d12"})});
  EXPECT_EQ(table.substr(0, table.find("DXGI adapter")),
            "Pick: Integrated (20:0): first in the inventory's high-performance order (its rule, not Windows' "
            "preference) that meets the needs d3d12\n"
            "Passed over: Line feed (10:0): its Direct3D devices are unknown: tansy did not answer for it\n");
  // Amounts rounded so that a shortfall never reads as enough: what there is down, what is
  // needed up.
  const std::vector<std::tuple<std::uint64_t, std::string, std::string>> amounts = {
      {4 * gib - 1, "memory=4GiB", "3.9 GiB of memory for a program, less than the 4.0 GiB needed"},
      {4 * gib, "memory=4294967297", "4.0 GiB of memory for a program, less than the 4.1 GiB needed"},
      {gib - 1, "memory=1GiB", "1023 MiB of memory for a program, less than the 1.0 GiB needed"},
      {512u << 20, "memory=536870913", "512 MiB of memory for a program, less than the 513 MiB needed"},
      {3072, "memory=3073", "3 KiB of memory for a program, less than the 4 KiB needed"},
      {100, "memory=101", "100 bytes of memory for a program, less than the 101 bytes needed"},
  };
  for (const auto& [have, need, words] : amounts) {
    Inventory one = machine();
    one.adapters.resize(1);
    one.order = {{0}, {0}, OrderSource::windows};
    one.adapters[0].adapter.dedicatedVideoMemory = have;
    one.adapters[0].state = budgets(std::nullopt, std::nullopt, 0);
    const std::string written = inventoryTable(one, PickRequest{PreferredOrder::highPerformance, true, needsOf({need})});
    EXPECT_NE(written.find("\nPassed over: Discrete (10:0): " + words + "\n"), std::string::npos) << written;
  }
  inventory.adapters.clear();
  EXPECT_EQ(inventoryTable(inventory).substr(0, 38), "Pick: none: no adapter to pick from\nDX");
}

TEST(PickOutput, ATableWiderThanTheConsoleIsOneBlockPerAdapter) {
  Inventory inventory = machine();
  inventory.fennel.run.outcome = Outcome::answered;
  const std::string wide = inventoryTable(inventory);
  std::size_t widest = 0, start = 0;
  for (std::size_t end = wide.find('\n'); end != std::string::npos; start = end + 1, end = wide.find('\n', start)) {
    if (wide.compare(start, 5, "-----") == 0) widest = end - start;  // the rule: as wide as the table
  }
  ASSERT_GT(widest, 40u);
  // Wider than the table, or writing to a file or a pipe: the table as it is. As wide as the
  // table: its widest line would wrap, the cursor moving on past the last column.
  EXPECT_EQ(inventoryTable(inventory, {}, widest + 1), wide);
  EXPECT_EQ(inventoryTable(inventory, {}, 0), wide);
  const std::string narrow = inventoryTable(inventory, {}, widest);
  EXPECT_EQ(narrow.find("-----"), std::string::npos);
  const std::string block =
      "DXGI adapter: Integrated\nLUID: 20:0\nPCI:\nMemory: 128 MiB\nFree memory:\nIntegrated: yes\nDisplays:\n"
      "Direct3D 12: 12_1, shader model 6.6\n";
  EXPECT_NE(narrow.find("\n\n" + block), std::string::npos) << narrow;
  EXPECT_NE(narrow.find("Pick: Discrete (10:0): first in Windows' high-performance order\nDXGI adapter: Discrete\n"),
            std::string::npos) << narrow;
  EXPECT_NE(narrow.find("DXGI adapter: Basic Render (software)\n"), std::string::npos) << narrow;
  // What follows the adapters is the same either way.
  EXPECT_EQ(narrow.substr(narrow.find("High performance: ")), wide.substr(wide.find("High performance: ")));
}

}  // namespace
