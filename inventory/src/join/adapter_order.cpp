// Which adapter first: Windows' own order of preference when sorrel ranked every hardware
// adapter, else the inventory's rule; software adapters last either way.
#include "gpu_inventory/inventory.h"

#include <algorithm>

namespace gpu_inventory {
namespace {

using Rank = std::optional<std::uint32_t> SorrelAdapter::*;
constexpr std::uint64_t noRank = 1ull << 32;  // after every rank

std::uint64_t rankOf(const AdapterInventory& entry, Rank rank) {
  if (!entry.state) return noRank;
  const std::optional<std::uint32_t>& given = (*entry.state).*rank;
  return given.has_value() ? given.value() : noRank;
}

// Whether there is a hardware adapter and every one has a rank in the order, none given twice:
// with none, Windows ranked nothing.
bool wholeWindowsOrder(const std::vector<AdapterInventory>& adapters, Rank rank) {
  std::vector<std::uint64_t> seen;
  bool hardware = false;
  for (const AdapterInventory& entry : adapters) {
    hardware = hardware || entry.kind == AdapterKind::hardware;
    const std::uint64_t given = rankOf(entry, rank);
    if (given == noRank) {
      if (entry.kind == AdapterKind::hardware) return false;
      continue;
    }
    if (std::find(seen.begin(), seen.end(), given) != seen.end()) return false;
    seen.push_back(given);
  }
  return hardware;
}

// The positions of the adapters sorted so that `before` holds; software adapters last, and
// fennel's order between adapters that `before` does not tell apart.
template <typename Before>
std::vector<std::uint32_t> sortedPositions(const std::vector<AdapterInventory>& adapters, Before before) {
  std::vector<std::uint32_t> positions(adapters.size());
  for (std::size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<std::uint32_t>(i);
  std::stable_sort(positions.begin(), positions.end(), [&](std::uint32_t a, std::uint32_t b) {
    const AdapterInventory& x = adapters[a];
    const AdapterInventory& y = adapters[b];
    if (x.kind != y.kind) return y.kind == AdapterKind::software;
    return before(x, y);
  });
  return positions;
}

// By rank, adapters without one after those with one.
auto byRank(Rank rank) {
  return [rank](const AdapterInventory& x, const AdapterInventory& y) { return rankOf(x, rank) < rankOf(y, rank); };
}

}  // namespace

const char* orderSourceName(OrderSource source) {
  return source == OrderSource::windows ? "windows" : "rule";
}

AdapterOrder adapterOrder(const Inventory& inventory) {
  const std::vector<AdapterInventory>& adapters = inventory.adapters;
  AdapterOrder order;
  const Rank high = &SorrelAdapter::highPerformanceRank;
  const Rank low = &SorrelAdapter::minimumPowerRank;
  if (inventory.sorrel.run.outcome == Outcome::answered && wholeWindowsOrder(adapters, high) &&
      wholeWindowsOrder(adapters, low)) {
    order.from = OrderSource::windows;
    order.highPerformance = sortedPositions(adapters, byRank(high));
    order.minimumPower = sortedPositions(adapters, byRank(low));
    return order;
  }
  order.from = OrderSource::rule;
  order.highPerformance = sortedPositions(adapters, [](const AdapterInventory& x, const AdapterInventory& y) {
    if (x.adapter.isIntegratedGpu != y.adapter.isIntegratedGpu) return !x.adapter.isIntegratedGpu;
    return x.adapter.dedicatedVideoMemory > y.adapter.dedicatedVideoMemory;
  });
  order.minimumPower = sortedPositions(adapters, [](const AdapterInventory& x, const AdapterInventory& y) {
    return x.adapter.isIntegratedGpu && !y.adapter.isIntegratedGpu;
  });
  return order;
}

}  // namespace gpu_inventory
