#pragma once
// Fake COM, DXGI lookup and module loader for brindle's run. Every acquire and release
// lands in one event list, in order; the module loader hands out the fake OpenCL runtime.

#include <cstdint>
#include <string>
#include <vector>

#include "brindle_platform.h"

namespace fake_brindle {

struct World {
  HResult comResult = 0;
  HResult factoryResult = 0;
  bool factoryDelivered = true;
  HResult lookupResult = 0;
  bool adapterDelivered = true;
  bool openClPresent = true;
  std::uint32_t lookedUpLow = 0;
  std::int32_t lookedUpHigh = 0;
  std::vector<std::string> events;
  // What the run holds: objects handed out with success, and what it gave back, in order.
  std::vector<std::string> acquired;
  std::vector<std::string> released;
  // Bytes on standard output at each FreeLibrary, Release and CoUninitialize.
  std::vector<long> stdoutAtRelease;
};

World& world();
void reset();  // also resets the fake OpenCL runtime
BrindlePlatform platform();

// The adapter object the lookup hands out.
void* adapterObject();

}  // namespace fake_brindle
