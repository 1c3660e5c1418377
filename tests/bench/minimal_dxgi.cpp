// Benchmark baseline: the COM, DXGI and DXCore-loading calls fennel makes, and nothing else.

#include <windows.h>
#include <dxgi1_4.h>

#include <cstdio>

int main() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IDXGIFactory1* factory = nullptr;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory4), reinterpret_cast<void**>(&factory)))) {
    return 1;
  }
  HMODULE dxcore = LoadLibraryExW(L"dxcore.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  unsigned listed = 0;
  IDXGIAdapter1* adapter = nullptr;
  for (UINT i = 0; factory->EnumAdapters1(i, &adapter) != DXGI_ERROR_NOT_FOUND; ++i) {
    DXGI_ADAPTER_DESC1 desc{};
    if (SUCCEEDED(adapter->GetDesc1(&desc)) && !(desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE)) ++listed;
    adapter->Release();
  }
  factory->Release();
  CoUninitialize();
  if (dxcore != nullptr) FreeLibrary(dxcore);
  std::printf("%u\n", listed);
  return 0;
}
