// tansy.exe: what each adapter can run (a Direct3D 11 and a Direct3D 12 device on it), and
// the compute-only adapters that only DXCore lists. The logic is in runTansy; this file binds
// the real Windows calls. dxgi.dll, d3d11.dll, d3d12.dll and dxcore.dll are loaded from System32
// once the output guard is in place (systemSymbol), never imported.

#include <windows.h>
#include <d3d11.h>
#include <d3d12.h>
#include <dxgi1_2.h>
#include <initguid.h>
#include <directx/dxcore.h>

#include "reclaiming.h"
#include "tansy_run.h"

static_assert(sizeof(Guid) == sizeof(GUID) && offsetof(Guid, data4) == offsetof(GUID, Data4));
static_assert(static_cast<std::uint32_t>(DxcoreProperty::instanceLuid) ==
                  static_cast<std::uint32_t>(DXCoreAdapterProperty::InstanceLuid) &&
              static_cast<std::uint32_t>(DxcoreProperty::driverVersion) ==
                  static_cast<std::uint32_t>(DXCoreAdapterProperty::DriverVersion) &&
              static_cast<std::uint32_t>(DxcoreProperty::driverDescription) ==
                  static_cast<std::uint32_t>(DXCoreAdapterProperty::DriverDescription) &&
              static_cast<std::uint32_t>(DxcoreProperty::hardwareId) ==
                  static_cast<std::uint32_t>(DXCoreAdapterProperty::HardwareID) &&
              static_cast<std::uint32_t>(DxcoreProperty::dedicatedAdapterMemory) ==
                  static_cast<std::uint32_t>(DXCoreAdapterProperty::DedicatedAdapterMemory) &&
              static_cast<std::uint32_t>(DxcoreProperty::isHardware) ==
                  static_cast<std::uint32_t>(DXCoreAdapterProperty::IsHardware));
static_assert(kLevel11_0 == D3D_FEATURE_LEVEL_11_0 && kLevel9_1 == D3D_FEATURE_LEVEL_9_1 &&
              kLevel12_1 == D3D_FEATURE_LEVEL_12_1);
static_assert(kInvalidArgument == E_INVALIDARG);

namespace {

// DXGI

HResult createFactory(void** factory) {
  *factory = nullptr;
  using Create = HRESULT(WINAPI*)(REFIID, void**);
  const auto create = systemFunction<Create>(L"dxgi.dll", "CreateDXGIFactory1");
  if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return create(__uuidof(IDXGIFactory1), factory);
}

HResult enumAdapters1(void* factory, std::uint32_t ordinal, void** adapter) {
  *adapter = nullptr;
  return static_cast<IDXGIFactory1*>(factory)->EnumAdapters1(
      ordinal, reinterpret_cast<IDXGIAdapter1**>(adapter));
}

HResult getDesc1(void* adapter, AdapterIdentity* out) {
  DXGI_ADAPTER_DESC1 desc{};
  const HRESULT result = static_cast<IDXGIAdapter1*>(adapter)->GetDesc1(&desc);
  out->luidLowPart = desc.AdapterLuid.LowPart;
  out->luidHighPart = desc.AdapterLuid.HighPart;
  out->flags = desc.Flags;
  return result;
}

// Direct3D 11

using D3d11CreateDevice = HRESULT(WINAPI*)(IDXGIAdapter*, D3D_DRIVER_TYPE, HMODULE, UINT,
                                           const D3D_FEATURE_LEVEL*, UINT, UINT, ID3D11Device**,
                                           D3D_FEATURE_LEVEL*, ID3D11DeviceContext**);

D3d11CreateDevice d3d11CreateDevice() {
  static const auto create = systemFunction<D3d11CreateDevice>(L"d3d11.dll", "D3D11CreateDevice");
  return create;
}

bool loadD3d11() { return d3d11CreateDevice() != nullptr; }

HResult createD3d11Device(void* adapter, const std::uint32_t* levels, std::uint32_t count,
                          void** device, std::uint32_t* level) {
  *device = nullptr;
  *level = 0;
  static_assert(sizeof(D3D_FEATURE_LEVEL) == sizeof(std::uint32_t));
  D3D_FEATURE_LEVEL got{};
  const HRESULT result = d3d11CreateDevice()(
      static_cast<IDXGIAdapter*>(adapter), D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0,
      reinterpret_cast<const D3D_FEATURE_LEVEL*>(levels), count, D3D11_SDK_VERSION,
      reinterpret_cast<ID3D11Device**>(device), &got, nullptr);
  *level = static_cast<std::uint32_t>(got);
  return result;
}

// Direct3D 12

using D3d12CreateDevice = HRESULT(WINAPI*)(IUnknown*, D3D_FEATURE_LEVEL, REFIID, void**);

D3d12CreateDevice d3d12CreateDevice() {
  static const auto create = systemFunction<D3d12CreateDevice>(L"d3d12.dll", "D3D12CreateDevice");
  return create;
}

bool loadD3d12() { return d3d12CreateDevice() != nullptr; }

HResult createD3d12Device(void* adapter, std::uint32_t minimumLevel, void** device) {
  *device = nullptr;
  return d3d12CreateDevice()(static_cast<IUnknown*>(adapter),
                             static_cast<D3D_FEATURE_LEVEL>(minimumLevel), __uuidof(ID3D12Device),
                             device);
}

// D3D12_FEATURE values, from Microsoft's documentation (mingw-w64 lacks some).
constexpr int kFeatureOptions = 0;
constexpr int kFeatureArchitecture = 1;
constexpr int kFeatureFeatureLevels = 2;
constexpr int kFeatureShaderModel = 7;
constexpr int kFeatureOptions1 = 8;
constexpr int kFeatureArchitecture1 = 16;
constexpr int kFeatureOptions4 = 23;

template <typename Data>
HRESULT checkFeature(void* device, int feature, Data* data) {
  return static_cast<ID3D12Device*>(device)->CheckFeatureSupport(
      static_cast<D3D12_FEATURE>(feature), data, sizeof *data);
}

HResult featureLevels(void* device, const std::uint32_t* levels, std::uint32_t count,
                      std::uint32_t* highest) {
  D3D12_FEATURE_DATA_FEATURE_LEVELS data{};
  data.NumFeatureLevels = count;
  data.pFeatureLevelsRequested = reinterpret_cast<const D3D_FEATURE_LEVEL*>(levels);
  const HRESULT result = checkFeature(device, kFeatureFeatureLevels, &data);
  if (SUCCEEDED(result)) *highest = static_cast<std::uint32_t>(data.MaxSupportedFeatureLevel);
  return result;
}

HResult shaderModel(void* device, std::uint32_t requested, std::uint32_t* highest) {
  D3D12_FEATURE_DATA_SHADER_MODEL data{};
  data.HighestShaderModel = static_cast<D3D_SHADER_MODEL>(requested);
  const HRESULT result = checkFeature(device, kFeatureShaderModel, &data);
  if (SUCCEEDED(result)) *highest = static_cast<std::uint32_t>(data.HighestShaderModel);
  return result;
}

HResult resourceBindingTier(void* device, std::uint32_t* tier) {
  D3D12_FEATURE_DATA_D3D12_OPTIONS data{};
  const HRESULT result = checkFeature(device, kFeatureOptions, &data);
  if (SUCCEEDED(result)) *tier = static_cast<std::uint32_t>(data.ResourceBindingTier);
  return result;
}

template <typename Data>
HResult readArchitecture(void* device, int feature, bool* uma, bool* cacheCoherentUma) {
  Data data{};
  data.NodeIndex = 0;
  const HRESULT result = checkFeature(device, feature, &data);
  if (SUCCEEDED(result)) {
    *uma = data.UMA != FALSE;
    *cacheCoherentUma = data.CacheCoherentUMA != FALSE;
  }
  return result;
}

HResult architecture1(void* device, bool* uma, bool* cacheCoherentUma) {
  return readArchitecture<D3D12_FEATURE_DATA_ARCHITECTURE1>(device, kFeatureArchitecture1, uma,
                                                            cacheCoherentUma);
}

HResult architecture(void* device, bool* uma, bool* cacheCoherentUma) {
  return readArchitecture<D3D12_FEATURE_DATA_ARCHITECTURE>(device, kFeatureArchitecture, uma,
                                                           cacheCoherentUma);
}

HResult native16BitShaderOps(void* device, bool* supported) {
  D3D12_FEATURE_DATA_D3D12_OPTIONS4 data{};
  const HRESULT result = checkFeature(device, kFeatureOptions4, &data);
  if (SUCCEEDED(result)) *supported = data.Native16BitShaderOpsSupported != FALSE;
  return result;
}

HResult waveOps(void* device, bool* supported) {
  D3D12_FEATURE_DATA_D3D12_OPTIONS1 data{};
  const HRESULT result = checkFeature(device, kFeatureOptions1, &data);
  if (SUCCEEDED(result)) *supported = data.WaveOps != FALSE;
  return result;
}

// DXCore

const GUID& asGuid(const Guid& guid) { return reinterpret_cast<const GUID&>(guid); }

using DxcoreCreateAdapterFactory = HRESULT(WINAPI*)(REFIID, void**);

DxcoreCreateAdapterFactory dxcoreCreateAdapterFactory() {
  static const auto create =
      systemFunction<DxcoreCreateAdapterFactory>(L"dxcore.dll", "DXCoreCreateAdapterFactory");
  return create;
}

bool loadDxcore() { return dxcoreCreateAdapterFactory() != nullptr; }

HResult createDxcoreFactory(void** factory) {
  *factory = nullptr;
  return dxcoreCreateAdapterFactory()(IID_IDXCoreAdapterFactory, factory);
}

HResult createAdapterList(void* factory, const Guid& attribute, void** list) {
  *list = nullptr;
  return static_cast<IDXCoreAdapterFactory*>(factory)->CreateAdapterList(
      1, &asGuid(attribute), IID_IDXCoreAdapterList, list);
}

std::uint32_t adapterCount(void* list) {
  return static_cast<IDXCoreAdapterList*>(list)->GetAdapterCount();
}

HResult adapterAt(void* list, std::uint32_t index, void** adapter) {
  *adapter = nullptr;
  return static_cast<IDXCoreAdapterList*>(list)->GetAdapter(index, IID_IDXCoreAdapter, adapter);
}

bool isAttributeSupported(void* adapter, const Guid& attribute) {
  return static_cast<IDXCoreAdapter*>(adapter)->IsAttributeSupported(asGuid(attribute));
}

DXCoreAdapterProperty asProperty(DxcoreProperty property) {
  return static_cast<DXCoreAdapterProperty>(property);
}

bool isPropertySupported(void* adapter, DxcoreProperty property) {
  return static_cast<IDXCoreAdapter*>(adapter)->IsPropertySupported(asProperty(property));
}

HResult propertySize(void* adapter, DxcoreProperty property, std::size_t* size) {
  *size = 0;
  return static_cast<IDXCoreAdapter*>(adapter)->GetPropertySize(asProperty(property), size);
}

HResult getProperty(void* adapter, DxcoreProperty property, std::size_t size, void* buffer) {
  return static_cast<IDXCoreAdapter*>(adapter)->GetProperty(asProperty(property), size, buffer);
}

void release(void* object) { static_cast<IUnknown*>(object)->Release(); }

}  // namespace

int main(int argc, char** argv) {
  const TansyPlatform platform{
      {reclaiming<createFactory>, reclaiming<enumAdapters1>, reclaiming<getDesc1>},
      {reclaiming<loadD3d11>, reclaiming<createD3d11Device>},
      {reclaiming<loadD3d12>, reclaiming<createD3d12Device>, reclaiming<featureLevels>,
       reclaiming<shaderModel>, reclaiming<resourceBindingTier>, reclaiming<architecture1>,
       reclaiming<architecture>, reclaiming<native16BitShaderOps>, reclaiming<waveOps>},
      {reclaiming<loadDxcore>, reclaiming<createDxcoreFactory>, reclaiming<createAdapterList>, reclaiming<adapterCount>,
       reclaiming<adapterAt>, reclaiming<isAttributeSupported>, reclaiming<isPropertySupported>,
       reclaiming<propertySize>, reclaiming<getProperty>},
      reclaiming<release>,
      windowsProcessApi(),
  };
  return runTansy(argc, argv, platform);
}
