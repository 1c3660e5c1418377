// brindle.exe: maps one DXGI adapter, given by its LUID, to the OpenCL platform and
// device that drive it. The logic is in runBrindle; this file binds the real Windows calls.

#include <windows.h>
#include <dxgi1_4.h>

#include <CL/cl_d3d11.h>

#include "brindle_run.h"
#include "match_d3d11.h"
#include "reclaiming.h"

// The sharing match spells out cl_khr_d3d11_sharing's names without the D3D headers.
static_assert(kClD3D11DxgiAdapterKhr == CL_D3D11_DXGI_ADAPTER_KHR);
static_assert(kClPreferredDevicesForD3D11Khr == CL_PREFERRED_DEVICES_FOR_D3D11_KHR);
static_assert(kClAllDevicesForD3D11Khr == CL_ALL_DEVICES_FOR_D3D11_KHR);
static_assert(sizeof(HRESULT) == sizeof(HResult));

namespace {

using CreateFactoryFunction = HRESULT(WINAPI*)(REFIID, void**);

// dxgi.dll from System32 once the output guard is in place (systemSymbol).
HResult createFactory(void** factory) {
  *factory = nullptr;
  const auto create =
      reinterpret_cast<CreateFactoryFunction>(systemSymbol(L"dxgi.dll", "CreateDXGIFactory1"));
  if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return create(__uuidof(IDXGIFactory4), factory);
}

HResult enumAdapterByLuid(void* factory, std::uint32_t lowPart, std::int32_t highPart,
                          void** adapter) {
  *adapter = nullptr;
  LUID luid;
  luid.LowPart = lowPart;
  luid.HighPart = highPart;
  return static_cast<IDXGIFactory4*>(factory)->EnumAdapterByLuid(luid, __uuidof(IDXGIAdapter),
                                                                 adapter);
}

}  // namespace

int main(int argc, char** argv) {
  const BrindlePlatform platform{
      windowsComApi(),
      {reclaiming<createFactory>, reclaiming<enumAdapterByLuid>},
      windowsModuleApi(),
      windowsProcessApi()};
  return runBrindle(argc, argv, platform);
}
