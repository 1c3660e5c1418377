#pragma once
// The four probes' documents read into typed structs, checked while reading as strictly as
// their schemas describe them. A run whose output is not one valid document of its probe, or
// whose exit code contradicts it, is garbled, with what failed in its problem. Reading takes
// time in proportion to the output, whatever it holds: no object may have more keys than its
// schema allows, and no list more than maxListEntries entries.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "probe_run.h"

namespace gpu_inventory {

// The most adapters (fennel, sorrel) or devices (quarry) that a document may list: more is
// garbled.
inline constexpr std::size_t maxListEntries = 64;

struct FennelAdapter {
  std::uint32_t index = 0;
  std::string name;
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  std::uint64_t dedicatedVideoMemory = 0;
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  bool isIntegratedGpu = false;
  nlohmann::ordered_json asPrinted;  // the adapter object as fennel printed it
};

struct FennelRun {
  ProbeRun run;
  bool dxcoreAvailable = false;
  std::vector<FennelAdapter> adapters;  // fennel's list, when it answered
};

struct VulkanDevice {
  std::uint32_t vkIndex = 0;
  std::string name;
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  bool deviceLuidValid = false;
  std::uint32_t luidLowPart = 0;  // only when deviceLuidValid
  std::int32_t luidHighPart = 0;
  std::string apiVersion;
  std::uint32_t driverVersionRaw = 0;
  std::string driverVersionFormatted;
  std::optional<std::string> driverId;
  std::optional<std::string> driverName;
  std::optional<std::string> driverInfo;
  nlohmann::ordered_json asPrinted;  // the device object as quarry printed it
};

struct QuarryRun {
  ProbeRun run;
  std::vector<VulkanDevice> devices;  // quarry's list, when it answered
};

struct BrindleAnswer {
  bool matched = false;
  // A match:
  std::string selector;
  std::string platform;
  std::string device;
  std::uint32_t deviceIndex = 0;
  std::string method;  // "d3d11_sharing" or "luid"
  // No match: "no_match" or "no_platforms", with the totals over every platform.
  std::string reason;
  std::uint32_t platformCount = 0;
  std::uint32_t d3d11SharingPlatforms = 0;
  std::uint32_t luidExtDevices = 0;
};

struct BrindleRun {
  ProbeRun run;
  BrindleAnswer answer;  // when it answered
};

// Where one of fennel's adapters sits and what it has free, as sorrel printed it: every field
// whose query had no answer is empty.
struct SorrelAdapter {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::uint32_t dxgiOrdinal = 0;  // software adapters counted, unlike fennel's index
  // Places from 0 in Windows' high-performance and minimum-power orders.
  std::optional<std::uint32_t> highPerformanceRank;
  std::optional<std::uint32_t> minimumPowerRank;
  std::uint32_t outputs = 0;  // the displays it drives
  std::uint64_t dedicatedSystemMemory = 0;
  std::uint64_t sharedSystemMemory = 0;
  std::optional<std::uint64_t> localBudget;
  std::optional<std::uint64_t> nonLocalBudget;
  std::optional<std::uint64_t> dedicatedUsage;  // bytes in use by every process
  std::optional<std::uint64_t> sharedUsage;
  // The PCI location: all three, or none.
  std::optional<std::uint32_t> pciBus;
  std::optional<std::uint16_t> pciDevice;
  std::optional<std::uint16_t> pciFunction;
  std::optional<std::string> driverVersion;  // "a.b.c.d", each from 0 to 65535
  nlohmann::ordered_json asPrinted;  // the adapter object as sorrel printed it
};

struct SorrelRun {
  ProbeRun run;
  std::vector<SorrelAdapter> adapters;  // sorrel's list, when it answered
};

// The verdict on one child run of each probe, with its document read.
FennelRun readFennelRun(const ChildRun& child);
QuarryRun readQuarryRun(const ChildRun& child);
BrindleRun readBrindleRun(const ChildRun& child);
SorrelRun readSorrelRun(const ChildRun& child);

}  // namespace gpu_inventory
