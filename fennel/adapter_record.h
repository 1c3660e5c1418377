#pragma once

#include <cstdint>
#include <string>

// One listed hardware adapter.
struct AdapterRecord {
  std::int32_t index = 0;  // position among the listed adapters, not the DXGI ordinal
  std::u16string name;
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  std::uint64_t dedicatedVideoMemory = 0;
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  bool isIntegratedGpu = false;
};

// Adapters with less dedicated memory than this count as integrated when DXCore cannot say.
constexpr std::uint64_t kIntegratedMemoryLimit = 0x80000000ULL;
