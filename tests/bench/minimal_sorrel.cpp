// Benchmark baseline: the DXGI, SetupAPI and PDH calls that sorrel makes, and nothing else.
// Prints what it read, one adapter a line, so that the calls cannot be left out. With
// "--no-counters" it leaves out the PDH part, which the benchmark times apart.

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <devpkey.h>
#include <dxgi1_6.h>
#include <pdh.h>
#include <pdhmsg.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

DEFINE_DEVPROPKEY(kGpuLuid, 0x60b193cb, 0x5276, 0x4d0f, 0x96, 0xfc, 0xf1, 0x73, 0xab, 0xad, 0x3e,
                  0xc6, 2);

unsigned long long sumOf(PDH_HCOUNTER counter, const wchar_t* prefix) {
  DWORD size = 0;
  DWORD count = 0;
  if (PdhGetFormattedCounterArrayW(counter, PDH_FMT_LARGE | PDH_FMT_NOSCALE, &size, &count,
                                   nullptr) != static_cast<PDH_STATUS>(PDH_MORE_DATA)) {
    return 0;
  }
  std::vector<unsigned long long> buffer(size / 8 + 1);
  auto* items = reinterpret_cast<PDH_FMT_COUNTERVALUE_ITEM_W*>(buffer.data());
  if (PdhGetFormattedCounterArrayW(counter, PDH_FMT_LARGE | PDH_FMT_NOSCALE, &size, &count,
                                   items) != ERROR_SUCCESS) {
    return 0;
  }
  unsigned long long sum = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (std::wcsncmp(items[i].szName, prefix, std::wcslen(prefix)) == 0) {
      sum += static_cast<unsigned long long>(items[i].FmtValue.largeValue);
    }
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  const bool counters = !(argc > 1 && std::strcmp(argv[1], "--no-counters") == 0);
  IDXGIFactory1* factory = nullptr;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory)))) {
    return 1;
  }
  IDXGIFactory6* factory6 = nullptr;
  factory->QueryInterface(__uuidof(IDXGIFactory6), reinterpret_cast<void**>(&factory6));
  std::vector<LUID> luids;
  IDXGIAdapter1* adapter = nullptr;
  for (UINT i = 0; factory->EnumAdapters1(i, &adapter) == S_OK; ++i) {
    DXGI_ADAPTER_DESC1 desc{};
    adapter->GetDesc1(&desc);
    unsigned outputs = 0;
    IDXGIOutput* output = nullptr;
    while (adapter->EnumOutputs(outputs, &output) == S_OK) {
      output->Release();
      ++outputs;
    }
    DXGI_QUERY_VIDEO_MEMORY_INFO local{}, nonLocal{};
    IDXGIAdapter3* adapter3 = nullptr;
    if (SUCCEEDED(adapter->QueryInterface(__uuidof(IDXGIAdapter3),
                                          reinterpret_cast<void**>(&adapter3)))) {
      adapter3->QueryVideoMemoryInfo(0, DXGI_MEMORY_SEGMENT_GROUP_LOCAL, &local);
      adapter3->QueryVideoMemoryInfo(0, DXGI_MEMORY_SEGMENT_GROUP_NON_LOCAL, &nonLocal);
      adapter3->Release();
    }
    LARGE_INTEGER version{};
    const HRESULT versioned = adapter->CheckInterfaceSupport(__uuidof(IDXGIDevice), &version);
    std::printf("%u %08lx:%08lx outputs %u budgets %llu %llu version 0x%08lx (%lld)\n", i,
                desc.AdapterLuid.HighPart, desc.AdapterLuid.LowPart, outputs,
                local.Budget, nonLocal.Budget, static_cast<unsigned long>(versioned),
                version.QuadPart);
    luids.push_back(desc.AdapterLuid);
    adapter->Release();
  }
  if (factory6 != nullptr) {
    for (const DXGI_GPU_PREFERENCE preference :
         {DXGI_GPU_PREFERENCE_HIGH_PERFORMANCE, DXGI_GPU_PREFERENCE_MINIMUM_POWER}) {
      for (UINT i = 0; factory6->EnumAdapterByGpuPreference(
                           i, preference, __uuidof(IDXGIAdapter1),
                           reinterpret_cast<void**>(&adapter)) == S_OK;
           ++i) {
        DXGI_ADAPTER_DESC1 desc{};
        adapter->GetDesc1(&desc);
        std::printf("preference %d: %u %08lx:%08lx\n", static_cast<int>(preference), i,
                    desc.AdapterLuid.HighPart, desc.AdapterLuid.LowPart);
        adapter->Release();
      }
    }
    factory6->Release();
  }
  factory->Release();

  const HDEVINFO devices =
      SetupDiGetClassDevsW(&GUID_DEVCLASS_DISPLAY, nullptr, nullptr, DIGCF_PRESENT);
  if (devices != INVALID_HANDLE_VALUE) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
      DEVPROPTYPE type = 0;
      unsigned long long luid = 0;
      unsigned bus = 0xFFFFFFFFu, address = 0xFFFFFFFFu;
      const BOOL hasLuid = SetupDiGetDevicePropertyW(devices, &device, &kGpuLuid, &type,
                                                     reinterpret_cast<BYTE*>(&luid), sizeof luid,
                                                     nullptr, 0);
      const DWORD luidError = hasLuid ? 0 : GetLastError();
      SetupDiGetDevicePropertyW(devices, &device, &DEVPKEY_Device_BusNumber, &type,
                                reinterpret_cast<BYTE*>(&bus), sizeof bus, nullptr, 0);
      SetupDiGetDevicePropertyW(devices, &device, &DEVPKEY_Device_Address, &type,
                                reinterpret_cast<BYTE*>(&address), sizeof address, nullptr, 0);
      std::printf("device %lu: luid %d %llx (error %lu) bus %x address %x\n", i, hasLuid, luid,
                  luidError, bus, address);
    }
    SetupDiDestroyDeviceInfoList(devices);
  }

  if (counters) {
    PDH_HQUERY query = nullptr;
    if (PdhOpenQueryW(nullptr, 0, &query) == ERROR_SUCCESS) {
      PDH_HCOUNTER dedicated = nullptr, shared = nullptr;
      const PDH_STATUS added = PdhAddEnglishCounterW(
          query, L"\\GPU Adapter Memory(*)\\Dedicated Usage", 0, &dedicated);
      PdhAddEnglishCounterW(query, L"\\GPU Adapter Memory(*)\\Shared Usage", 0, &shared);
      const PDH_STATUS collected = PdhCollectQueryData(query);
      for (const LUID& luid : luids) {
        wchar_t prefix[64];
        std::swprintf(prefix, 64, L"luid_0x%08lX_0x%08lX_phys_", luid.HighPart, luid.LowPart);
        std::printf("usage %08lx:%08lx %llu %llu\n", luid.HighPart, luid.LowPart,
                    dedicated != nullptr ? sumOf(dedicated, prefix) : 0,
                    shared != nullptr ? sumOf(shared, prefix) : 0);
      }
      std::printf("counters: added 0x%08lx collected 0x%08lx\n", static_cast<unsigned long>(added),
                  static_cast<unsigned long>(collected));
      PdhCloseQuery(query);
    }
  }
  return 0;
}
