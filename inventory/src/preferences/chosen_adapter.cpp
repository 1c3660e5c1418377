// The adapter that the user chose for the program in Windows' graphics settings, as a position
// in the inventory: what Windows puts first in that program's own adapter list.
#include "gpu_inventory/inventory.h"

namespace gpu_inventory {
namespace {

// The one adapter with the GPU's vendor and device ids; none for twins, which fennel cannot
// tell apart by ids (the subsystem id is not fennel's to compare).
std::optional<std::uint32_t> adapterWithIds(const Inventory& inventory, const std::optional<PciIds>& ids) {
  if (!ids) return std::nullopt;
  std::optional<std::uint32_t> found;
  for (std::size_t i = 0; i < inventory.adapters.size(); ++i) {
    const FennelAdapter& adapter = inventory.adapters[i].adapter;
    if (adapter.vendorId != ids->vendorId || adapter.deviceId != ids->deviceId) continue;
    if (found) return std::nullopt;
    found = static_cast<std::uint32_t>(i);
  }
  return found;
}

}  // namespace

std::optional<std::uint32_t> highPerformanceAdapterOf(const Inventory& inventory) {
  return adapterWithIds(inventory, inventory.graphicsSettings.highPerformanceAdapter);
}

std::optional<std::uint32_t> chosenAdapterOf(const Inventory& inventory) {
  const GraphicsSettings& settings = inventory.graphicsSettings;
  if (!settings.preference) return std::nullopt;
  const auto first = [](const std::vector<std::uint32_t>& order) {
    return order.empty() ? std::nullopt : std::optional<std::uint32_t>(order.front());
  };
  switch (*settings.preference) {
    case GpuPreference::highPerformance: {
      // The GPU the user named beats the order, which is only the rule's guess without sorrel.
      const std::optional<std::uint32_t> named = highPerformanceAdapterOf(inventory);
      return named ? named : first(inventory.order.highPerformance);
    }
    case GpuPreference::minimumPower: return first(inventory.order.minimumPower);
    case GpuPreference::specificAdapter: return adapterWithIds(inventory, settings.specificAdapter);
    case GpuPreference::unspecified:
    case GpuPreference::other: return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace gpu_inventory
