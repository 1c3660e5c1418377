// Benchmark baseline: the DXGI, Direct3D 11, Direct3D 12 and DXCore calls that tansy makes, and
// nothing else. Prints what it read, one adapter a line, so that the calls cannot be left out.

#include <windows.h>
#include <initguid.h>
#include <d3d11.h>
#include <d3d12.h>
#include <directx/dxcore.h>
#include <dxgi1_6.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

DEFINE_GUID(kGenericMl, 0xb71b0d41, 0x1088, 0x422f, 0xa2, 0x7c, 0x02, 0x50, 0xb7, 0xd3, 0xa9, 0x88);
DEFINE_GUID(kNpu, 0xd46140c4, 0xadd7, 0x451b, 0x9e, 0x56, 0x06, 0xfe, 0x8c, 0x3b, 0x58, 0xed);
DEFINE_GUID(kComputeAccelerator, 0xe0b195da, 0x58ef, 0x4a22, 0x90, 0xf1, 0x1f, 0x28, 0x16, 0x9c,
            0xab, 0x8d);
DEFINE_GUID(kMediaAccelerator, 0x66bdb96a, 0x050b, 0x44c7, 0xa4, 0xfd, 0xd1, 0x44, 0xce, 0x0a,
            0xb4, 0x43);
DEFINE_GUID(kGpu, 0xb69eb219, 0x3ded, 0x4464, 0x97, 0x9f, 0xa0, 0x0b, 0xd4, 0x68, 0x70, 0x06);

using D3d11Create = decltype(&D3D11CreateDevice);
using D3d12Create = HRESULT(WINAPI*)(IUnknown*, D3D_FEATURE_LEVEL, REFIID, void**);
using DxcoreCreate = HRESULT(WINAPI*)(REFIID, void**);

template <typename Function>
Function systemFunction(const wchar_t* dll, const char* name) {
  const HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

void d3d11Device(D3d11Create create, IDXGIAdapter1* adapter) {
  const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_12_1, D3D_FEATURE_LEVEL_12_0,
                                      D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0,
                                      D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0,
                                      D3D_FEATURE_LEVEL_9_3,  D3D_FEATURE_LEVEL_9_2,
                                      D3D_FEATURE_LEVEL_9_1};
  HRESULT result = E_INVALIDARG;
  D3D_FEATURE_LEVEL level{};
  for (const UINT skip : {0u, 2u, 3u}) {
    ID3D11Device* device = nullptr;
    result = create(adapter, D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, levels + skip,
                    static_cast<UINT>(std::size(levels) - skip), D3D11_SDK_VERSION, &device, &level,
                    nullptr);
    if (device != nullptr) device->Release();
    if (result != E_INVALIDARG) break;
  }
  std::printf(" d3d11 0x%08lx level 0x%x", static_cast<unsigned long>(result), level);
}

void d3d12Queries(ID3D12Device* device) {
  D3D_FEATURE_LEVEL requested[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_11_1,
                                   D3D_FEATURE_LEVEL_12_0, D3D_FEATURE_LEVEL_12_1,
                                   static_cast<D3D_FEATURE_LEVEL>(0xc200)};
  D3D12_FEATURE_DATA_FEATURE_LEVELS levels{static_cast<UINT>(std::size(requested)), requested, {}};
  if (device->CheckFeatureSupport(D3D12_FEATURE_FEATURE_LEVELS, &levels, sizeof levels) ==
      E_INVALIDARG) {
    --levels.NumFeatureLevels;
    device->CheckFeatureSupport(D3D12_FEATURE_FEATURE_LEVELS, &levels, sizeof levels);
  }
  D3D12_FEATURE_DATA_SHADER_MODEL model{};
  for (unsigned asked = 0x69;; asked = asked == 0x60 ? 0x51 : asked - 1) {
    model.HighestShaderModel = static_cast<D3D_SHADER_MODEL>(asked);
    if (device->CheckFeatureSupport(D3D12_FEATURE_SHADER_MODEL, &model, sizeof model) !=
            E_INVALIDARG ||
        asked == 0x51) {
      break;
    }
  }
  D3D12_FEATURE_DATA_D3D12_OPTIONS options{};
  device->CheckFeatureSupport(D3D12_FEATURE_D3D12_OPTIONS, &options, sizeof options);
  D3D12_FEATURE_DATA_ARCHITECTURE1 architecture{};
  if (FAILED(device->CheckFeatureSupport(D3D12_FEATURE_ARCHITECTURE1, &architecture,
                                         sizeof architecture))) {
    D3D12_FEATURE_DATA_ARCHITECTURE older{};
    device->CheckFeatureSupport(D3D12_FEATURE_ARCHITECTURE, &older, sizeof older);
    architecture.UMA = older.UMA;
  }
  D3D12_FEATURE_DATA_D3D12_OPTIONS4 options4{};
  device->CheckFeatureSupport(D3D12_FEATURE_D3D12_OPTIONS4, &options4, sizeof options4);
  D3D12_FEATURE_DATA_D3D12_OPTIONS1 options1{};
  device->CheckFeatureSupport(D3D12_FEATURE_D3D12_OPTIONS1, &options1, sizeof options1);
  std::printf(" level 0x%x model 0x%x tier %d uma %d 16-bit %d wave %d",
              levels.MaxSupportedFeatureLevel, model.HighestShaderModel,
              options.ResourceBindingTier, architecture.UMA,
              options4.Native16BitShaderOpsSupported, options1.WaveOps);
}

bool d3d12Device(D3d12Create create, IUnknown* adapter, D3D_FEATURE_LEVEL level) {
  ID3D12Device* device = nullptr;
  const HRESULT result =
      create(adapter, level, __uuidof(ID3D12Device), reinterpret_cast<void**>(&device));
  std::printf(" d3d12 0x%08lx", static_cast<unsigned long>(result));
  if (device == nullptr) return false;
  if (level == D3D_FEATURE_LEVEL_11_0) d3d12Queries(device);
  device->Release();
  return true;
}

template <typename Value>
Value property(IDXCoreAdapter* adapter, DXCoreAdapterProperty which) {
  Value value{};
  if (adapter->IsPropertySupported(which)) adapter->GetProperty(which, sizeof value, &value);
  return value;
}

void computeAdapters(DxcoreCreate create, D3d12Create d3d12) {
  IDXCoreAdapterFactory* factory = nullptr;
  if (create == nullptr ||
      FAILED(create(IID_IDXCoreAdapterFactory, reinterpret_cast<void**>(&factory)))) {
    std::printf("no DXCore\n");
    return;
  }
  std::vector<LUID> seen;
  for (const GUID* attribute : {&DXCORE_ADAPTER_ATTRIBUTE_D3D12_CORE_COMPUTE, &kGenericMl, &kNpu}) {
    IDXCoreAdapterList* list = nullptr;
    if (FAILED(factory->CreateAdapterList(1, attribute, IID_IDXCoreAdapterList,
                                          reinterpret_cast<void**>(&list)))) {
      continue;
    }
    for (uint32_t i = 0; i < list->GetAdapterCount(); ++i) {
      IDXCoreAdapter* adapter = nullptr;
      if (FAILED(list->GetAdapter(i, IID_IDXCoreAdapter, reinterpret_cast<void**>(&adapter)))) continue;
      const LUID luid = property<LUID>(adapter, DXCoreAdapterProperty::InstanceLuid);
      bool known = false;
      for (const LUID& other : seen) known = known || (other.LowPart == luid.LowPart && other.HighPart == luid.HighPart);
      if (!known && !adapter->IsAttributeSupported(DXCORE_ADAPTER_ATTRIBUTE_D3D12_GRAPHICS)) {
        seen.push_back(luid);
        size_t size = 0;
        std::string name;
        if (adapter->GetPropertySize(DXCoreAdapterProperty::DriverDescription, &size) == S_OK) {
          name.resize(size);
          adapter->GetProperty(DXCoreAdapterProperty::DriverDescription, size, &name[0]);
        }
        int type = 0;
        for (const GUID* hardware : {&kNpu, &kComputeAccelerator, &kMediaAccelerator, &kGpu}) {
          if (adapter->IsAttributeSupported(*hardware)) break;
          ++type;
        }
        std::printf("compute %08lx:%08lx %s id %x type %d core %d ml %d memory %llu version %llx hardware %d",
                    luid.HighPart, luid.LowPart, name.c_str(),
                    property<DXCoreHardwareID>(adapter, DXCoreAdapterProperty::HardwareID).deviceID, type,
                    adapter->IsAttributeSupported(DXCORE_ADAPTER_ATTRIBUTE_D3D12_CORE_COMPUTE),
                    adapter->IsAttributeSupported(kGenericMl),
                    property<uint64_t>(adapter, DXCoreAdapterProperty::DedicatedAdapterMemory),
                    property<uint64_t>(adapter, DXCoreAdapterProperty::DriverVersion),
                    property<bool>(adapter, DXCoreAdapterProperty::IsHardware));
        if (d3d12 != nullptr && !d3d12Device(d3d12, adapter, static_cast<D3D_FEATURE_LEVEL>(0x1000))) {
          d3d12Device(d3d12, adapter, static_cast<D3D_FEATURE_LEVEL>(0x100));
        }
        std::printf("\n");
      }
      adapter->Release();
    }
    list->Release();
  }
  factory->Release();
}

}  // namespace

int main() {
  IDXGIFactory1* factory = nullptr;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory)))) {
    return 1;
  }
  const auto d3d11 = systemFunction<D3d11Create>(L"d3d11.dll", "D3D11CreateDevice");
  const auto d3d12 = systemFunction<D3d12Create>(L"d3d12.dll", "D3D12CreateDevice");
  IDXGIAdapter1* adapter = nullptr;
  for (UINT i = 0; factory->EnumAdapters1(i, &adapter) == S_OK; ++i) {
    DXGI_ADAPTER_DESC1 desc{};
    adapter->GetDesc1(&desc);
    std::printf("%u %08lx:%08lx flags %u", i, desc.AdapterLuid.HighPart, desc.AdapterLuid.LowPart,
                desc.Flags);
    if (d3d11 != nullptr) d3d11Device(d3d11, adapter);
    if (d3d12 != nullptr) d3d12Device(d3d12, adapter, D3D_FEATURE_LEVEL_11_0);
    std::printf("\n");
    adapter->Release();
  }
  factory->Release();
  computeAdapters(systemFunction<DxcoreCreate>(L"dxcore.dll", "DXCoreCreateAdapterFactory"), d3d12);
  return 0;
}
