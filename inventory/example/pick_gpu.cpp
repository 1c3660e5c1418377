// Picks the GPU that the user chose for this program in Windows' graphics settings, else the
// first adapter in order of high performance (Windows' own, else the inventory's rule), among
// those with a Vulkan device to use, and says where this process lists it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "gpu_inventory/inventory.h"
#include "gpu_inventory/this_process.h"

using namespace gpu_inventory;

// The library takes UTF-8. The command line is read as UTF-16 (wmain), so that a folder such as
// C:\Grafik-Prüfung arrives whole whatever the ANSI code page.
std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string converted(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &converted[0], size, nullptr, nullptr);
  converted.pop_back();  // the terminating NUL
  return converted;
}

int wmain(int argc, wchar_t** argv) try {
  // The folder that holds fennel.exe, quarry.exe, sorrel.exe and brindle.exe: by default this
  // program's own, never the current directory, where anyone's fennel.exe may lie.
  const Inventory inventory = takeInventory(argc > 1 ? utf8(argv[1]) : thisExecutableFolder());
  if (inventory.fennel.run.outcome != Outcome::answered) {
    std::printf("no adapter list: %s %s\n", outcomeName(inventory.fennel.run.outcome),
                inventory.fennel.run.problem.c_str());
    return 1;
  }
  std::printf("high-performance order from %s\n", orderSourceName(inventory.order.from));
  // Positions are per process: this program's own DXGI order, read once, gives the index that a
  // runtime in this process takes. The probes' positions are theirs, not this program's.
  const std::optional<std::vector<AdapterLuid>> dxgiHere = dxgiOrderInThisProcess();
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
    const std::optional<std::uint32_t> index =
        dxgiHere ? positionOf(luidOf(entry.adapter), *dxgiHere) : std::nullopt;
    std::printf("%s (%s): Vulkan: %s, OpenCL: %s, free: %s, DXGI index here: %s\n",
                entry.adapter.name.c_str(), kindName(entry.kind),
                vulkan != nullptr ? vulkan->name.c_str() : "none",
                hasOpenCl ? opencl.answer.device.c_str()
                          : opencl.run.outcome == Outcome::answered ? opencl.answer.reason.c_str()
                                                                    : opencl.run.problem.c_str(),
                free, index ? std::to_string(*index).c_str() : "none");
    if (picked == nullptr && vulkan != nullptr) picked = &entry;
  }
  // The user's own choice for this program comes before any order.
  if (inventory.chosenAdapter) {
    const AdapterInventory& chosen = inventory.adapters[*inventory.chosenAdapter];
    std::printf("chosen in Windows' graphics settings: %s\n", chosen.adapter.name.c_str());
    if (preferredVulkanDevice(chosen) != nullptr) picked = &chosen;
  }
  if (picked == nullptr) {
    std::printf("no adapter has a Vulkan device to use\n");
  } else {
    // Pass it on by LUID, never by a probe's position: DXGI's EnumAdapterByLuid; in your own
    // Vulkan instance, the device with this deviceLUID and driverID. Use it now: a LUID names
    // the adapter only until the next restart.
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
