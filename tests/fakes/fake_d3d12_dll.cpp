// A test-only d3d12.dll, put in a Wine prefix's System32 in place of Wine's (vkd3d).
// D3D12CreateDevice takes a DXGI adapter or a DXCore one and gives the device of
// fake_d3d12_device.c: at feature levels up to 12_1 on a DXGI adapter or a DXCore adapter with
// D3D12_GRAPHICS or D3D12_CORE_COMPUTE, at D3D_FEATURE_LEVEL_1_0_GENERIC on one with
// D3D12_GENERIC_ML only; otherwise DXGI_ERROR_UNSUPPORTED, as a driver without that level.
// FAKE_D3D12_CREATE "unsupported" makes the creation fail so too. FAKE_D3D12_CRASH ("load",
// "create" in D3D12CreateDevice, "unload", "end", each with an optional ":<how>") and
// FAKE_D3D12_CHATTER, FAKE_D3D12_FOREIGN make it misbehave as misbehaviour.h says.
// FAKE_D3D12_LUID ("low:high") keeps what happens in D3D12CreateDevice to the adapter of that
// LUID: a driver that fails or crashes on one adapter of several.

#include <windows.h>
#include <initguid.h>
#include <d3dcommon.h>
#include <dxgi.h>

#include "dxcore_attributes.h"
#include "fake_d3d12_device.h"
#include "misbehaviour.h"

#include <cstdio>

namespace {

const MisbehaviourVariables kVariables = {"FAKE_D3D12_CHATTER", "FAKE_D3D12_CRASH",
                                          "FAKE_D3D12_FOREIGN"};
constexpr int kLevel1_0Generic = 0x100;
constexpr int kLevel1_0Core = 0x1000;
constexpr int kLevel12_1 = 0xc100;

// What a driver offers on the adapter: the lowest and highest minimum level it accepts.
struct Adapter {
  LUID luid{};
  int lowest = 0;
  int highest = 0;
};

bool describe(IUnknown* object, Adapter& adapter) {
  IDXGIAdapter* dxgi = nullptr;
  if (SUCCEEDED(object->QueryInterface(__uuidof(IDXGIAdapter), reinterpret_cast<void**>(&dxgi)))) {
    DXGI_ADAPTER_DESC desc{};
    const HRESULT described = dxgi->GetDesc(&desc);
    dxgi->Release();
    adapter = {desc.AdapterLuid, kLevel1_0Core, kLevel12_1};
    return SUCCEEDED(described);
  }
  IDXCoreAdapter* core = nullptr;
  if (FAILED(object->QueryInterface(IID_IDXCoreAdapter, reinterpret_cast<void**>(&core)))) {
    return false;
  }
  const bool graphics = core->IsAttributeSupported(DXCORE_ADAPTER_ATTRIBUTE_D3D12_GRAPHICS);
  const bool compute = core->IsAttributeSupported(DXCORE_ADAPTER_ATTRIBUTE_D3D12_CORE_COMPUTE);
  const bool ml = core->IsAttributeSupported(DXCORE_ADAPTER_ATTRIBUTE_D3D12_GENERIC_ML);
  const HRESULT read = core->GetProperty(DXCoreAdapterProperty::InstanceLuid, sizeof adapter.luid,
                                         &adapter.luid);
  core->Release();
  adapter.lowest = ml ? kLevel1_0Generic : kLevel1_0Core;
  adapter.highest = graphics ? kLevel12_1 : compute ? kLevel1_0Core : ml ? kLevel1_0Generic : 0;
  return SUCCEEDED(read);
}

bool chosen(const LUID& luid) {
  const std::string wanted = testSetting("FAKE_D3D12_LUID");
  unsigned long low = 0;
  long high = 0;
  if (wanted.empty()) return true;
  return std::sscanf(wanted.c_str(), "%lu:%ld", &low, &high) == 2 && luid.LowPart == low &&
         luid.HighPart == high;
}

}  // namespace

extern "C" HRESULT WINAPI D3D12CreateDevice(IUnknown* object, D3D_FEATURE_LEVEL minimum,
                                            REFIID riid, void** device) {
  if (device != nullptr) *device = nullptr;
  Adapter adapter;
  if (object == nullptr || !describe(object, adapter)) return E_INVALIDARG;
  if (chosen(adapter.luid)) {
    installForeignHandlers(kVariables.foreign, "create");
    chatter(kVariables.chatter, "in D3D12CreateDevice");
    misbehaveAt(kVariables.crash, "create");
    if (testSetting("FAKE_D3D12_CREATE") == "unsupported") return DXGI_ERROR_UNSUPPORTED;
  }
  const int level = static_cast<int>(minimum);
  if (level < adapter.lowest || level > adapter.highest) return DXGI_ERROR_UNSUPPORTED;
  return fakeD3d12Device(riid, device);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) misbehaveOnAttach(kVariables, self);
  if (reason == DLL_PROCESS_DETACH) misbehaveOnDetach(kVariables, reserved);
  return TRUE;
}
