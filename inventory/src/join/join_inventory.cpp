// The probes' answers joined by LUID: one entry per fennel adapter, with the Vulkan devices,
// sorrel's state, brindle's answer and tansy's capabilities that carry its LUID.
#include "gpu_inventory/inventory.h"

#include <algorithm>

#include "join/retries.h"

namespace gpu_inventory {
namespace {

bool sameLuid(const FennelAdapter& adapter, const VulkanDevice& device) {
  return device.deviceLuidValid && device.luidLowPart == adapter.luidLowPart &&
         device.luidHighPart == adapter.luidHighPart;
}

bool sameLuid(const FennelAdapter& adapter, const SorrelAdapter& state) {
  return state.luidLowPart == adapter.luidLowPart && state.luidHighPart == adapter.luidHighPart;
}

// tansy's adapter with the LUID in a run that answered, or none.
std::optional<TansyAdapter> capabilitiesIn(const TansyRun& tansy, const FennelAdapter& adapter) {
  if (tansy.run.outcome != Outcome::answered) return std::nullopt;
  for (const TansyAdapter& examined : tansy.adapters) {
    if (examined.luidLowPart == adapter.luidLowPart && examined.luidHighPart == adapter.luidHighPart) return examined;
  }
  return std::nullopt;
}

std::vector<InventoryVulkanDevice> kindedDevices(const std::vector<VulkanDevice>& devices) {
  std::vector<InventoryVulkanDevice> kinded;
  kinded.reserve(devices.size());
  for (const VulkanDevice& device : devices) kinded.push_back({kindOfVulkanDevice(device), device});
  std::stable_sort(kinded.begin(), kinded.end(),
                   [](const InventoryVulkanDevice& a, const InventoryVulkanDevice& b) {
                     return a.device.vkIndex < b.device.vkIndex;
                   });
  return kinded;
}

// The first native device in vkIndex order, else the first translation one.
std::optional<std::uint32_t> preferredOf(const std::vector<InventoryVulkanDevice>& devices) {
  for (DeviceKind wanted : {DeviceKind::native, DeviceKind::translation}) {
    for (const InventoryVulkanDevice& entry : devices) {
      if (entry.kind == wanted) return entry.device.vkIndex;
    }
  }
  return std::nullopt;
}

}  // namespace

const char* vulkanSourceName(VulkanSource source) {
  switch (source) {
    case VulkanSource::none: return nullptr;
    case VulkanSource::quarry: return "quarry";
    case VulkanSource::quarryWithoutImplicitLayers: return "quarryWithoutImplicitLayers";
  }
  return nullptr;
}

std::optional<std::uint64_t> freeDedicatedMemory(const AdapterInventory& entry) {
  if (!entry.state || !entry.state->dedicatedUsage) return std::nullopt;
  const std::uint64_t total = entry.adapter.dedicatedVideoMemory;
  return total - std::min(total, *entry.state->dedicatedUsage);
}

const VulkanDevice* preferredVulkanDevice(const AdapterInventory& entry) {
  if (!entry.preferredVulkanDevice) return nullptr;
  for (const InventoryVulkanDevice& candidate : entry.vulkanDevices) {
    if (candidate.device.vkIndex == *entry.preferredVulkanDevice) return &candidate.device;
  }
  return nullptr;
}

Inventory joinInventory(FennelRun fennel, QuarryRun quarry, std::vector<BrindleRun> brindleRuns,
                        std::optional<QuarryRun> quarryWithoutImplicitLayers, SorrelRun sorrel,
                        GraphicsSettings graphicsSettings, TansyRun tansy,
                        std::optional<std::vector<TansyRun>> tansyPerAdapter) {
  // Runs per adapter exist only after a run over every adapter that crashed, timed out or was
  // garbled, one for each of fennel's adapters: a caller's list that cannot be so is left out.
  if (tansyPerAdapter && (!worthRetryingPerAdapter(tansy.run) || fennel.run.outcome != Outcome::answered ||
                          tansyPerAdapter->empty() || tansyPerAdapter->size() != fennel.adapters.size())) {
    tansyPerAdapter.reset();
  }
  Inventory inventory;
  const std::vector<VulkanDevice>* answered = nullptr;
  if (quarry.run.outcome == Outcome::answered) {
    inventory.vulkanFrom = VulkanSource::quarry;
    answered = &quarry.devices;
  } else if (quarryWithoutImplicitLayers &&
             quarryWithoutImplicitLayers->run.outcome == Outcome::answered) {
    inventory.vulkanFrom = VulkanSource::quarryWithoutImplicitLayers;
    answered = &quarryWithoutImplicitLayers->devices;
  }
  const std::vector<InventoryVulkanDevice> devices =
      answered ? kindedDevices(*answered) : std::vector<InventoryVulkanDevice>{};
  std::vector<bool> claimed(devices.size(), false);
  for (std::size_t i = 0; i < fennel.adapters.size(); ++i) {
    AdapterInventory entry;
    entry.adapter = fennel.adapters[i];
    entry.kind = kindOfAdapter(entry.adapter);
    if (sorrel.run.outcome == Outcome::answered) {
      for (const SorrelAdapter& state : sorrel.adapters) {
        if (sameLuid(entry.adapter, state)) entry.state = state;
      }
    }
    for (std::size_t d = 0; d < devices.size(); ++d) {
      if (sameLuid(entry.adapter, devices[d].device)) {
        entry.vulkanDevices.push_back(devices[d]);
        claimed[d] = true;
      }
    }
    entry.preferredVulkanDevice = preferredOf(entry.vulkanDevices);
    if (i < brindleRuns.size()) {
      entry.brindle = std::move(brindleRuns[i]);
    } else {
      entry.brindle.run.problem = "not run";  // its outcome stays notRun
    }
    if (entry.brindle.run.outcome == Outcome::answered && entry.brindle.answer.matched) {
      entry.openclKind = kindOfOpenClMatch(entry.brindle.answer);
    }
    if (tansy.run.outcome == Outcome::answered) {
      entry.capabilities = capabilitiesIn(tansy, entry.adapter);
    } else if (tansyPerAdapter && i < tansyPerAdapter->size()) {
      entry.capabilities = capabilitiesIn((*tansyPerAdapter)[i], entry.adapter);
    }
    inventory.adapters.push_back(std::move(entry));
  }
  for (std::size_t d = 0; d < devices.size(); ++d) {
    if (!claimed[d]) inventory.otherVulkanDevices.push_back(devices[d]);
  }
  inventory.fennel = std::move(fennel);
  inventory.quarry = std::move(quarry);
  inventory.quarryWithoutImplicitLayers = std::move(quarryWithoutImplicitLayers);
  if (sorrel.run.outcome == Outcome::notRun && sorrel.run.problem.empty()) sorrel.run.problem = "not run";
  inventory.sorrel = std::move(sorrel);
  if (tansy.run.outcome == Outcome::notRun && tansy.run.problem.empty()) tansy.run.problem = "not run";
  if (tansy.run.outcome == Outcome::answered) inventory.computeAdapters = tansy.computeAdapters;
  inventory.tansy = std::move(tansy);
  if (tansyPerAdapter) {
    for (TansyRun& own : *tansyPerAdapter) {
      if (own.run.outcome == Outcome::notRun && own.run.problem.empty()) own.run.problem = "not run";
    }
  }
  inventory.tansyPerAdapter = std::move(tansyPerAdapter);
  inventory.order = adapterOrder(inventory);
  inventory.graphicsSettings = std::move(graphicsSettings);
  inventory.highPerformanceAdapter = highPerformanceAdapterOf(inventory);
  inventory.chosenAdapter = chosenAdapterOf(inventory);
  return inventory;
}

}  // namespace gpu_inventory
