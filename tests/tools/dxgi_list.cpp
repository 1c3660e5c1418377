// Test tool: prints every adapter that DXGI enumerates, one line each, as
// "name<TAB>vendor<TAB>device<TAB>memory<TAB>luidLow<TAB>luidHigh<TAB>flags", the name in
// UTF-8, so that the tests can compare fennel's document with what DXGI says.

#include <windows.h>
#include <dxgi.h>

#include <cstdio>
#include <string>

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 3;
  IDXGIFactory1* factory = nullptr;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory)))) {
    return 4;
  }
  IDXGIAdapter1* adapter = nullptr;
  for (UINT i = 0; factory->EnumAdapters1(i, &adapter) == S_OK; ++i) {
    DXGI_ADAPTER_DESC1 d{};
    if (SUCCEEDED(adapter->GetDesc1(&d))) {
      char name[512] = {};
      WideCharToMultiByte(CP_UTF8, 0, d.Description, -1, name, sizeof name, nullptr, nullptr);
      std::printf("%s\t%u\t%u\t%llu\t%lu\t%ld\t%u\n", name, d.VendorId, d.DeviceId,
                  static_cast<unsigned long long>(d.DedicatedVideoMemory), d.AdapterLuid.LowPart,
                  d.AdapterLuid.HighPart, d.Flags);
    }
    adapter->Release();
  }
  factory->Release();
  CoUninitialize();
  return 0;
}
