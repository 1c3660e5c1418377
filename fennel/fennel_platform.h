#pragma once
// The Windows calls fennel makes, as tables: the real ones on Windows, fakes in tests.

#include <cstddef>
#include <cstdint>

#include "platform_api.h"

enum class FactoryInterface { factory4, factory1 };

// The part of DXGI_ADAPTER_DESC1 that fennel reads.
struct AdapterDescription {
  char16_t description[128];
  std::uint32_t vendorId;
  std::uint32_t deviceId;
  std::uint64_t dedicatedVideoMemory;
  std::uint32_t luidLowPart;
  std::int32_t luidHighPart;
  std::uint32_t flags;
};

constexpr std::uint32_t kAdapterFlagSoftware = 2;  // DXGI_ADAPTER_FLAG_SOFTWARE
constexpr HResult kDxgiErrorNotFound = static_cast<HResult>(0x887A0002u);

struct DxgiEnumApi {
  // CreateDXGIFactory1 for the given interface; the out pointer is cleared first.
  HResult (*createFactory)(FactoryInterface which, void** factory);
  HResult (*enumAdapters1)(void* factory, std::uint32_t ordinal, void** adapter);
  HResult (*getDesc1)(void* adapter, AdapterDescription* description);
};

constexpr std::uint32_t kDxcorePropertyIsIntegrated = 12;  // DXCoreAdapterProperty::IsIntegrated

struct DxcoreApi {
  // Calls the looked-up DXCoreCreateAdapterFactory for IDXCoreAdapterFactory.
  HResult (*createAdapterFactory)(ProcAddress entryPoint, void** factory);
  // IDXCoreAdapterFactory::GetAdapterByLuid for IDXCoreAdapter.
  HResult (*getAdapterByLuid)(void* factory, std::uint32_t lowPart, std::int32_t highPart,
                              void** adapter);
  bool (*isPropertySupported)(void* adapter, std::uint32_t property);
  HResult (*getProperty)(void* adapter, std::uint32_t property, std::size_t bufferSize,
                         void* buffer);
};

struct TextApi {
  // WideCharToMultiByte(CP_UTF8, 0, text, length, out, outSize, nullptr, nullptr).
  int (*wideToUtf8)(const char16_t* text, int length, char* out, int outSize);
};

struct FennelPlatform {
  ComApi com;
  DxgiEnumApi dxgi;
  ModuleApi modules;
  DxcoreApi dxcore;
  TextApi text;
  ProcessApi process;
};
