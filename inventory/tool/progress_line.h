#pragma once
// The line that tells a person at a console which probe run is still awaited: its text, the
// board of runs under way that a runner keeps, and the ticker that shows it. Nothing here writes
// anywhere; whoever owns the console does.

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "gpu_inventory/inventory.h"

namespace gpu_inventory {

using ProgressClock = std::chrono::steady_clock;

struct RunUnderWay {
  std::string purpose;  // as in ProbeRequest
  ProgressClock::time_point start;
  std::chrono::milliseconds timeout{0};
};

// A run is named once it has gone this long: a healthy inventory ends before anyone looks.
inline constexpr std::chrono::seconds progressDelay{2};

// "waiting for quarry: 12 s of 30 s", naming the run that has waited longest, with
// " (and N more)" for the others under way; "" while none has gone progressDelay.
std::string progressLine(const std::vector<RunUnderWay>& runs, ProgressClock::time_point now);

// A limit in seconds as a person writes it: "30", "2.5", "0.001".
std::string limitText(std::chrono::milliseconds timeout);

// A console line rewritten in place. rewrite() gives what to write so that `line` replaces what
// is shown, cut to columns - 1 so that it never wraps, padded with spaces over a longer one; ""
// (an empty line) clears it. Nothing to write gives "".
class ConsoleLine {
 public:
  std::string rewrite(const std::string& line, std::size_t columns);

 private:
  std::size_t shown_ = 0;  // columns taken by what is on the line now
};

// The runs under way, from any thread, and the ticker that shows them.
class ProgressBoard {
 public:
  using RunId = std::uint64_t;
  RunId begin(std::string purpose, std::chrono::milliseconds timeout,
              ProgressClock::time_point start = ProgressClock::now());
  void end(RunId id) noexcept;
  std::vector<RunUnderWay> runs() const;

  // Calls show with each new line until stop(), at most once a second, waking only when the
  // line can change; then show("") when something was shown. Returns at once on stop().
  void tick(const std::function<void(const std::string& line)>& show);
  void stop() noexcept;

 private:
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  std::atomic<bool> stopping_{false};
  RunId next_ = 0;
  std::vector<RunUnderWay> runs_;  // in the order they began
  std::vector<RunId> ids_;         // one for each of runs_
};

// The runner that puts each run of `inner` on the board while it goes. A failure to record it
// leaves the run as it would have been.
ProbeRunner runnerOnBoard(ProgressBoard& board, ProbeRunner inner);

}  // namespace gpu_inventory
