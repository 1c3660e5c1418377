// fennel.exe: lists the hardware adapters that DXGI reports, with the integrated-GPU
// answer from DXCore where the machine has it. The logic is in runFennel; this file binds
// the real Windows calls.

#include <windows.h>
#include <dxgi1_4.h>
#include <initguid.h>
#include <directx/dxcore.h>

#include <cstring>

#include "fennel_run.h"
#include "reclaiming.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 names are copied unit for unit");
static_assert(kDxcorePropertyIsIntegrated ==
              static_cast<std::uint32_t>(DXCoreAdapterProperty::IsIntegrated));

namespace {

using CreateFactoryFunction = HRESULT(WINAPI*)(REFIID, void**);

// dxgi.dll from System32 once the output guard is in place (systemSymbol).
HResult createFactory(FactoryInterface which, void** factory) {
  *factory = nullptr;
  const auto create =
      reinterpret_cast<CreateFactoryFunction>(systemSymbol(L"dxgi.dll", "CreateDXGIFactory1"));
  if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  const IID& iid =
      which == FactoryInterface::factory4 ? __uuidof(IDXGIFactory4) : __uuidof(IDXGIFactory1);
  return create(iid, factory);
}

HResult enumAdapters1(void* factory, std::uint32_t ordinal, void** adapter) {
  *adapter = nullptr;
  return static_cast<IDXGIFactory1*>(factory)->EnumAdapters1(
      ordinal, reinterpret_cast<IDXGIAdapter1**>(adapter));
}

HResult getDesc1(void* adapter, AdapterDescription* out) {
  DXGI_ADAPTER_DESC1 desc{};
  const HRESULT result = static_cast<IDXGIAdapter1*>(adapter)->GetDesc1(&desc);
  static_assert(sizeof out->description == sizeof desc.Description);
  std::memcpy(out->description, desc.Description, sizeof out->description);
  out->vendorId = desc.VendorId;
  out->deviceId = desc.DeviceId;
  out->dedicatedVideoMemory = desc.DedicatedVideoMemory;
  out->luidLowPart = desc.AdapterLuid.LowPart;
  out->luidHighPart = desc.AdapterLuid.HighPart;
  out->flags = desc.Flags;
  return result;
}

using CreateAdapterFactoryFunction = HRESULT(WINAPI*)(REFIID, void**);

HResult createAdapterFactory(ProcAddress entryPoint, void** factory) {
  *factory = nullptr;
  const auto create = reinterpret_cast<CreateAdapterFactoryFunction>(entryPoint);
  return create(IID_IDXCoreAdapterFactory, factory);
}

HResult getAdapterByLuid(void* factory, std::uint32_t lowPart, std::int32_t highPart,
                         void** adapter) {
  *adapter = nullptr;
  LUID luid;
  luid.LowPart = lowPart;
  luid.HighPart = highPart;
  return static_cast<IDXCoreAdapterFactory*>(factory)->GetAdapterByLuid(luid, IID_IDXCoreAdapter,
                                                                        adapter);
}

bool isPropertySupported(void* adapter, std::uint32_t property) {
  return static_cast<IDXCoreAdapter*>(adapter)->IsPropertySupported(
      static_cast<DXCoreAdapterProperty>(property));
}

HResult getProperty(void* adapter, std::uint32_t property, std::size_t bufferSize, void* buffer) {
  return static_cast<IDXCoreAdapter*>(adapter)->GetProperty(
      static_cast<DXCoreAdapterProperty>(property), bufferSize, buffer);
}

int wideToUtf8(const char16_t* text, int length, char* out, int outSize) {
  return WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text), length, out,
                             outSize, nullptr, nullptr);
}

}  // namespace

int main() {
  const FennelPlatform platform{
      windowsComApi(),
      {reclaiming<createFactory>, reclaiming<enumAdapters1>, reclaiming<getDesc1>},
      windowsModuleApi(),
      {reclaiming<createAdapterFactory>, reclaiming<getAdapterByLuid>,
       reclaiming<isPropertySupported>, reclaiming<getProperty>},
      {reclaiming<wideToUtf8>},
      windowsProcessApi(),
  };
  return runFennel(platform);
}
