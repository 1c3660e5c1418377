#pragma once
// Fake COM, DXGI enumeration, module loader, DXCore and text conversion for fennel's run.
// Every acquire and release lands in one event list, in order.

#include <cstdint>
#include <string>
#include <vector>

#include "fennel_platform.h"

namespace fake_fennel {

struct Adapter {
  std::u16string name;
  std::uint32_t vendorId = 0x10DE;
  std::uint32_t deviceId = 0x2684;
  std::uint64_t dedicatedVideoMemory = 8ull << 30;
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::uint32_t flags = 0;
  HResult descResult = 0;
  // What DXCore says for this adapter's LUID.
  bool knownToDxcore = true;
  bool integratedSupported = true;
  HResult integratedResult = 0;
  unsigned char integratedByte = 0;
};

struct World {
  HResult comResult = 0;
  HResult factory4Result = 0;
  bool factory4Delivered = true;
  HResult factory1Result = 0;
  bool factory1Delivered = true;
  std::vector<Adapter> adapters;
  HResult enumFailure = 0;           // returned instead of an adapter at enumFailureOrdinal
  std::uint32_t enumFailureOrdinal = 0xFFFFFFFFu;
  bool dxcorePresent = false;
  bool dxcoreEntryPoint = true;
  HResult dxcoreFactoryResult = 0;
  bool dxcoreFactoryDelivered = true;
  bool conversionFails = false;       // the size query fails
  bool conversionWriteFails = false;  // the size query answers, the conversion writes nothing
  std::vector<std::string> events;
  // Objects handed out with success, and those given back, in order.
  std::vector<std::string> acquired;
  std::vector<std::string> released;
  int enumCalls = 0;
};

World& world();
void reset();
FennelPlatform platform();

}  // namespace fake_fennel
