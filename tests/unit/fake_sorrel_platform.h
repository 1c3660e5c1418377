#pragma once
// Fake DXGI, SetupAPI and PDH for sorrel's run. Every object handed out and given back lands
// in a list, in order.

#include <cstdint>
#include <string>
#include <vector>

#include "sorrel_platform.h"

namespace fake_sorrel {

struct Adapter {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::uint32_t flags = 0;
  HResult descResult = 0;
  std::uint64_t dedicatedSystemMemory = 0;
  std::uint64_t sharedSystemMemory = 0;
  std::uint32_t outputs = 0;
  bool adapter3 = true;
  std::uint64_t localBudget = 0;
  std::uint64_t nonLocalBudget = 0;
  HResult nonLocalResult = 0;
  HResult versionResult = 0;
  std::uint64_t version = 0;
};

struct Device {
  bool hasLuid = true;
  std::uint64_t luid = 0;
  std::uint32_t luidType = kPropertyTypeUint64;
  bool onPci = true;  // else on another bus, with a bus number and address all the same
  bool hasBus = true;
  std::uint32_t bus = 0;
  bool hasAddress = true;
  std::uint32_t address = 0;
};

struct Counter {
  std::u16string name;
  std::int64_t value = 0;
  std::uint32_t status = kCounterStatusValid;
  bool nameOutsideBuffer = false;
};

struct World {
  HResult factoryResult = 0;
  bool factory6 = true;
  std::vector<Adapter> adapters;  // in EnumAdapters1's order
  // The two preference orders, as positions in adapters; a failure ends each at failAt.
  std::vector<std::uint32_t> highPerformance;
  std::vector<std::uint32_t> minimumPower;
  std::uint32_t preferenceFailsAt = UINT32_MAX;
  std::uint32_t enumFailsAt = UINT32_MAX;
  bool devicesOpen = true;
  std::vector<Device> devices;
  bool counters = true;  // whether the GPU memory counters exist
  std::vector<Counter> dedicatedUsage;
  std::vector<Counter> sharedUsage;
  bool overstatedItemCount = false;  // more items than the buffer holds
  bool sharedUnreadable = false;     // the shared counter's values cannot be formatted
  bool instancesCome = false;        // an instance comes after the first size was asked
  bool instanceCame = false;
  std::vector<std::string> acquired;
  std::vector<std::string> released;
};

World& world();
void reset();
SorrelPlatform platform();

}  // namespace fake_sorrel
