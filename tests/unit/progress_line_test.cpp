// The progress line of inventory.exe: its text from the runs under way, the rewriting of a
// console line, the ticker that shows it, and the runner that keeps the board.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "progress_line.h"

namespace {

using namespace gpu_inventory;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

struct AwaitedRun {
  const char* purpose;
  long long waitedMs, timeoutMs;
};

struct LineCase {
  const char* label;
  std::vector<AwaitedRun> runs;
  std::string line;
};

TEST(ProgressLine, NamesTheRunAwaitedLongest) {
  const std::vector<LineCase> cases = {
      {"none", {}, ""},
      {"before 2 s", {{"quarry", 1999, 30000}}, ""},
      {"several before 2 s", {{"fennel", 1999, 30000}, {"quarry", 1000, 30000}}, ""},
      {"at 2 s", {{"quarry", 2000, 30000}}, "waiting for quarry: 2 s of 30 s"},
      {"rounded down", {{"fennel", 12999, 30000}}, "waiting for fennel: 12 s of 30 s"},
      {"fractional limit", {{"quarry", 2400, 2500}}, "waiting for quarry: 2 s of 2.5 s"},
      {"longest of three",
       {{"fennel", 3000, 30000},
        {"brindle on NVIDIA GeForce RTX 3060 Laptop GPU", 12500, 30000},
        {"quarry", 500, 30000}},
       "waiting for brindle on NVIDIA GeForce RTX 3060 Laptop GPU: 12 s of 30 s (and 2 more)"},
      {"others not yet due", {{"quarry", 100, 30000}, {"fennel", 2100, 4000}},
       "waiting for fennel: 2 s of 4 s (and 1 more)"},
      // Line feed, carriage return, tab, DEL and U+0085 are spaces; é stays.
      {"control characters", {{"brindle on Other\nGPU\r\t\x7f\xC2\x85" "caf\xC3\xA9", 5000, 30000}},
       "waiting for brindle on Other GPU    caf\xC3\xA9: 5 s of 30 s"},
  };
  const ProgressClock::time_point now = ProgressClock::now();
  for (const LineCase& c : cases) {
    std::vector<RunUnderWay> runs;
    for (const AwaitedRun& run : c.runs) {
      runs.push_back({run.purpose, now - milliseconds(run.waitedMs), milliseconds(run.timeoutMs)});
    }
    EXPECT_EQ(progressLine(runs, now), c.line) << c.label;
  }
  const std::vector<std::pair<long long, std::string>> limits = {
      {30000, "30"}, {2500, "2.5"}, {1250, "1.25"}, {2050, "2.05"}, {1, "0.001"},
      {86400000, "86400"}, {0, "0"}, {-5, "0"}};
  for (const auto& [ms, text] : limits) EXPECT_EQ(limitText(milliseconds(ms)), text) << ms;
}

struct RewriteStep {
  std::string line;
  std::size_t columns;
  std::string text;  // what is written
};

TEST(ConsoleLine, RewrittenInPlaceWithoutWrapping) {
  // One line through its life: each step follows the one before.
  const std::vector<RewriteStep> steps = {
      {"", 80, ""},  // nothing shown, nothing to clear
      {"waiting for quarry: 9 s of 30 s", 80, "\rwaiting for quarry: 9 s of 30 s"},
      {"waiting for quarry: 10 s of 30 s", 80, "\rwaiting for quarry: 10 s of 30 s"},
      {"waiting for fennel: 3 s of 30 s", 80, "\rwaiting for fennel: 3 s of 30 s "},
      {"waiting for quarry: 10 s of 30 s", 11, "\rwaiting fo"},  // the last column stays free
      {"", 80, "\r          \r"},
      {"", 80, ""},
      // é takes one column, each ideograph two; none is split.
      {"\xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC", 5, "\r\xC3\xA9\xE6\x97\xA5"},
      {"ab", 80, "\rab "},
      {"abc", 1, "\r"},  // a console one column wide: no room to write or clear anything
      {"", 80, ""},
  };
  ConsoleLine line;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(line.rewrite(steps[i].line, steps[i].columns), steps[i].text) << "step " << i;
  }
}

// Runs the ticker until it has shown a line or for `patience`, then stops it; the lines shown
// and how long the stop took.
std::vector<std::string> tickUntil(ProgressBoard& board, ProgressClock::duration patience,
                                   ProgressClock::duration& stopTook) {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> shown;
  std::thread ticker([&] {
    board.tick([&](const std::string& line) {
      std::lock_guard<std::mutex> hold(lock);
      shown.push_back(line);
      changed.notify_all();
    });
  });
  {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait_for(hold, patience, [&] { return !shown.empty(); });
  }
  const ProgressClock::time_point stopAt = ProgressClock::now();
  board.stop();
  ticker.join();
  stopTook = ProgressClock::now() - stopAt;
  return shown;
}

TEST(ProgressBoard, TheTickerShowsAtOnceWhatIsDueAndStopsAtOnce) {
  ProgressClock::duration stopTook{};
  ProgressBoard late;
  late.begin("quarry", 30s, ProgressClock::now() - 5500ms);
  late.begin("fennel", 30s);
  EXPECT_EQ(tickUntil(late, 10s, stopTook),
            (std::vector<std::string>{"waiting for quarry: 5 s of 30 s (and 1 more)", ""}));
  EXPECT_LT(stopTook, 500ms);

  // Nothing due before the stop: nothing shown, and no wait for the run's 2 s once the ticker
  // sleeps.
  ProgressBoard early;
  early.begin("fennel", 30s);
  EXPECT_TRUE(tickUntil(early, 300ms, stopTook).empty());
  EXPECT_LT(stopTook, 500ms);
}

TEST(ProgressBoard, TheRunnerPutsEachRunOnTheBoardWhileItGoes) {
  ProgressBoard board;
  board.begin("brindle on A", 30s);
  std::vector<std::string> seen;
  const ProbeRunner runner = runnerOnBoard(board, [&](const ProbeRequest& request) {
    for (const RunUnderWay& run : board.runs()) seen.push_back(run.purpose + " " + limitText(run.timeout));
    if (request.purpose == "quarry") throw std::runtime_error("broken");
    ChildRun child;
    child.started = true;
    return child;
  });
  ProbeRequest request;
  request.purpose = "fennel";
  request.timeout = 2500ms;
  EXPECT_TRUE(runner(request).started);
  request.purpose = "quarry";
  EXPECT_THROW(runner(request), std::runtime_error);
  EXPECT_EQ(seen, (std::vector<std::string>{"brindle on A 30", "fennel 2.5", "brindle on A 30",
                                            "quarry 2.5"}));
  // Each run, thrown or not, left the board; the one begun outside it stays.
  ASSERT_EQ(board.runs().size(), 1u);
  EXPECT_EQ(board.runs()[0].purpose, "brindle on A");
}

}  // namespace
