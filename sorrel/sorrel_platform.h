#pragma once
// The Windows calls sorrel makes, as tables: the real ones on Windows, fakes in tests. DXGI
// needs no COM apartment, so sorrel starts none.

#include <cstddef>
#include <cstdint>

#include "platform_api.h"

// The part of DXGI_ADAPTER_DESC1 that sorrel reads.
struct AdapterDescription {
  std::uint64_t dedicatedSystemMemory;
  std::uint64_t sharedSystemMemory;
  std::uint32_t luidLowPart;
  std::int32_t luidHighPart;
  std::uint32_t flags;
};

constexpr std::uint32_t kAdapterFlagSoftware = 2;  // DXGI_ADAPTER_FLAG_SOFTWARE
// The most entries a list is walked for (adapters, outputs, display devices): no machine comes
// near it, and a platform that never ends a list is cut there.
constexpr std::uint32_t kWalkLimit = 4096;
constexpr HResult kDxgiErrorNotFound = static_cast<HResult>(0x887A0002u);

enum class GpuPreference { highPerformance, minimumPower };  // DXGI_GPU_PREFERENCE_*
enum class SegmentGroup { local, nonLocal };                 // DXGI_MEMORY_SEGMENT_GROUP_*

struct DxgiApi {
  // CreateDXGIFactory1 for IDXGIFactory1; the out pointer is cleared first.
  HResult (*createFactory)(void** factory);
  // IDXGIFactory1::QueryInterface for IDXGIFactory6.
  HResult (*queryFactory6)(void* factory, void** factory6);
  HResult (*enumAdapters1)(void* factory, std::uint32_t ordinal, void** adapter);
  HResult (*getDesc1)(void* adapter, AdapterDescription* description);
  // IDXGIAdapter::EnumOutputs.
  HResult (*enumOutputs)(void* adapter, std::uint32_t index, void** output);
  // IDXGIAdapter1::QueryInterface for IDXGIAdapter3.
  HResult (*queryAdapter3)(void* adapter, void** adapter3);
  // IDXGIAdapter3::QueryVideoMemoryInfo for node 0: the Budget.
  HResult (*queryBudget)(void* adapter3, SegmentGroup group, std::uint64_t* budget);
  // IDXGIAdapter::CheckInterfaceSupport for IDXGIDevice: the user-mode driver's version.
  HResult (*checkDriverVersion)(void* adapter, std::uint64_t* version);
  // IDXGIFactory6::EnumAdapterByGpuPreference for IDXGIAdapter1.
  HResult (*enumByPreference)(void* factory6, std::uint32_t index, GpuPreference preference,
                              void** adapter);
  // IUnknown::Release of any of the above.
  void (*release)(void* object);
};

enum class DeviceProperty { gpuLuid, busType, busNumber, address };
constexpr std::uint32_t kPropertyTypeUint32 = 0x7;  // DEVPROP_TYPE_UINT32
constexpr std::uint32_t kPropertyTypeUint64 = 0x9;  // DEVPROP_TYPE_UINT64
constexpr std::uint32_t kPropertyTypeGuid = 0xD;    // DEVPROP_TYPE_GUID

// A GUID as Windows lays it out.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};
// GUID_BUS_TYPE_PCI: only on this bus are the bus number and address a PCI location.
constexpr Guid kBusTypePci = {0xC8EBDFB0u, 0xB510, 0x11D0,
                               {0x80, 0xE5, 0x00, 0xA0, 0xC9, 0x25, 0x42, 0xE3}};

// SetupAPI over the present display-class devices.
struct DeviceApi {
  // SetupDiGetClassDevsW(GUID_DEVCLASS_DISPLAY, DIGCF_PRESENT); null when it fails.
  void* (*openDisplayDevices)();
  // SetupDiEnumDeviceInfo: false past the last device, or when it fails.
  bool (*deviceAt)(void* devices, std::uint32_t index);
  // SetupDiGetDevicePropertyW of the device at index: its type and the size it takes are
  // written; false when the call fails (also for a buffer too small).
  bool (*readProperty)(void* devices, std::uint32_t index, DeviceProperty property,
                       std::uint32_t* type, unsigned char* buffer, std::uint32_t size,
                       std::uint32_t* required);
  // SetupDiDestroyDeviceInfoList.
  void (*closeDevices)(void* devices);
};

using PdhStatus = std::uint32_t;
constexpr PdhStatus kPdhSuccess = 0;
constexpr PdhStatus kPdhMoreData = 0x800007D2u;  // PDH_MORE_DATA
constexpr std::uint32_t kCounterStatusValid = 0;  // PDH_CSTATUS_VALID_DATA
constexpr std::uint32_t kCounterStatusNew = 1;    // PDH_CSTATUS_NEW_DATA

// PDH_FMT_COUNTERVALUE_ITEM_W as formatted with PDH_FMT_LARGE: the names point into the same
// buffer, behind the items.
struct CounterItem {
  const char16_t* name;
  std::uint32_t status;
  std::int64_t value;
};

// The performance counters (PDH).
struct CounterApi {
  PdhStatus (*openQuery)(void** query);  // PdhOpenQueryW on the live data
  PdhStatus (*addEnglishCounter)(void* query, const char16_t* path, void** counter);
  PdhStatus (*collect)(void* query);  // PdhCollectQueryData
  // PdhGetFormattedCounterArrayW with PDH_FMT_LARGE | PDH_FMT_NOSCALE; bufferSize in bytes.
  PdhStatus (*formattedArray)(void* counter, std::uint32_t* bufferSize, std::uint32_t* itemCount,
                              CounterItem* items);
  void (*closeQuery)(void* query);  // PdhCloseQuery
};

struct SorrelPlatform {
  DxgiApi dxgi;
  DeviceApi devices;
  CounterApi counters;
  ProcessApi process;
};
