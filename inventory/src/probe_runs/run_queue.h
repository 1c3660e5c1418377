#pragma once
// A queue of runs shared by a few workers. A run may add more runs (fennel adds one brindle
// run per adapter); the workers end when the queue is empty and no run is still going. The
// first exception of a run is kept for the caller, and the runs still waiting are dropped.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

namespace gpu_inventory {

struct RunQueue {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::function<void(RunQueue&)>> waiting;
  std::size_t going = 0;
  std::exception_ptr failure;
};

// Queues a run, unless a run has already failed.
void addRun(RunQueue& queue, std::function<void(RunQueue&)> run);

// Runs the queue on this thread and up to helpers more; returns once every run has ended and
// every helper has been joined. A helper that cannot be started leaves the work to the others.
void workThrough(RunQueue& queue, std::size_t helpers);

}  // namespace gpu_inventory
