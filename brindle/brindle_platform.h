#pragma once
// The Windows calls brindle makes, as a table: the real ones on Windows, fakes in tests.

#include <cstdint>

#include "platform_api.h"

struct DxgiLookupApi {
  // CreateDXGIFactory1 for IDXGIFactory4.
  HResult (*createFactory)(void** factory);
  // IDXGIFactory4::EnumAdapterByLuid for IDXGIAdapter.
  HResult (*enumAdapterByLuid)(void* factory, std::uint32_t lowPart, std::int32_t highPart,
                               void** adapter);
};

struct BrindlePlatform {
  ComApi com;
  DxgiLookupApi dxgi;
  ModuleApi modules;
  ProcessApi process;
};
