#pragma once
// When a probe's run is worth making again in another way: shared by the runs, which make the
// retries, and the join, which keeps a caller's retries only where they could have been made.
#include "gpu_inventory/inventory.h"

namespace gpu_inventory {

// A run that neither answered nor failed to start: quarry's implicit layers, or one adapter's
// driver under tansy, may be to blame. Without the executable, another run could not start
// either.
inline bool worthRetrying(const ProbeRun& run) {
  return run.outcome != Outcome::answered && run.outcome != Outcome::couldNotStart && run.outcome != Outcome::notRun;
}

}  // namespace gpu_inventory
