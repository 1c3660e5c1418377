// Picks the first adapter in order of high performance (Windows' own, else the inventory's rule)
// that has a Vulkan device to use.
#include <cstdint>
#include <cstdio>
#include <exception>

#include "gpu_inventory/inventory.h"

using namespace gpu_inventory;

int main(int argc, char** argv) try {
  // The folder that holds fennel.exe, quarry.exe, sorrel.exe and brindle.exe: by default this
  // program's own, never the current directory, where anyone's fennel.exe may lie.
  const Inventory inventory = takeInventory(argc > 1 ? argv[1] : thisExecutableFolder());
  if (inventory.fennel.run.outcome != Outcome::answered) {
    std::printf("no adapter list: %s %s\n", outcomeName(inventory.fennel.run.outcome),
                inventory.fennel.run.problem.c_str());
    return 1;
  }
  std::printf("high-performance order from %s\n", orderSourceName(inventory.order.from));
  const AdapterInventory* picked = nullptr;
  for (std::uint32_t position : inventory.order.highPerformance) {  // software adapters last
    const AdapterInventory& entry = inventory.adapters[position];
    // The adapter's own driver before a translation layer's, never a software rasterizer.
    const VulkanDevice* vulkan = preferredVulkanDevice(entry);
    const BrindleRun& opencl = entry.brindle;
    const bool hasOpenCl = opencl.run.outcome == Outcome::answered && opencl.answer.matched;
    char free[32] = "unknown";  // no usage counters, or sorrel did not answer
    if (const auto bytes = freeDedicatedMemory(entry)) {
      std::snprintf(free, sizeof free, "%.1f GiB", static_cast<double>(*bytes) / (1u << 30));
    }
    std::printf("%s (%s): Vulkan: %s, OpenCL: %s, free: %s\n", entry.adapter.name.c_str(),
                kindName(entry.kind), vulkan != nullptr ? vulkan->name.c_str() : "none",
                hasOpenCl ? opencl.answer.device.c_str()
                          : opencl.run.outcome == Outcome::answered ? opencl.answer.reason.c_str()
                                                                    : opencl.run.problem.c_str(),
                free);
    if (picked == nullptr && vulkan != nullptr) picked = &entry;
  }
  if (picked == nullptr) {
    std::printf("no adapter has a Vulkan device to use\n");
  } else {
    // Pass it on by LUID, never by position: DXGI's EnumAdapterByLuid; in your own Vulkan
    // instance, the device with this deviceLUID and driverID. Use it now: a LUID names the
    // adapter only until the next restart.
    const VulkanDevice& vulkan = *preferredVulkanDevice(*picked);
    std::printf("picked %s, LUID %u:%d: Vulkan device %s, driverID %s\n",
                picked->adapter.name.c_str(), picked->adapter.luidLowPart,
                picked->adapter.luidHighPart, vulkan.name.c_str(),
                vulkan.driverId.value_or("unknown").c_str());
  }
  return 0;
} catch (const std::exception& error) {  // out of memory, say: thrown once every run has stopped
  std::printf("no inventory: %s\n", error.what());
  return 1;
}
