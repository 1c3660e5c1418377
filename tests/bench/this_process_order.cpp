// How long dxgiOrderInThisProcess takes: the first call in a process (dxgi.dll loaded, DXGI
// started) and the median of the calls after it, in milliseconds; with --dxgi-loaded, in a
// process that keeps dxgi.dll loaded itself, so that no call loads or unloads it. Not a test:
// it only reports.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "gpu_inventory/this_process.h"

int main(int argc, char** argv) {
  const bool keepLoaded = argc > 1 && std::string(argv[1]) == "--dxgi-loaded";
  if (keepLoaded && LoadLibraryW(L"dxgi.dll") == nullptr) return 1;
  using Clock = std::chrono::steady_clock;
  std::vector<double> calls;
  std::size_t adapters = 0;
  for (int i = 0; i < 21; ++i) {
    const Clock::time_point start = Clock::now();
    const auto order = gpu_inventory::dxgiOrderInThisProcess();
    calls.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!order) {
      std::printf("DXGI cannot be used\n");
      return 1;
    }
    adapters = order->size();
  }
  const double first = calls.front();
  std::sort(calls.begin() + 1, calls.end());
  std::printf("dxgiOrderInThisProcess%s: %zu adapters, first call %.1f ms, then %.1f ms (median of 20)\n",
              keepLoaded ? " (dxgi.dll kept loaded)" : "", adapters, first, calls[11]);
  return 0;
}
