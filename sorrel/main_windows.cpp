// sorrel.exe: where each hardware adapter sits and what memory it has free, from DXGI,
// SetupAPI and the performance counters. The logic is in runSorrel; this file binds the real
// Windows calls. dxgi.dll, setupapi.dll and pdh.dll are loaded from System32 once the output
// guard is in place (systemSymbol), never imported.

#include <windows.h>
#include <dxgi1_6.h>
#include <initguid.h>
#include <devguid.h>
#include <devpkey.h>
#include <pdh.h>
#include <pdhmsg.h>
#include <setupapi.h>

#include <cstddef>

#include "reclaiming.h"
#include "sorrel_run.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "counter paths and names are UTF-16");
static_assert(sizeof(CounterItem) == sizeof(PDH_FMT_COUNTERVALUE_ITEM_W) &&
                  offsetof(CounterItem, name) == offsetof(PDH_FMT_COUNTERVALUE_ITEM_W, szName) &&
                  offsetof(CounterItem, status) ==
                      offsetof(PDH_FMT_COUNTERVALUE_ITEM_W, FmtValue.CStatus) &&
                  offsetof(CounterItem, value) ==
                      offsetof(PDH_FMT_COUNTERVALUE_ITEM_W, FmtValue.largeValue),
              "PDH's items are read in place");
static_assert(kPdhMoreData == static_cast<PdhStatus>(PDH_MORE_DATA));
static_assert(kCounterStatusValid == PDH_CSTATUS_VALID_DATA &&
              kCounterStatusNew == PDH_CSTATUS_NEW_DATA);
static_assert(kPropertyTypeUint32 == DEVPROP_TYPE_UINT32 &&
              kPropertyTypeUint64 == DEVPROP_TYPE_UINT64 && kPropertyTypeGuid == DEVPROP_TYPE_GUID);
static_assert(sizeof(Guid) == sizeof(GUID) && offsetof(Guid, data4) == offsetof(GUID, Data4));

namespace {

// The GPU's LUID on its display-class device, a 64-bit value.
DEFINE_DEVPROPKEY(kDevicePropertyGpuLuid, 0x60b193cb, 0x5276, 0x4d0f, 0x96, 0xfc, 0xf1, 0x73, 0xab,
                  0xad, 0x3e, 0xc6, 2);

// DXGI

HResult createFactory(void** factory) {
  *factory = nullptr;
  using Create = HRESULT(WINAPI*)(REFIID, void**);
  const auto create = systemFunction<Create>(L"dxgi.dll", "CreateDXGIFactory1");
  if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return create(__uuidof(IDXGIFactory1), factory);
}

HResult queryFactory6(void* factory, void** factory6) {
  *factory6 = nullptr;
  return static_cast<IDXGIFactory1*>(factory)->QueryInterface(__uuidof(IDXGIFactory6), factory6);
}

HResult enumAdapters1(void* factory, std::uint32_t ordinal, void** adapter) {
  *adapter = nullptr;
  return static_cast<IDXGIFactory1*>(factory)->EnumAdapters1(
      ordinal, reinterpret_cast<IDXGIAdapter1**>(adapter));
}

HResult getDesc1(void* adapter, AdapterDescription* out) {
  DXGI_ADAPTER_DESC1 desc{};
  const HRESULT result = static_cast<IDXGIAdapter1*>(adapter)->GetDesc1(&desc);
  out->dedicatedSystemMemory = desc.DedicatedSystemMemory;
  out->sharedSystemMemory = desc.SharedSystemMemory;
  out->luidLowPart = desc.AdapterLuid.LowPart;
  out->luidHighPart = desc.AdapterLuid.HighPart;
  out->flags = desc.Flags;
  return result;
}

HResult enumOutputs(void* adapter, std::uint32_t index, void** output) {
  *output = nullptr;
  return static_cast<IDXGIAdapter1*>(adapter)->EnumOutputs(index,
                                                          reinterpret_cast<IDXGIOutput**>(output));
}

HResult queryAdapter3(void* adapter, void** adapter3) {
  *adapter3 = nullptr;
  return static_cast<IDXGIAdapter1*>(adapter)->QueryInterface(__uuidof(IDXGIAdapter3), adapter3);
}

HResult queryBudget(void* adapter3, SegmentGroup group, std::uint64_t* budget) {
  DXGI_QUERY_VIDEO_MEMORY_INFO info{};
  const HRESULT result = static_cast<IDXGIAdapter3*>(adapter3)->QueryVideoMemoryInfo(
      0, group == SegmentGroup::local ? DXGI_MEMORY_SEGMENT_GROUP_LOCAL
                                      : DXGI_MEMORY_SEGMENT_GROUP_NON_LOCAL,
      &info);
  *budget = info.Budget;
  return result;
}

HResult checkDriverVersion(void* adapter, std::uint64_t* version) {
  LARGE_INTEGER umd{};
  const HRESULT result =
      static_cast<IDXGIAdapter1*>(adapter)->CheckInterfaceSupport(__uuidof(IDXGIDevice), &umd);
  *version = static_cast<std::uint64_t>(umd.QuadPart);
  return result;
}

HResult enumByPreference(void* factory6, std::uint32_t index, GpuPreference preference,
                         void** adapter) {
  *adapter = nullptr;
  return static_cast<IDXGIFactory6*>(factory6)->EnumAdapterByGpuPreference(
      index,
      preference == GpuPreference::highPerformance ? DXGI_GPU_PREFERENCE_HIGH_PERFORMANCE
                                                   : DXGI_GPU_PREFERENCE_MINIMUM_POWER,
      __uuidof(IDXGIAdapter1), adapter);
}

void release(void* object) { static_cast<IUnknown*>(object)->Release(); }

// SetupAPI

template <typename Function>
Function setupApi(const char* name) {
  return systemFunction<Function>(L"setupapi.dll", name);
}

void* openDisplayDevices() {
  static const auto open = setupApi<decltype(&SetupDiGetClassDevsW)>("SetupDiGetClassDevsW");
  if (open == nullptr) return nullptr;
  const HDEVINFO devices = open(&GUID_DEVCLASS_DISPLAY, nullptr, nullptr, DIGCF_PRESENT);
  return devices == INVALID_HANDLE_VALUE ? nullptr : devices;
}

bool deviceInfo(void* devices, std::uint32_t index, SP_DEVINFO_DATA* device) {
  static const auto enumerate = setupApi<decltype(&SetupDiEnumDeviceInfo)>("SetupDiEnumDeviceInfo");
  device->cbSize = sizeof *device;
  return enumerate != nullptr && enumerate(devices, index, device) != FALSE;
}

bool deviceAt(void* devices, std::uint32_t index) {
  SP_DEVINFO_DATA device{};
  return deviceInfo(devices, index, &device);
}

bool readProperty(void* devices, std::uint32_t index, DeviceProperty property, std::uint32_t* type,
                  unsigned char* buffer, std::uint32_t size, std::uint32_t* required) {
  *type = 0;
  *required = 0;
  SP_DEVINFO_DATA device{};
  static const auto read =
      setupApi<decltype(&SetupDiGetDevicePropertyW)>("SetupDiGetDevicePropertyW");
  if (read == nullptr || !deviceInfo(devices, index, &device)) return false;
  const DEVPROPKEY& key = property == DeviceProperty::gpuLuid     ? kDevicePropertyGpuLuid
                          : property == DeviceProperty::busType   ? DEVPKEY_Device_BusTypeGuid
                          : property == DeviceProperty::busNumber ? DEVPKEY_Device_BusNumber
                                                                  : DEVPKEY_Device_Address;
  DEVPROPTYPE propertyType = 0;
  DWORD requiredSize = 0;
  const BOOL succeeded =
      read(devices, &device, &key, &propertyType, buffer, size, &requiredSize, 0);
  *type = propertyType;
  *required = requiredSize;
  return succeeded != FALSE;
}

void closeDevices(void* devices) {
  static const auto destroy =
      setupApi<decltype(&SetupDiDestroyDeviceInfoList)>("SetupDiDestroyDeviceInfoList");
  if (destroy != nullptr) destroy(devices);
}

// PDH

template <typename Function>
Function pdh(const char* name) {
  return systemFunction<Function>(L"pdh.dll", name);
}

PdhStatus openQuery(void** query) {
  *query = nullptr;
  static const auto open = pdh<decltype(&PdhOpenQueryW)>("PdhOpenQueryW");
  if (open == nullptr) return ERROR_PROC_NOT_FOUND;
  return static_cast<PdhStatus>(open(nullptr, 0, reinterpret_cast<PDH_HQUERY*>(query)));
}

PdhStatus addEnglishCounter(void* query, const char16_t* path, void** counter) {
  *counter = nullptr;
  static const auto add = pdh<decltype(&PdhAddEnglishCounterW)>("PdhAddEnglishCounterW");
  if (add == nullptr) return ERROR_PROC_NOT_FOUND;
  return static_cast<PdhStatus>(add(query, reinterpret_cast<const wchar_t*>(path), 0,
                                    reinterpret_cast<PDH_HCOUNTER*>(counter)));
}

PdhStatus collect(void* query) {
  static const auto collectData = pdh<decltype(&PdhCollectQueryData)>("PdhCollectQueryData");
  if (collectData == nullptr) return ERROR_PROC_NOT_FOUND;
  return static_cast<PdhStatus>(collectData(query));
}

PdhStatus formattedArray(void* counter, std::uint32_t* bufferSize, std::uint32_t* itemCount,
                         CounterItem* items) {
  static const auto format =
      pdh<decltype(&PdhGetFormattedCounterArrayW)>("PdhGetFormattedCounterArrayW");
  if (format == nullptr) return ERROR_PROC_NOT_FOUND;
  DWORD size = *bufferSize;
  DWORD count = 0;
  const PDH_STATUS status =
      format(counter, PDH_FMT_LARGE | PDH_FMT_NOSCALE, &size, &count,
             reinterpret_cast<PDH_FMT_COUNTERVALUE_ITEM_W*>(items));
  *bufferSize = size;
  *itemCount = count;
  return static_cast<PdhStatus>(status);
}

void closeQuery(void* query) {
  static const auto close = pdh<decltype(&PdhCloseQuery)>("PdhCloseQuery");
  if (close != nullptr) close(query);
}

}  // namespace

int main() {
  const SorrelPlatform platform{
      {reclaiming<createFactory>, reclaiming<queryFactory6>, reclaiming<enumAdapters1>,
       reclaiming<getDesc1>, reclaiming<enumOutputs>, reclaiming<queryAdapter3>,
       reclaiming<queryBudget>, reclaiming<checkDriverVersion>, reclaiming<enumByPreference>,
       reclaiming<release>},
      {reclaiming<openDisplayDevices>, reclaiming<deviceAt>, reclaiming<readProperty>,
       reclaiming<closeDevices>},
      {reclaiming<openQuery>, reclaiming<addEnglishCounter>, reclaiming<collect>,
       reclaiming<formattedArray>, reclaiming<closeQuery>},
      windowsProcessApi(),
  };
  return runSorrel(platform);
}
