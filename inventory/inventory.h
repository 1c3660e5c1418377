#pragma once
// The three probes run as child processes and their answers joined by adapter LUID.

#include <chrono>
#include <string>
#include <vector>

#include "probe_documents.h"

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

// How a probe is run: runProbe on Windows; the tests give their own.
using ProbeRunner = ChildRun (*)(const std::string& executable,
                                 const std::vector<std::string>& arguments,
                                 std::chrono::milliseconds timeout);

// Runs fennel.exe and quarry.exe from the folder together, then brindle.exe for each adapter
// as soon as fennel has answered, and joins the answers.
Inventory takeInventory(const std::string& folder, const InventoryOptions& options = {},
                        ProbeRunner runner = runProbe);

// The join alone: brindleRuns holds one run per adapter of fennel's, in its order.
Inventory joinInventory(FennelRun fennel, QuarryRun quarry, std::vector<BrindleRun> brindleRuns);

// brindle's arguments for one adapter.
std::vector<std::string> brindleArguments(const FennelAdapter& adapter);
