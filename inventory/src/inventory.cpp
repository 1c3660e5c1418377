#include "gpu_inventory/inventory.h"

#include <algorithm>
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
  std::vector<BrindleRun> brindleRuns;
  std::optional<QuarryRun> quarryWithoutLayers;
  // Once: a current directory changed by another thread meanwhile changes nothing.
  const std::string probes = fullFolderPath(folder);
  const std::string brindle = probePath(probes, "brindle");
  const auto request = [&](std::string executable, std::string purpose) {
    ProbeRequest made;
    made.executable = std::move(executable);
    made.timeout = options.timeout;
    made.purpose = std::move(purpose);
    return made;
  };

  RunQueue queue;
  addRun(queue, [&](RunQueue& q) {
    fennel = readFennelRun(runner(request(probePath(probes, "fennel"), "fennel")));
    if (fennel.run.outcome != Outcome::answered) return;
    // Each brindle run writes only its own slot, sized before any of them starts.
    brindleRuns.resize(fennel.adapters.size());
    for (std::size_t i = 0; i < fennel.adapters.size(); ++i) {
      addRun(q, [&, i](RunQueue&) {
        ProbeRequest run = request(brindle, "brindle on " + fennel.adapters[i].name);
        run.arguments = brindleArguments(fennel.adapters[i]);
        brindleRuns[i] = readBrindleRun(runner(run));
      });
    }
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

  workThrough(queue, options.sequential ? 0 : concurrentChildren - 1);
  if (queue.failure) std::rethrow_exception(queue.failure);
  return joinInventory(std::move(fennel), std::move(quarry), std::move(brindleRuns),
                       std::move(quarryWithoutLayers));
}

Inventory joinInventory(FennelRun fennel, QuarryRun quarry, std::vector<BrindleRun> brindleRuns,
                        std::optional<QuarryRun> quarryWithoutImplicitLayers) {
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
    inventory.adapters.push_back(std::move(entry));
  }
  for (std::size_t d = 0; d < devices.size(); ++d) {
    if (!claimed[d]) inventory.otherVulkanDevices.push_back(devices[d]);
  }
  inventory.fennel = std::move(fennel);
  inventory.quarry = std::move(quarry);
  inventory.quarryWithoutImplicitLayers = std::move(quarryWithoutImplicitLayers);
  return inventory;
}

}  // namespace gpu_inventory
