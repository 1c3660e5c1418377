// The pick: every adapter considered once, the user's choice first, then the preferred order;
// each one's reasons from its own fields; the first with none is the one.
#include <cstdint>
#include <utility>

#include "gpu_inventory/pick.h"

namespace gpu_inventory {
namespace {

// The adapter's memory is the system's: the Direct3D 12 device says so; where it cannot, an
// integrated GPU's is.
bool sharesSystemMemory(const AdapterInventory& entry) {
  if (entry.capabilities && entry.capabilities->d3d12 && entry.capabilities->d3d12->uma) {
    return *entry.capabilities->d3d12->uma;
  }
  return entry.adapter.isIntegratedGpu;
}

// A level the adapter reports, at least the one needed; one that cannot be read is not.
bool levelAtLeast(const std::string& reported, const std::optional<FeatureLevel>& needed) {
  if (!needed) return true;
  const std::optional<std::uint32_t> value = featureLevelValue(reported);
  return value && *value >= static_cast<std::uint32_t>(*needed);
}

// "6.6" at least the model needed; a model that is not "major.minor" is not.
bool modelAtLeast(const std::optional<std::string>& reported, ShaderModel needed) {
  if (!reported) return false;
  const std::string& text = *reported;
  const std::size_t dot = text.find('.');
  if (dot == 0 || dot == std::string::npos || dot + 1 == text.size() || dot > 9 || text.size() - dot - 1 > 9 ||
      text.find_first_not_of("0123456789.") != std::string::npos || text.find('.', dot + 1) != std::string::npos) {
    return false;
  }
  const auto number = [](const std::string& digits) {
    std::uint32_t value = 0;
    for (char c : digits) value = value * 10 + static_cast<std::uint32_t>(c - '0');
    return value;
  };
  const std::uint32_t major = number(text.substr(0, dot)), minor = number(text.substr(dot + 1));
  return major != needed.major ? major > needed.major : minor >= needed.minor;
}

// D3D12CreateDevice gave a device: the capabilities hold a feature level.
bool hasDirect3d12Device(const TansyAdapter& capabilities) {
  return capabilities.d3d12 && capabilities.d3d12->featureLevel;
}

void direct3dReasons(const Needs& needs, const TansyAdapter& capabilities, std::vector<PassedOver>& reasons) {
  if (needs.direct3d11) {
    const std::optional<D3d11Capabilities>& d3d11 = capabilities.d3d11;
    if (!d3d11 || !d3d11->featureLevel) {
      reasons.push_back(PassedOver::noDirect3d11Device);
    } else if (!levelAtLeast(*d3d11->featureLevel, needs.direct3d11->level)) {
      reasons.push_back(PassedOver::direct3d11LevelBelow);
    }
  }
  if (!needs.direct3d12 && !needs.shaderModel) return;
  if (!hasDirect3d12Device(capabilities)) {
    reasons.push_back(PassedOver::noDirect3d12Device);
    return;
  }
  const D3d12Capabilities& d3d12 = *capabilities.d3d12;
  if (needs.direct3d12 && !levelAtLeast(*d3d12.featureLevel, needs.direct3d12->level)) {
    reasons.push_back(PassedOver::direct3d12LevelBelow);
  }
  if (needs.shaderModel && !modelAtLeast(d3d12.shaderModel, *needs.shaderModel)) {
    reasons.push_back(PassedOver::shaderModelBelow);
  }
}

std::vector<PassedOver> reasonsFor(const AdapterInventory& entry, const Needs& needs) {
  std::vector<PassedOver> reasons;
  if (entry.kind == AdapterKind::software) reasons.push_back(PassedOver::software);
  if (needs.discrete && entry.adapter.isIntegratedGpu) reasons.push_back(PassedOver::integrated);
  if (needs.memory && memoryForProgram(entry) < *needs.memory) reasons.push_back(PassedOver::notEnoughMemory);
  if (needs.direct3d11 || needs.direct3d12 || needs.shaderModel) {
    if (!entry.capabilities) {
      reasons.push_back(PassedOver::capabilitiesUnknown);
    } else {
      direct3dReasons(needs, *entry.capabilities, reasons);
    }
  }
  if (needs.vulkan && !entry.preferredVulkanDevice) reasons.push_back(PassedOver::noVulkanDevice);
  if (needs.opencl && !entry.openclKind) reasons.push_back(PassedOver::noOpenclDevice);
  return reasons;
}

// The positions in the order of consideration: the user's choice, the preferred order, and
// (for an inventory made by hand whose order misses some) the rest in fennel's order, from
// ordered on; each position of adapters once, none outside it.
std::vector<std::uint32_t> considerationOrder(const Inventory& inventory, const PickRequest& request,
                                              bool& userChoiceFirst, std::size_t& ordered) {
  const auto count = inventory.adapters.size();
  std::vector<bool> taken(count, false);
  std::vector<std::uint32_t> order;
  order.reserve(count);
  const auto take = [&](std::uint32_t position) {
    if (position >= count || taken[position]) return;
    taken[position] = true;
    order.push_back(position);
  };
  userChoiceFirst = request.honourUserChoice && inventory.chosenAdapter && *inventory.chosenAdapter < count;
  if (userChoiceFirst) take(*inventory.chosenAdapter);
  const bool high = request.prefer == PreferredOrder::highPerformance;
  for (std::uint32_t position : high ? inventory.order.highPerformance : inventory.order.minimumPower) take(position);
  ordered = order.size();
  for (std::size_t position = 0; position < count; ++position) take(static_cast<std::uint32_t>(position));
  return order;
}

}  // namespace

std::uint64_t memoryForProgram(const AdapterInventory& entry) {
  const std::uint64_t dedicated = entry.adapter.dedicatedVideoMemory;
  if (!sharesSystemMemory(entry)) return freeDedicatedMemory(entry).value_or(dedicated);
  if (!entry.state || !entry.state->localBudget || !entry.state->nonLocalBudget) return dedicated;
  const std::uint64_t local = *entry.state->localBudget, nonLocal = *entry.state->nonLocalBudget;
  return local > UINT64_MAX - nonLocal ? UINT64_MAX : local + nonLocal;
}

Pick pickAdapter(const Inventory& inventory, const PickRequest& request) {
  Pick pick;
  bool userChoiceFirst = false;
  std::size_t ordered = 0;
  const std::vector<std::uint32_t> order = considerationOrder(inventory, request, userChoiceFirst, ordered);
  pick.candidates.reserve(order.size());
  for (std::uint32_t position : order) {
    Candidate candidate;
    candidate.adapter = position;
    candidate.reasons = reasonsFor(inventory.adapters[position], request.needs);
    if (candidate.eligible() && !pick.adapter) {
      pick.adapter = position;
      if (userChoiceFirst && pick.candidates.empty()) {
        pick.because = PickedBecause::userChoice;
      } else {
        const bool windows = inventory.order.from == OrderSource::windows && pick.candidates.size() < ordered;
        pick.because = windows ? PickedBecause::windowsOrder : PickedBecause::ruleOrder;
      }
    }
    pick.candidates.push_back(std::move(candidate));
  }
  return pick;
}

const AdapterInventory* pickedEntry(const Inventory& inventory, const Pick& pick) {
  if (!pick.adapter || *pick.adapter >= inventory.adapters.size()) return nullptr;
  return &inventory.adapters[*pick.adapter];
}

}  // namespace gpu_inventory
