#include "gpu_inventory/inventory.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "full_path.h"

namespace gpu_inventory {
namespace {

constexpr std::size_t concurrentChildren = 4;

std::string probePath(const std::string& folder, const char* probe) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + probe + ".exe";
}

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

// A queue of runs shared by a few workers. A run may add more runs (fennel adds one brindle
// run per adapter); the workers end when the queue is empty and no run is still going. The
// first exception of a run is kept for the caller, and the runs still waiting are dropped.
struct RunQueue {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::function<void(RunQueue&)>> waiting;
  std::size_t going = 0;
  std::exception_ptr failure;
};

void addRun(RunQueue& queue, std::function<void(RunQueue&)> run) {
  {
    std::lock_guard<std::mutex> hold(queue.lock);
    if (queue.failure) return;
    queue.waiting.push_back(std::move(run));
  }
  queue.changed.notify_all();
}

void work(RunQueue& queue) noexcept {
  for (;;) {
    std::function<void(RunQueue&)> run;
    {
      std::unique_lock<std::mutex> hold(queue.lock);
      queue.changed.wait(hold, [&] { return !queue.waiting.empty() || queue.going == 0; });
      if (queue.waiting.empty()) return;
      run = std::move(queue.waiting.front());
      queue.waiting.pop_front();
      ++queue.going;
    }
    std::exception_ptr failure;
    try {
      run(queue);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> hold(queue.lock);
      --queue.going;
      if (failure && !queue.failure) queue.failure = failure;
      if (queue.failure) queue.waiting.clear();
    }
    queue.changed.notify_all();
  }
}

// Runs the queue on this thread and up to helpers more; returns once every run has ended and
// every helper has been joined. A helper that cannot be started leaves the work to the others.
void workThrough(RunQueue& queue, std::size_t helpers) {
  std::vector<std::thread> threads;
  threads.reserve(helpers);
  for (std::size_t i = 0; i < helpers; ++i) {
    try {
      threads.emplace_back(work, std::ref(queue));
    } catch (...) {
      break;
    }
  }
  work(queue);
  for (std::thread& thread : threads) thread.join();
}

// A run that neither answered nor failed to start: implicit layers may be to blame.
bool worthRetryingWithoutLayers(const QuarryRun& quarry) {
  return quarry.run.outcome != Outcome::answered && quarry.run.outcome != Outcome::couldNotStart &&
         quarry.run.outcome != Outcome::notRun;
}

// A run over every adapter that neither answered nor failed to start: one adapter's driver may
// be to blame. Without the executable, a run per adapter could not start either.
bool worthRetryingPerAdapter(const TansyRun& tansy) {
  return tansy.run.outcome != Outcome::answered && tansy.run.outcome != Outcome::couldNotStart &&
         tansy.run.outcome != Outcome::notRun;
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

const char* orderSourceName(OrderSource source) {
  return source == OrderSource::windows ? "windows" : "rule";
}

std::optional<std::uint64_t> freeDedicatedMemory(const AdapterInventory& entry) {
  if (!entry.state || !entry.state->dedicatedUsage) return std::nullopt;
  const std::uint64_t total = entry.adapter.dedicatedVideoMemory;
  return total - std::min(total, *entry.state->dedicatedUsage);
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

const VulkanDevice* preferredVulkanDevice(const AdapterInventory& entry) {
  if (!entry.preferredVulkanDevice) return nullptr;
  for (const InventoryVulkanDevice& candidate : entry.vulkanDevices) {
    if (candidate.device.vkIndex == *entry.preferredVulkanDevice) return &candidate.device;
  }
  return nullptr;
}

std::vector<std::string> brindleArguments(const FennelAdapter& adapter) {
  return {"--luid-low", std::to_string(adapter.luidLowPart), "--luid-high",
          std::to_string(adapter.luidHighPart)};
}

Inventory takeInventory(const std::string& folder, const InventoryOptions& options,
                        ProbeRunner runner) {
  FennelRun fennel;
  QuarryRun quarry;
  SorrelRun sorrel;
  TansyRun tansy;
  std::optional<std::vector<TansyRun>> tansyPerAdapter;
  std::vector<BrindleRun> brindleRuns;
  std::optional<QuarryRun> quarryWithoutLayers;
  // Once: a current directory changed by another thread meanwhile changes nothing.
  const std::string probes = fullFolderPath(folder);
  const std::string brindle = probePath(probes, "brindle");
  const std::string tansyPath = probePath(probes, "tansy");
  const auto request = [&](std::string executable, std::string purpose) {
    ProbeRequest made;
    made.executable = std::move(executable);
    made.timeout = options.timeout;
    made.purpose = std::move(purpose);
    return made;
  };

  // tansy's runs per adapter need both fennel's adapters and tansy's failure: whichever of the
  // two runs ends last queues them, at once.
  std::atomic<int> awaitedBeforeTansyRetry{2};
  const auto retryTansyOnceBothEnded = [&](RunQueue& q) {
    if (awaitedBeforeTansyRetry.fetch_sub(1) != 1) return;
    if (!options.retryTansyPerAdapter || fennel.run.outcome != Outcome::answered || fennel.adapters.empty() ||
        !worthRetryingPerAdapter(tansy)) {
      return;
    }
    // Each run writes only its own slot, sized before any of them starts.
    tansyPerAdapter.emplace(fennel.adapters.size());
    for (std::size_t i = 0; i < fennel.adapters.size(); ++i) {
      addRun(q, [&, i](RunQueue&) {
        ProbeRequest run = request(tansyPath, "tansy on " + fennel.adapters[i].name);
        run.arguments = brindleArguments(fennel.adapters[i]);
        (*tansyPerAdapter)[i] = readTansyRun(runner(run));
      });
    }
  };

  RunQueue queue;
  addRun(queue, [&](RunQueue& q) {
    fennel = readFennelRun(runner(request(probePath(probes, "fennel"), "fennel")));
    if (fennel.run.outcome == Outcome::answered) {
      // Each brindle run writes only its own slot, sized before any of them starts.
      brindleRuns.resize(fennel.adapters.size());
      for (std::size_t i = 0; i < fennel.adapters.size(); ++i) {
        addRun(q, [&, i](RunQueue&) {
          ProbeRequest run = request(brindle, "brindle on " + fennel.adapters[i].name);
          run.arguments = brindleArguments(fennel.adapters[i]);
          brindleRuns[i] = readBrindleRun(runner(run));
        });
      }
    }
    retryTansyOnceBothEnded(q);
  });
  addRun(queue, [&](RunQueue& q) {
    const std::string quarryPath = probePath(probes, "quarry");
    quarry = readQuarryRun(runner(request(quarryPath, "quarry")));
    if (!options.retryQuarryWithoutImplicitLayers || !worthRetryingWithoutLayers(quarry)) return;
    // A run of its own: after a failure elsewhere it is dropped like any run still waiting.
    addRun(q, [&, quarryPath](RunQueue&) {
      ProbeRequest retry = request(quarryPath, "quarry without implicit layers");
      retry.environment.push_back({layersDisableVariable, allImplicitLayers});
      quarryWithoutLayers = readQuarryRun(runner(retry));
    });
  });
  addRun(queue, [&](RunQueue&) {
    sorrel = readSorrelRun(runner(request(probePath(probes, "sorrel"), "sorrel")));
  });
  addRun(queue, [&](RunQueue& q) {
    tansy = readTansyRun(runner(request(tansyPath, "tansy")));
    retryTansyOnceBothEnded(q);
  });

  workThrough(queue, options.sequential ? 0 : concurrentChildren - 1);
  if (queue.failure) std::rethrow_exception(queue.failure);
  GraphicsSettings settings = readGraphicsSettings(options.program ? *options.program : thisExecutablePath());
  return joinInventory(std::move(fennel), std::move(quarry), std::move(brindleRuns),
                       std::move(quarryWithoutLayers), std::move(sorrel), std::move(settings), std::move(tansy),
                       std::move(tansyPerAdapter));
}

Inventory joinInventory(FennelRun fennel, QuarryRun quarry, std::vector<BrindleRun> brindleRuns,
                        std::optional<QuarryRun> quarryWithoutImplicitLayers, SorrelRun sorrel,
                        GraphicsSettings graphicsSettings, TansyRun tansy,
                        std::optional<std::vector<TansyRun>> tansyPerAdapter) {
  // Runs per adapter exist only after a run over every adapter that ran and did not answer,
  // one for each of fennel's adapters: a caller's list that cannot be so is left out.
  if (tansyPerAdapter && (!worthRetryingPerAdapter(tansy) || fennel.run.outcome != Outcome::answered ||
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
  inventory.chosenAdapter = chosenAdapterOf(inventory);
  return inventory;
}

}  // namespace gpu_inventory
