// The adapter that the user chose for the program in Windows' graphics settings, as a position
// in the inventory: what Windows puts first in that program's own adapter list.
#include "gpu_inventory/inventory.h"

namespace gpu_inventory {

std::optional<std::uint32_t> chosenAdapterOf(const Inventory& inventory) {
  const GraphicsSettings& settings = inventory.graphicsSettings;
  if (!settings.preference) return std::nullopt;
  const auto first = [](const std::vector<std::uint32_t>& order) {
    return order.empty() ? std::nullopt : std::optional<std::uint32_t>(order.front());
  };
  switch (*settings.preference) {
    case GpuPreference::highPerformance: return first(inventory.order.highPerformance);
    case GpuPreference::minimumPower: return first(inventory.order.minimumPower);
    case GpuPreference::specificAdapter: break;
    case GpuPreference::unspecified:
    case GpuPreference::other: return std::nullopt;
  }
  if (!settings.specificAdapter) return std::nullopt;
  std::optional<std::uint32_t> chosen;
  for (std::size_t i = 0; i < inventory.adapters.size(); ++i) {
    const FennelAdapter& adapter = inventory.adapters[i].adapter;
    if (adapter.vendorId != settings.specificAdapter->vendorId ||
        adapter.deviceId != settings.specificAdapter->deviceId) {
      continue;
    }
    if (chosen) return std::nullopt;  // twins: fennel cannot tell which one the ids name
    chosen = static_cast<std::uint32_t>(i);
  }
  return chosen;
}

}  // namespace gpu_inventory
