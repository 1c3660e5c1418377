#include "probe_runs/run_queue.h"

#include <thread>
#include <utility>
#include <vector>

namespace gpu_inventory {
namespace {

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

}  // namespace

void addRun(RunQueue& queue, std::function<void(RunQueue&)> run) {
  {
    std::lock_guard<std::mutex> hold(queue.lock);
    if (queue.failure) return;
    queue.waiting.push_back(std::move(run));
  }
  queue.changed.notify_all();
}

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

}  // namespace gpu_inventory
