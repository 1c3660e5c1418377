#include "gpu_inventory/this_process.h"

namespace gpu_inventory {

std::optional<std::uint32_t> positionOf(AdapterLuid luid, const std::vector<AdapterLuid>& order) noexcept {
  if (luid == AdapterLuid{}) return std::nullopt;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i] == luid) return static_cast<std::uint32_t>(i);
  }
  return std::nullopt;
}

std::optional<std::uint32_t> dxgiOrdinalInThisProcess(const AdapterInventory& entry) noexcept {
  const std::optional<std::vector<AdapterLuid>> order = dxgiOrderInThisProcess();
  if (!order) return std::nullopt;
  return positionOf(luidOf(entry.adapter), *order);
}

}  // namespace gpu_inventory
