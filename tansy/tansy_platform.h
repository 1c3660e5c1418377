#pragma once
// The Windows calls tansy makes, as tables: the real ones on Windows, fakes in tests. DXGI,
// Direct3D and DXCore need no COM apartment, so tansy starts none.

#include <cstddef>
#include <cstdint>

#include "platform_api.h"

constexpr HResult kInvalidArgument = static_cast<HResult>(0x80070057u);  // E_INVALIDARG
// The most entries a list is walked for: no machine comes near it, and a platform that never
// ends a list is cut there.
constexpr std::uint32_t kWalkLimit = 4096;

// D3D_FEATURE_LEVEL values.
constexpr std::uint32_t kLevel1_0Generic = 0x100;
constexpr std::uint32_t kLevel1_0Core = 0x1000;
constexpr std::uint32_t kLevel9_1 = 0x9100;
constexpr std::uint32_t kLevel9_2 = 0x9200;
constexpr std::uint32_t kLevel9_3 = 0x9300;
constexpr std::uint32_t kLevel10_0 = 0xA000;
constexpr std::uint32_t kLevel10_1 = 0xA100;
constexpr std::uint32_t kLevel11_0 = 0xB000;
constexpr std::uint32_t kLevel11_1 = 0xB100;
constexpr std::uint32_t kLevel12_0 = 0xC000;
constexpr std::uint32_t kLevel12_1 = 0xC100;
constexpr std::uint32_t kLevel12_2 = 0xC200;

// The part of DXGI_ADAPTER_DESC1 that tansy reads.
struct AdapterIdentity {
  std::uint32_t luidLowPart;
  std::int32_t luidHighPart;
  std::uint32_t flags;
};
constexpr std::uint32_t kAdapterFlagSoftware = 2;  // DXGI_ADAPTER_FLAG_SOFTWARE

struct DxgiApi {
  // CreateDXGIFactory1 for IDXGIFactory1 (dxgi.dll from System32); the out pointer is cleared
  // first.
  HResult (*createFactory)(void** factory);
  // IDXGIFactory1::EnumAdapters1; DXGI_ERROR_NOT_FOUND past the last adapter.
  HResult (*enumAdapters1)(void* factory, std::uint32_t ordinal, void** adapter);
  HResult (*getDesc1)(void* adapter, AdapterIdentity* identity);
};

struct D3d11Api {
  // Whether System32's d3d11.dll and its D3D11CreateDevice are there; loads the DLL, which
  // stays loaded to the end of the run.
  bool (*load)();
  // D3D11CreateDevice(adapter, D3D_DRIVER_TYPE_UNKNOWN, no software module, no flags, levels)
  // for the device only; level is the feature level the device got.
  HResult (*createDevice)(void* adapter, const std::uint32_t* levels, std::uint32_t count,
                          void** device, std::uint32_t* level);
};

// What ID3D12Device::CheckFeatureSupport answers, one query each; each writes only on success.
struct D3d12Api {
  // Whether System32's d3d12.dll and its D3D12CreateDevice are there (as D3d11Api::load).
  bool (*load)();
  // D3D12CreateDevice(adapter, minimumLevel) for ID3D12Device; the adapter is any IUnknown
  // that the runtime takes: a DXGI or a DXCore adapter.
  HResult (*createDevice)(void* adapter, std::uint32_t minimumLevel, void** device);
  // D3D12_FEATURE_FEATURE_LEVELS over the requested levels: MaxSupportedFeatureLevel.
  HResult (*featureLevels)(void* device, const std::uint32_t* levels, std::uint32_t count,
                           std::uint32_t* highest);
  // D3D12_FEATURE_SHADER_MODEL asked for requested (0x69 is 6.9): HighestShaderModel.
  HResult (*shaderModel)(void* device, std::uint32_t requested, std::uint32_t* highest);
  // D3D12_FEATURE_D3D12_OPTIONS: ResourceBindingTier.
  HResult (*resourceBindingTier)(void* device, std::uint32_t* tier);
  // D3D12_FEATURE_ARCHITECTURE1 (first) or D3D12_FEATURE_ARCHITECTURE for node 0: UMA and
  // CacheCoherentUMA.
  HResult (*architecture1)(void* device, bool* uma, bool* cacheCoherentUma);
  HResult (*architecture)(void* device, bool* uma, bool* cacheCoherentUma);
  // D3D12_FEATURE_D3D12_OPTIONS4: Native16BitShaderOpsSupported.
  HResult (*native16BitShaderOps)(void* device, bool* supported);
  // D3D12_FEATURE_D3D12_OPTIONS1: WaveOps.
  HResult (*waveOps)(void* device, bool* supported);
};

// A GUID as Windows lays it out.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

// DXCore's adapter attributes and hardware types.
constexpr Guid kAttributeD3d12Graphics = {0x0c9ece4d, 0x2f6e, 0x4f01,
                                          {0x8c, 0x96, 0xe8, 0x9e, 0x33, 0x1b, 0x47, 0xb1}};
constexpr Guid kAttributeD3d12CoreCompute = {0x248e2800, 0xa793, 0x4724,
                                             {0xab, 0xaa, 0x23, 0xa6, 0xde, 0x1b, 0xe0, 0x90}};
constexpr Guid kAttributeD3d12GenericMl = {0xb71b0d41, 0x1088, 0x422f,
                                           {0xa2, 0x7c, 0x02, 0x50, 0xb7, 0xd3, 0xa9, 0x88}};
constexpr Guid kHardwareTypeNpu = {0xd46140c4, 0xadd7, 0x451b,
                                   {0x9e, 0x56, 0x06, 0xfe, 0x8c, 0x3b, 0x58, 0xed}};
constexpr Guid kHardwareTypeComputeAccelerator = {
    0xe0b195da, 0x58ef, 0x4a22, {0x90, 0xf1, 0x1f, 0x28, 0x16, 0x9c, 0xab, 0x8d}};
constexpr Guid kHardwareTypeMediaAccelerator = {
    0x66bdb96a, 0x050b, 0x44c7, {0xa4, 0xfd, 0xd1, 0x44, 0xce, 0x0a, 0xb4, 0x43}};
constexpr Guid kHardwareTypeGpu = {0xb69eb219, 0x3ded, 0x4464,
                                   {0x97, 0x9f, 0xa0, 0x0b, 0xd4, 0x68, 0x70, 0x06}};

// DXCoreAdapterProperty values.
enum class DxcoreProperty : std::uint32_t {
  instanceLuid = 0,            // LUID
  driverVersion = 1,           // uint64_t
  driverDescription = 2,       // a NUL-terminated char string
  hardwareId = 3,              // DXCoreHardwareID: vendor, device, subsystem, revision
  dedicatedAdapterMemory = 7,  // uint64_t
  isHardware = 11,             // bool
};

struct DxcoreApi {
  // Whether System32's dxcore.dll and its DXCoreCreateAdapterFactory are there (as
  // D3d11Api::load).
  bool (*load)();
  // DXCoreCreateAdapterFactory for IDXCoreAdapterFactory; only after load said it is there.
  // The out pointer is cleared first.
  HResult (*createFactory)(void** factory);
  // IDXCoreAdapterFactory::CreateAdapterList with one attribute, for IDXCoreAdapterList.
  HResult (*createAdapterList)(void* factory, const Guid& attribute, void** list);
  std::uint32_t (*adapterCount)(void* list);  // IDXCoreAdapterList::GetAdapterCount
  // IDXCoreAdapterList::GetAdapter for IDXCoreAdapter.
  HResult (*adapterAt)(void* list, std::uint32_t index, void** adapter);
  bool (*isAttributeSupported)(void* adapter, const Guid& attribute);
  bool (*isPropertySupported)(void* adapter, DxcoreProperty property);
  HResult (*propertySize)(void* adapter, DxcoreProperty property, std::size_t* size);
  HResult (*getProperty)(void* adapter, DxcoreProperty property, std::size_t size,
                         void* buffer);
};

struct TansyPlatform {
  DxgiApi dxgi;
  D3d11Api d3d11;
  D3d12Api d3d12;
  DxcoreApi dxcore;
  void (*release)(void* object);  // IUnknown::Release of any object above
  ProcessApi process;
};
