// The README's quick start shows what inventory.exe prints on a laptop with two GPUs. Both the
// document and the table must be what the inventory makes of the probes' documents inside that
// document, so that the sample cannot drift from the program.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "gpu_inventory/inventory.h"
#include "inventory_output.h"

namespace {

using namespace gpu_inventory;

using Json = nlohmann::ordered_json;

std::string readmeText() {
  std::ifstream file(INVENTORY_README_PATH, std::ios::binary);
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

TEST(ReadmeSample, IsWhatTheInventoryMakesOfTheProbesDocuments) {
  const std::string readme = readmeText();
  ASSERT_FALSE(readme.empty()) << INVENTORY_README_PATH;
  const Json sample = Json::parse(fencedBlock(readme, "json inventory"));

  const auto runner = [&](const ProbeRequest& request) {
    const std::string probe = fileName(request.executable);
    if (probe != "brindle.exe") return childOf(sample.at(probe.substr(0, probe.size() - 4)));
    for (const Json& entry : sample.at("adapters")) {
      const Json& adapter = entry.at("adapter");
      const std::vector<std::string> arguments = {
          "--luid-low", std::to_string(adapter.at("luidLowPart").get<std::uint32_t>()),
          "--luid-high", std::to_string(adapter.at("luidHighPart").get<std::int32_t>())};
      if (request.arguments == arguments) return childOf(entry.at("brindle"));
    }
    ADD_FAILURE() << "brindle run for no adapter of the sample";
    return ChildRun{};
  };
  const Inventory inventory = takeInventory("/probes", {}, runner);

  EXPECT_EQ(inventoryDocument(inventory), sample.dump() + "\n");
  EXPECT_EQ(inventoryTable(inventory), fencedBlock(readme, "text inventory"));
}

}  // namespace
