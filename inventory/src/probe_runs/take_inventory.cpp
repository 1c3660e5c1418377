// Taking the inventory: fennel, quarry, sorrel and tansy started together, brindle on each
// adapter once fennel has answered, the retries queued as soon as they are known to be worth
// making, at most four probes at once; then the answers joined.
#include <atomic>
#include <utility>

#include "child_process/full_path.h"
#include "gpu_inventory/inventory.h"
#include "join/retries.h"
#include "probe_runs/run_queue.h"

namespace gpu_inventory {
namespace {

constexpr std::size_t concurrentChildren = 4;

std::string probePath(const std::string& folder, const char* probe) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + probe + ".exe";
}

}  // namespace

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
        !worthRetryingPerAdapter(tansy.run)) {
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
    if (!options.retryQuarryWithoutImplicitLayers || !worthRetryingWithoutImplicitLayers(quarry.run)) return;
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

}  // namespace gpu_inventory
