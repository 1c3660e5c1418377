// Picks the hardware adapter with the most dedicated memory that both Vulkan and OpenCL can use.
#include <cstdio>
#include <exception>

#include "gpu_inventory/inventory.h"

using namespace gpu_inventory;

int main(int argc, char** argv) try {
  // The folder that holds fennel.exe, quarry.exe and brindle.exe: by default this program's
  // own, never the current directory, where anyone's fennel.exe may lie.
  const Inventory inventory = takeInventory(argc > 1 ? argv[1] : thisExecutableFolder());
  if (inventory.fennel.run.outcome != Outcome::answered) {
    std::printf("no adapter list: %s %s\n", outcomeName(inventory.fennel.run.outcome),
                inventory.fennel.run.problem.c_str());
    return 1;
  }
  const AdapterInventory* best = nullptr;
  for (const AdapterInventory& entry : inventory.adapters) {
    // The adapter's own driver before a translation layer's, never a software rasterizer.
    const VulkanDevice* vulkan = preferredVulkanDevice(entry);
    const BrindleRun& opencl = entry.brindle;
    const bool hasOpenCl = opencl.run.outcome == Outcome::answered && opencl.answer.matched;
    std::printf("%s (%s): Vulkan: %s, OpenCL: %s\n", entry.adapter.name.c_str(),
                kindName(entry.kind), vulkan != nullptr ? vulkan->name.c_str() : "none",
                hasOpenCl ? opencl.answer.device.c_str()
                          : opencl.run.outcome == Outcome::answered ? opencl.answer.reason.c_str()
                                                                    : opencl.run.problem.c_str());
    if (entry.kind == AdapterKind::software || vulkan == nullptr || !hasOpenCl) continue;
    if (best == nullptr || entry.adapter.dedicatedVideoMemory > best->adapter.dedicatedVideoMemory) {
      best = &entry;
    }
  }
  if (best == nullptr) {
    std::printf("no hardware adapter has both a Vulkan and an OpenCL device\n");
  } else {
    // Use the devices now: a LUID names the adapter only until the next restart.
    std::printf("picked %s: Vulkan device #%u, OpenCL %s\n", best->adapter.name.c_str(),
                *best->preferredVulkanDevice, best->brindle.answer.selector.c_str());
  }
  return 0;
} catch (const std::exception& error) {  // out of memory, say: thrown once every run has stopped
  std::printf("no inventory: %s\n", error.what());
  return 1;
}
