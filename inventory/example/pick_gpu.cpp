// Picks the GPU for a Direct3D 12 program: the one the user chose for it in Windows' graphics
// settings, else the first in Windows' order for high performance, that can create a Direct3D
// 12 device; says why each other adapter was passed over, and where this process lists it.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "gpu_inventory/inventory.h"
#include "gpu_inventory/pick.h"
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
  // The folder that holds the probes: by default this program's own, never the current
  // directory, where anyone's fennel.exe may lie.
  const Inventory inventory = takeInventory(argc > 1 ? utf8(argv[1]) : thisExecutableFolder());
  if (inventory.fennel.run.outcome != Outcome::answered) {
    std::printf("no adapter list: %s %s\n", outcomeName(inventory.fennel.run.outcome),
                inventory.fennel.run.problem.c_str());
    return 1;
  }
  PickRequest request;  // the user's choice first, then high performance
  request.needs.direct3d12 = Direct3dNeed{FeatureLevel::level11_0};
  const Pick pick = pickAdapter(inventory, request);
  for (const Candidate& candidate : pick.candidates) {
    if (candidate.eligible()) continue;
    std::string reasons;
    for (PassedOver reason : candidate.reasons) {
      reasons += std::string(reasons.empty() ? "" : ", ") + passedOverName(reason);
    }
    std::printf("passed over %s: %s\n", inventory.adapters[candidate.adapter].adapter.name.c_str(),
                reasons.c_str());
  }
  const AdapterInventory* picked = pickedEntry(inventory, pick);
  if (picked == nullptr) {
    std::printf("no adapter is known to meet the needs: go on without a GPU\n");
    return 0;
  }
  // Pass it on by LUID (D3D12CreateDevice on EnumAdapterByLuid's adapter), never by a probe's
  // position. A runtime that takes a DXGI index wants this process's own, read here. Use it
  // now: a LUID names the adapter only until the next restart.
  const std::optional<std::uint32_t> index = dxgiOrdinalInThisProcess(*picked);
  const VulkanDevice* vulkan = preferredVulkanDevice(*picked);
  std::printf("picked %s (%s), LUID %u:%d, DXGI index here: %s, Vulkan device: %s\n",
              picked->adapter.name.c_str(), pickedBecauseName(*pick.because),
              picked->adapter.luidLowPart, picked->adapter.luidHighPart,
              index ? std::to_string(*index).c_str() : "none",
              vulkan != nullptr ? vulkan->name.c_str() : "none");
  return 0;
} catch (const std::exception& error) {  // out of memory, say: thrown once every run has stopped
  std::printf("no inventory: %s\n", error.what());
  return 1;
}
