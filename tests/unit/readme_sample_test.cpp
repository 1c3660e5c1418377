// The README's quick start shows the table inventory.exe prints on a laptop with two GPUs, and
// docs/inventory.md the document it prints there; docs/probes.md shows what it prints under Wine.
// Each table, and the document, must be what the inventory makes of the probes' documents shown
// with it, so that no sample drifts from the program.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gpu_inventory/inventory.h"
#include "preferences/graphics_settings.h"
#include "inventory_output.h"

namespace {

using namespace gpu_inventory;

using Json = nlohmann::ordered_json;

std::string sourceText(const std::string& name) {
  std::ifstream file(std::string(INVENTORY_SOURCE_DIR) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The body of the one fenced block whose opening line is ``` followed by the info string.
std::string fencedBlock(const std::string& text, const std::string& info) {
  const std::string opening = "```" + info + "\n";
  const std::size_t start = text.find(opening);
  if (start == std::string::npos || text.find(opening, start + 1) != std::string::npos) {
    ADD_FAILURE() << "not exactly one block ```" << info;
    return {};
  }
  const std::size_t body = start + opening.size();
  const std::size_t end = text.find("```\n", body);
  return end == std::string::npos ? std::string() : text.substr(body, end - body);
}

// What the probe's child did, as the sample says: its document on one line, its exit code.
ChildRun childOf(const Json& run) {
  ChildRun child;
  child.started = true;
  if (!run.at("exitCode").is_null()) child.exitCode = run.at("exitCode").get<std::uint32_t>();
  child.seconds = run.at("seconds").get<double>();
  if (run.contains("document")) child.output = run.at("document").dump() + "\n";
  return child;
}

std::string fileName(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

std::vector<std::string> brindleArguments(const Json& adapter) {
  return {"--luid-low", std::to_string(adapter.at("luidLowPart").get<std::uint32_t>()), "--luid-high",
          std::to_string(adapter.at("luidHighPart").get<std::int32_t>())};
}

TEST(DocumentationSamples, TheQuickStartTableAndDocumentAreWhatTheInventoryMakesOfItsProbesDocuments) {
  const std::string readme = sourceText("README.md");
  const std::string reference = sourceText("docs/inventory.md");
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(reference.empty());
  const Json sample = Json::parse(fencedBlock(reference, "json inventory"));

  const auto runner = [&](const ProbeRequest& request) {
    const std::string probe = fileName(request.executable);
    if (request.arguments.empty()) return childOf(sample.at(probe.substr(0, probe.size() - 4)));
    const Json& adapters = sample.at("adapters");
    for (std::size_t i = 0; i < adapters.size(); ++i) {
      if (request.arguments != brindleArguments(adapters[i].at("adapter"))) continue;
      if (probe == "brindle.exe") return childOf(adapters[i].at("brindle"));
      if (probe == "tansy.exe" && sample.contains("tansyPerAdapter")) return childOf(sample.at("tansyPerAdapter").at(i));
    }
    ADD_FAILURE() << probe << " run for no adapter of the sample";
    return ChildRun{};
  };
  Inventory inventory = takeInventory("/probes", {}, runner);
  // The table is a terminal's, which has no graphics setting; the document a program's, whose
  // setting the sample shows as read, and whose choice the inventory must make of it.
  EXPECT_EQ(inventoryTable(inventory), fencedBlock(readme, "text inventory"));
  const Json& settings = sample.at("graphicsSettings");
  const auto value = [](const Json& text) {
    return text.is_null() ? RegistryValue{} : RegistryValue{RegistryValue::Type::string, text.get<std::string>()};
  };
  inventory.graphicsSettings = graphicsSettingsOf(settings.at("program").get<std::string>(), value(settings.at("setting")),
                                                  value(settings.at("globalSetting")));
  inventory.highPerformanceAdapter = highPerformanceAdapterOf(inventory);
  inventory.chosenAdapter = chosenAdapterOf(inventory);
  EXPECT_EQ(inventoryDocument(inventory), sample.dump() + "\n");
}

// Under Wine: each probe's document in a fence of its own, tagged "wine", every one answered.
TEST(DocumentationSamples, TheWineTableIsWhatTheInventoryMakesOfTheProbesDocuments) {
  const std::string probes = sourceText("docs/probes.md");
  ASSERT_FALSE(probes.empty());
  const auto runner = [&](const ProbeRequest& request) {
    const std::string probe = fileName(request.executable);
    if (probe == "brindle.exe") {  // the text names the run whose answer it shows
      std::string command = "`brindle";
      for (const std::string& argument : request.arguments) command += " " + argument;
      EXPECT_NE(probes.find(command + "`"), std::string::npos) << command;
    }
    const Json document = Json::parse(fencedBlock(probes, "json " + probe.substr(0, probe.size() - 4) + " wine"));
    return childOf(Json{{"exitCode", 0}, {"seconds", 0.5}, {"document", document}});
  };
  const Inventory inventory = takeInventory("/probes", {}, runner);

  EXPECT_EQ(inventoryTable(inventory), fencedBlock(probes, "text inventory wine"));
}

}  // namespace
