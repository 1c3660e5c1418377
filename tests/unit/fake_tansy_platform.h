#pragma once
// Fake DXGI, Direct3D 11 and 12 and DXCore for tansy's run. Every object handed out and given
// back lands in a list, in order; every call reports itself to the fault injection by name.

#include <cstdint>
#include <string>
#include <vector>

#include "tansy_platform.h"

namespace fake_tansy {

// A DXGI adapter, with what a Direct3D 11 and a Direct3D 12 device on it answer.
struct Adapter {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::uint32_t flags = 0;
  HResult d3d11Result = 0;
  std::uint32_t d3d11Level = kLevel11_1;
  HResult d3d12Result = 0;
  std::uint32_t d3d12Level = kLevel12_1;
  std::uint32_t shaderModel = 0x66;
  std::uint32_t bindingTier = 3;
  bool uma = false;
  bool cacheCoherentUma = false;
  bool native16BitShaderOps = true;
  bool waveOps = true;
  bool architecture1 = true;  // else only D3D12_FEATURE_ARCHITECTURE answers
};

// DXCore's attributes and hardware types, as flags.
enum Attribute : unsigned {
  graphics = 1,
  coreCompute = 2,
  genericMl = 4,
  npu = 8,
  computeAccelerator = 16,
  mediaAccelerator = 32,
  gpu = 64,
};

// A DXCore adapter: in every list whose attribute it has.
struct DxcoreAdapter {
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  unsigned attributes = 0;
  bool hasLuid = true;
  bool hasName = true;  // DriverDescription supported
  std::string name;     // the bytes DXCore hands over, NUL included where it has one
  bool hasHardwareId = true;
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  bool hasIsHardware = true;
  bool hardware = true;
  bool hasMemory = true;
  std::uint64_t memory = 0;
  bool hasVersion = true;
  std::uint64_t version = 0;
  HResult coreResult = 0;     // D3D12CreateDevice at 1_0_CORE
  HResult genericResult = 0;  // at 1_0_GENERIC
};

struct World {
  HResult factoryResult = 0;
  std::vector<Adapter> adapters;  // in EnumAdapters1's order
  bool d3d11 = true;              // System32 has d3d11.dll
  bool d3d12 = true;
  // The newest level each runtime knows: a list or model past it is refused with E_INVALIDARG.
  std::uint32_t d3d11Knows = kLevel12_1;
  std::uint32_t d3d12Knows = kLevel12_2;
  std::uint32_t shaderModelKnown = 0x69;
  bool dxcore = true;         // System32 has dxcore.dll
  bool dxcoreFactoryFails = false;  // DXCoreCreateAdapterFactory fails
  std::vector<DxcoreAdapter> dxcoreAdapters;
  unsigned refusedLists = 0;  // the attributes whose lists this Windows refuses
  std::vector<std::string> acquired;
  std::vector<std::string> released;
  int adaptersWithDevicesHeld = 0;  // adapters asked for while a device was still held
  std::vector<std::string> calls;  // each creation, with the level it asked for
};

World& world();
void reset();
TansyPlatform platform();

}  // namespace fake_tansy
