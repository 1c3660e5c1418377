#pragma once
// The three probes run as child processes and their answers joined by adapter LUID.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "probe_documents.h"

namespace gpu_inventory {

struct InventoryOptions {
  std::chrono::milliseconds timeout{30000};  // for each probe run
  bool sequential = false;                   // one child at a time, else at most four
};

struct AdapterInventory {
  FennelAdapter adapter;
  std::vector<VulkanDevice> vulkanDevices;  // every device with this LUID, in vkIndex order
  BrindleRun brindle;                       // brindle run for this LUID
};

struct Inventory {
  FennelRun fennel;
  QuarryRun quarry;
  std::vector<AdapterInventory> adapters;        // in fennel's order, when fennel answered
  std::vector<VulkanDevice> otherVulkanDevices;  // the devices that no adapter claims
};

// How a probe is run: runProbe on Windows; a caller or a test may give its own. It is called
// with a full path and, unless the inventory is sequential, from several threads at once.
using ProbeRunner = std::function<ChildRun(const std::string& executable,
                                           const std::vector<std::string>& arguments,
                                           std::chrono::milliseconds timeout)>;

// Runs fennel.exe and quarry.exe from the folder together, then brindle.exe for each adapter
// as soon as fennel has answered, and joins the answers. The folder is made a full path once,
// before the first run, so the current directory plays no part after that: give the folder
// where you put the probes (thisExecutableFolder() when they ship beside your program), never
// a relative one that someone else's download folder could satisfy. An exception from the
// runner, or any other, reaches the caller once every run already going has ended; no run
// starts after it.
Inventory takeInventory(const std::string& folder, const InventoryOptions& options = {},
                        ProbeRunner runner = runProbe);

// The join alone: brindleRuns holds one run per adapter of fennel's, in its order; an adapter
// without one has a brindle run whose outcome is notRun.
Inventory joinInventory(FennelRun fennel, QuarryRun quarry, std::vector<BrindleRun> brindleRuns);

// brindle's arguments for one adapter.
std::vector<std::string> brindleArguments(const FennelAdapter& adapter);

// The folder of the running program's executable (UTF-8), empty when the system cannot say.
// Windows only.
std::string thisExecutableFolder();

}  // namespace gpu_inventory
