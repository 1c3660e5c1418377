#pragma once
// The five probes' documents read into typed structs, checked while reading as strictly as
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

// The most adapters (fennel, sorrel, tansy: each of its lists) or devices (quarry) that a
// document may list: more is garbled.
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

// What Direct3D 11 gave on one adapter, as tansy printed it. result: the last
// D3D11CreateDevice's HRESULT ("0x887A0004"); featureLevel ("11_1", or a number in decimal for
// a level tansy has no name for): none when no device was created.
struct D3d11Capabilities {
  std::string result;
  std::optional<std::string> featureLevel;
};

// What Direct3D 12 gave on one adapter, as tansy printed it: D3D12CreateDevice's HRESULT, and
// what the device answered; each query that failed, and every one without a device, is empty.
struct D3d12Capabilities {
  std::string result;
  std::optional<std::string> featureLevel;  // "12_1"
  std::optional<std::string> shaderModel;   // "6.6"
  std::optional<std::uint32_t> resourceBindingTier;
  std::optional<bool> uma;
  std::optional<bool> cacheCoherentUma;
  std::optional<bool> native16BitShaderOps;
  std::optional<bool> waveOps;
};

// One of DXGI's adapters, as tansy examined it: empty d3d11 or d3d12 when that runtime (or its
// creation function) is missing.
struct TansyAdapter {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::uint32_t dxgiOrdinal = 0;  // in tansy's own process, software adapters counted
  bool software = false;
  std::optional<D3d11Capabilities> d3d11;
  std::optional<D3d12Capabilities> d3d12;
  nlohmann::ordered_json asPrinted;  // the adapter object as tansy printed it
};

// A Direct3D 12 device on a compute-only adapter: featureLevel "1_0_core" or "1_0_generic",
// none when neither level gave one.
struct ComputeD3d12 {
  std::string result;
  std::optional<std::string> featureLevel;
};

// An adapter that only DXCore lists (an NPU, a compute accelerator): its LUID is its identity,
// its name is often empty. Each property that DXCore does not support is empty.
struct ComputeAdapter {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::string name;
  std::optional<std::uint32_t> vendorId;
  std::optional<std::uint32_t> deviceId;
  std::optional<bool> hardware;
  // "npu", "computeAccelerator", "mediaAccelerator" or "gpu"; none when it confirms none.
  std::optional<std::string> hardwareType;
  bool coreCompute = false;
  bool genericMl = false;
  std::optional<std::uint64_t> dedicatedAdapterMemory;
  std::optional<std::string> driverVersion;  // "a.b.c.d"
  std::optional<ComputeD3d12> d3d12;          // none without d3d12.dll
  nlohmann::ordered_json asPrinted;           // the object as tansy printed it
};

struct TansyRun {
  ProbeRun run;
  bool dxcoreAvailable = false;
  std::vector<TansyAdapter> adapters;           // tansy's lists, when it answered
  std::vector<ComputeAdapter> computeAdapters;
};

// The verdict on one child run of each probe, with its document read.
FennelRun readFennelRun(const ChildRun& child);
QuarryRun readQuarryRun(const ChildRun& child);
BrindleRun readBrindleRun(const ChildRun& child);
SorrelRun readSorrelRun(const ChildRun& child);
TansyRun readTansyRun(const ChildRun& child);

}  // namespace gpu_inventory
