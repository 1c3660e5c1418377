#pragma once
// What tansy found out about each adapter: plain records, written into the document as they
// are. A field that its call could not answer is empty.

#include <cstdint>
#include <optional>
#include <string>

#include "platform_api.h"

// The one adapter the command line names, or none (every adapter).
struct LuidFilter {
  bool given = false;
  std::uint32_t lowPart = 0;
  std::int32_t highPart = 0;

  bool admits(std::uint32_t low, std::int32_t high) const {
    return !given || (low == lowPart && high == highPart);
  }
};

struct D3d11Capabilities {
  HResult result = 0;                         // the last D3D11CreateDevice's
  std::optional<std::uint32_t> featureLevel;  // the device's; none without a device
};

struct D3d12Capabilities {
  HResult result = 0;  // D3D12CreateDevice's; the rest is empty without a device
  std::optional<std::uint32_t> featureLevel;
  std::optional<std::uint32_t> shaderModel;  // 0x51, 0x60 ... as D3D_SHADER_MODEL
  std::optional<std::uint32_t> resourceBindingTier;
  std::optional<bool> uma;
  std::optional<bool> cacheCoherentUma;
  std::optional<bool> native16BitShaderOps;
  std::optional<bool> waveOps;
};

struct AdapterCapabilities {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::uint32_t dxgiOrdinal = 0;
  bool software = false;
  std::optional<D3d11Capabilities> d3d11;  // none without d3d11.dll
  std::optional<D3d12Capabilities> d3d12;  // none without d3d12.dll
};

struct ComputeDevice {
  HResult result = 0;                         // the last D3D12CreateDevice's
  std::optional<std::uint32_t> featureLevel;  // the first level that gave a device
};

enum class HardwareType { unknown, npu, computeAccelerator, mediaAccelerator, gpu };

struct ComputeAdapter {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::string name;  // the driver's description, bytes as DXCore gives them
  std::optional<std::uint32_t> vendorId;
  std::optional<std::uint32_t> deviceId;
  std::optional<bool> hardware;
  HardwareType hardwareType = HardwareType::unknown;
  bool coreCompute = false;
  bool genericMl = false;
  std::optional<std::uint64_t> dedicatedAdapterMemory;
  std::optional<std::uint64_t> driverVersion;
  std::optional<ComputeDevice> d3d12;  // none without d3d12.dll
};
