#pragma once
// When a probe's run is worth making again in another way: shared by the runs, which make the
// retries, and the join, which keeps a caller's retries only where they could have been made.
#include "gpu_inventory/inventory.h"

namespace gpu_inventory {

// quarry once more without implicit layers: after any run that neither answered nor failed to
// start, its error documents included, since a layer can make vkCreateInstance fail too.
// Without the executable, another run could not start either.
inline bool worthRetryingWithoutImplicitLayers(const ProbeRun& run) {
  return run.outcome != Outcome::answered && run.outcome != Outcome::couldNotStart && run.outcome != Outcome::notRun;
}

// tansy once per adapter: only after a run that crashed, hung or printed no valid answer, as
// when one adapter's driver breaks while a device is created. Its error document says that no
// DXGI factory or null device could be had, which no run for one adapter would have either.
inline bool worthRetryingPerAdapter(const ProbeRun& run) {
  return run.outcome == Outcome::crashed || run.outcome == Outcome::timedOut || run.outcome == Outcome::garbled;
}

}  // namespace gpu_inventory
