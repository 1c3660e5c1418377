// What a probe prints is untrusted input to the parent: any bytes, with any exit code, must give
// a verdict (garbled at worst) and a printable inventory, never an exception, crash or hang, in
// time proportional to the bytes (libFuzzer's -timeout catches a reading that is not); both
// orders list every adapter once, software ones last. The same bytes as the registry's graphics
// settings choose no adapter that is not there. As tansy's answer, over every adapter or as each
// adapter's own run, they give an adapter only capabilities of its own LUID, and compute-only
// adapters only from an answer over every adapter.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gpu_inventory/inventory.h"
#include "gpu_inventory/pick.h"
#include "preferences/graphics_settings.h"
#include "inventory_output.h"

using namespace gpu_inventory;

namespace {

// fennel's adapters on sorrel's LUIDs, so that sorrel's answer meets adapters to join: kinds,
// integration and memory taken from sorrel's own fields.
FennelRun fennelOf(const SorrelRun& sorrel) {
  FennelRun fennel;
  fennel.run.outcome = Outcome::answered;
  for (const SorrelAdapter& state : sorrel.adapters) {
    FennelAdapter adapter;
    adapter.name = "A";
    adapter.luidLowPart = state.luidLowPart;
    adapter.luidHighPart = state.luidHighPart;
    adapter.vendorId = state.dxgiOrdinal % 2 ? 0x1414 : 0x10DE;
    adapter.deviceId = state.dxgiOrdinal % 2 ? 0x8C : 1;
    adapter.dedicatedVideoMemory = state.dedicatedSystemMemory;
    adapter.isIntegratedGpu = state.outputs % 2 != 0;
    adapter.asPrinted = nlohmann::ordered_json::object();
    fennel.adapters.push_back(std::move(adapter));
  }
  return fennel;
}

// fennel's adapters on tansy's LUIDs, so that its answer meets adapters to join.
FennelRun fennelOf(const TansyRun& tansy) {
  FennelRun fennel;
  fennel.run.outcome = Outcome::answered;
  for (const TansyAdapter& examined : tansy.adapters) {
    FennelAdapter adapter;
    adapter.luidLowPart = examined.luidLowPart;
    adapter.luidHighPart = examined.luidHighPart;
    adapter.asPrinted = nlohmann::ordered_json::object();
    fennel.adapters.push_back(std::move(adapter));
  }
  return fennel;
}

// Every adapter once, and the software ones after the rest.
bool wholeOrder(const std::vector<std::uint32_t>& order, const std::vector<AdapterInventory>& adapters) {
  if (order.size() != adapters.size()) return false;
  std::vector<bool> seen(adapters.size(), false);
  bool softwareSeen = false;
  for (std::uint32_t position : order) {
    if (position >= adapters.size() || seen[position]) return false;
    seen[position] = true;
    const bool software = adapters[position].kind == AdapterKind::software;
    if (softwareSeen && !software) return false;
    softwareSeen = softwareSeen || software;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  ChildRun child;
  child.started = true;
  const std::uint8_t pick = data[0];
  const std::uint32_t exitCodes[] = {0, 1, 2, 0xC0000005u};
  child.exitCode = exitCodes[pick & 3];
  child.timedOut = (pick & 4) != 0;
  child.output.assign(reinterpret_cast<const char*>(data + 1), size - 1);

  // The same bytes as each probe's answer, joined and written out as inventory.exe would.
  SorrelRun sorrel = readSorrelRun(child);
  TansyRun tansy = readTansyRun(child);
  FennelRun fennel = (pick & 16) != 0 ? fennelOf(sorrel) : (pick & 64) != 0 ? fennelOf(tansy) : readFennelRun(child);
  QuarryRun quarry = readQuarryRun(child);
  std::optional<QuarryRun> withoutLayers;
  if ((pick & 8) != 0) {  // as the run without implicit layers, after a first run that crashed
    withoutLayers = std::move(quarry);
    ChildRun crashed;
    crashed.started = true;
    crashed.exitCode = 0xC0000005u;
    quarry = readQuarryRun(crashed);
  }
  std::vector<BrindleRun> brindle(fennel.adapters.size(), readBrindleRun(child));
  std::optional<std::vector<TansyRun>> tansyPerAdapter;
  if ((pick & 32) != 0) {  // as each adapter's own run, after a run over every adapter that crashed
    tansyPerAdapter.emplace(fennel.adapters.size(), tansy);
    ChildRun crashed;
    crashed.started = true;
    crashed.exitCode = 0xC0000005u;
    tansy = readTansyRun(crashed);
  }
  const bool tansyAnswered = tansy.run.outcome == Outcome::answered;
  const RegistryValue value{RegistryValue::Type::string, child.output};
  const Inventory inventory = joinInventory(std::move(fennel), std::move(quarry), std::move(brindle),
                                            std::move(withoutLayers), std::move(sorrel),
                                            graphicsSettingsOf("C:\\p.exe", value, value), std::move(tansy),
                                            std::move(tansyPerAdapter));
  // Every need, so that each reason is reached on whatever the documents hold.
  PickRequest request;
  request.prefer = (pick & 128) != 0 ? PreferredOrder::minimumPower : PreferredOrder::highPerformance;
  request.needs = {true, 1ull << 30, Direct3dNeed{FeatureLevel::level11_0}, Direct3dNeed{FeatureLevel::level12_0},
                   ShaderModel{6, 2}, true, true};
  const std::string document = inventoryDocument(inventory, request);
  const std::string table = inventoryTable(inventory, request, (pick & 128) != 0 ? 40 : 0);
  // The pick: each adapter a candidate once, the first eligible one picked.
  const Pick picked = pickAdapter(inventory, request);
  std::vector<bool> seen(inventory.adapters.size(), false);
  std::optional<std::uint32_t> firstEligible;
  for (const Candidate& candidate : picked.candidates) {
    if (candidate.adapter >= seen.size() || seen[candidate.adapter]) __builtin_trap();
    seen[candidate.adapter] = true;
    if (candidate.eligible() && !firstEligible) firstEligible = candidate.adapter;
  }
  if (picked.candidates.size() != inventory.adapters.size() || picked.adapter != firstEligible ||
      picked.because.has_value() != picked.adapter.has_value()) {
    __builtin_trap();
  }
  if (document.empty() || document.back() != '\n' || table.empty()) __builtin_trap();
  // Never more adapters than the bound, so never more brindle runs.
  if (inventory.adapters.size() > maxListEntries) __builtin_trap();
  if (!wholeOrder(inventory.order.highPerformance, inventory.adapters) ||
      !wholeOrder(inventory.order.minimumPower, inventory.adapters)) {
    __builtin_trap();
  }
  if (inventory.chosenAdapter && *inventory.chosenAdapter >= inventory.adapters.size()) __builtin_trap();
  for (const AdapterInventory& entry : inventory.adapters) {
    const std::optional<std::uint64_t> free = freeDedicatedMemory(entry);
    if (free && *free > entry.adapter.dedicatedVideoMemory) __builtin_trap();
    if (entry.capabilities && (entry.capabilities->luidLowPart != entry.adapter.luidLowPart ||
                               entry.capabilities->luidHighPart != entry.adapter.luidHighPart)) {
      __builtin_trap();
    }
  }
  if (inventory.computeAdapters.size() > (tansyAnswered ? maxListEntries : 0)) __builtin_trap();
  return 0;
}
