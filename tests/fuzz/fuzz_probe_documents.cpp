// What a probe prints is untrusted input to the parent: any bytes, with any exit code, must give
// a verdict (garbled at worst) and a printable inventory, never an exception, crash or hang, in
// time proportional to the bytes (libFuzzer's -timeout catches a reading that is not).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "gpu_inventory/inventory.h"
#include "inventory_output.h"

using namespace gpu_inventory;

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
  FennelRun fennel = readFennelRun(child);
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
  const Inventory inventory = joinInventory(std::move(fennel), std::move(quarry), std::move(brindle),
                                            std::move(withoutLayers));
  const std::string document = inventoryDocument(inventory);
  const std::string table = inventoryTable(inventory);
  if (document.empty() || document.back() != '\n' || table.empty()) __builtin_trap();
  // Never more adapters than the bound, so never more brindle runs.
  if (inventory.adapters.size() > maxListEntries) __builtin_trap();
  return 0;
}
