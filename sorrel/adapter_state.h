#pragma once

#include <cstdint>
#include <optional>

struct PciLocation {
  std::uint32_t bus = 0;
  std::uint16_t device = 0;
  std::uint16_t function = 0;
};

// One listed hardware adapter: where it sits and what it has free. An empty optional is a
// query that did not answer.
struct AdapterState {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::uint32_t dxgiOrdinal = 0;  // position in EnumAdapters1, software adapters counted
  std::optional<std::uint32_t> highPerformanceRank;
  std::optional<std::uint32_t> minimumPowerRank;
  std::uint32_t outputs = 0;
  std::uint64_t dedicatedSystemMemory = 0;
  std::uint64_t sharedSystemMemory = 0;
  std::optional<std::uint64_t> localBudget;
  std::optional<std::uint64_t> nonLocalBudget;
  std::optional<std::uint64_t> dedicatedUsage;
  std::optional<std::uint64_t> sharedUsage;
  std::optional<PciLocation> pci;
  std::optional<std::uint64_t> driverVersion;  // four 16-bit numbers, most significant first

  bool hasLuid(std::uint32_t lowPart, std::int32_t highPart) const {
    return luidLowPart == lowPart && luidHighPart == highPart;
  }
};

// DEVPKEY_Device_Address of a PCI device: the device in the high, the function in the low 16 bits.
inline PciLocation pciLocation(std::uint32_t bus, std::uint32_t address) {
  return {bus, static_cast<std::uint16_t>(address >> 16),
          static_cast<std::uint16_t>(address & 0xFFFFu)};
}
