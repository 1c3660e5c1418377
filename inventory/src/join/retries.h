#pragma once
// When a probe's run is worth making again in another way: shared by the runs, which make the
// retries, and the join, which keeps a caller's retries only where they could have been made.
#include "gpu_inventory/inventory.h"

namespace gpu_inventory {

// A run that neither answered nor failed to start: implicit layers may be to blame.
inline bool worthRetryingWithoutLayers(const QuarryRun& quarry) {
  return quarry.run.outcome != Outcome::answered && quarry.run.outcome != Outcome::couldNotStart &&
         quarry.run.outcome != Outcome::notRun;
}

// A run over every adapter that neither answered nor failed to start: one adapter's driver may
// be to blame. Without the executable, a run per adapter could not start either.
inline bool worthRetryingPerAdapter(const TansyRun& tansy) {
  return tansy.run.outcome != Outcome::answered && tansy.run.outcome != Outcome::couldNotStart &&
         tansy.run.outcome != Outcome::notRun;
}

}  // namespace gpu_inventory
