#include "fake_fennel_platform.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace fake_fennel {

namespace {

int factoryToken;
int moduleToken;
int dxcoreFactoryToken;
// DXGI adapters and DXCore adapters are the model's records, told apart by these tags.
struct Handle {
  const char* kind;
  std::size_t index;
};
std::vector<Handle> handles;

World& state() {
  static World instance;
  return instance;
}

void event(const std::string& text) { state().events.push_back(text); }

void* newHandle(const char* kind, std::size_t index) {
  handles.push_back({kind, index});
  return reinterpret_cast<void*>(handles.size());  // 1-based, never null
}

Handle& handleOf(void* object) {
  return handles.at(reinterpret_cast<std::size_t>(object) - 1);
}

HResult comInitialize() {
  event("CoInitializeEx");
  return state().comResult;
}

void comUninitialize() { event("CoUninitialize"); }

void comRelease(void* object) {
  if (object == &factoryToken) {
    event("Release DXGI factory");
  } else if (object == &dxcoreFactoryToken) {
    event("Release DXCore factory");
  } else if (object == &moduleToken) {
    event("Release of the module handle");
  } else {
    const Handle& h = handleOf(object);
    event(std::string("Release ") + h.kind + " " + std::to_string(h.index));
  }
}

HResult createFactory(FactoryInterface which, void** factory) {
  const bool four = which == FactoryInterface::factory4;
  event(four ? "CreateDXGIFactory1 IDXGIFactory4" : "CreateDXGIFactory1 IDXGIFactory1");
  const HResult result = four ? state().factory4Result : state().factory1Result;
  const bool delivered = four ? state().factory4Delivered : state().factory1Delivered;
  *factory = delivered && result >= 0 ? &factoryToken : nullptr;
  return result;
}

HResult enumAdapters1(void* factory, std::uint32_t ordinal, void** adapter) {
  ++state().enumCalls;
  if (factory != &factoryToken) event("EnumAdapters1 on a stranger");
  *adapter = nullptr;
  if (state().enumCalls > 1000) return static_cast<HResult>(0x887A0002u);  // runaway loop guard
  if (ordinal == state().enumFailureOrdinal) return state().enumFailure;
  if (ordinal >= state().adapters.size()) return static_cast<HResult>(0x887A0002u);
  *adapter = newHandle("adapter", ordinal);
  event("EnumAdapters1 " + std::to_string(ordinal));
  return 0;
}

HResult getDesc1(void* adapter, AdapterDescription* out) {
  const Adapter& a = state().adapters.at(handleOf(adapter).index);
  std::memset(out, 0, sizeof *out);
  const std::size_t n = std::min<std::size_t>(a.name.size(), 128);
  std::copy(a.name.begin(), a.name.begin() + static_cast<std::ptrdiff_t>(n), out->description);
  out->vendorId = a.vendorId;
  out->deviceId = a.deviceId;
  out->dedicatedVideoMemory = a.dedicatedVideoMemory;
  out->luidLowPart = a.luidLowPart;
  out->luidHighPart = a.luidHighPart;
  out->flags = a.flags;
  return a.descResult;
}

void* loadModule(const wchar_t* fileName) {
  if (std::wcscmp(fileName, L"dxcore.dll") != 0) {
    event("LoadLibraryW of an unexpected name");
    return nullptr;
  }
  event("LoadLibraryW dxcore.dll");
  return state().dxcorePresent ? &moduleToken : nullptr;
}

void entryPointStandIn() {}

ProcAddress moduleSymbol(void* module, const char* name) {
  event(std::string(module == &moduleToken ? "GetProcAddress " : "GetProcAddress stranger ") +
        name);
  if (std::strcmp(name, "DXCoreCreateAdapterFactory") != 0 || !state().dxcoreEntryPoint) {
    return nullptr;
  }
  return &entryPointStandIn;
}

void unloadModule(void* module) {
  event(module == &moduleToken ? "FreeLibrary dxcore.dll" : "FreeLibrary stranger");
}

HResult createAdapterFactory(ProcAddress entryPoint, void** factory) {
  event(entryPoint == &entryPointStandIn ? "DXCoreCreateAdapterFactory"
                                         : "DXCoreCreateAdapterFactory through a stranger");
  *factory = state().dxcoreFactoryDelivered ? &dxcoreFactoryToken : nullptr;
  return state().dxcoreFactoryResult;
}

const Adapter* adapterByLuid(std::uint32_t low, std::int32_t high) {
  for (const Adapter& a : state().adapters) {
    if (a.luidLowPart == low && a.luidHighPart == high && a.knownToDxcore) return &a;
  }
  return nullptr;
}

HResult getAdapterByLuid(void* factory, std::uint32_t low, std::int32_t high, void** adapter) {
  if (factory != &dxcoreFactoryToken) event("GetAdapterByLuid on a stranger");
  *adapter = nullptr;
  const Adapter* a = adapterByLuid(low, high);
  if (a == nullptr) return static_cast<HResult>(0x80070057u);  // E_INVALIDARG
  const auto index = static_cast<std::size_t>(a - state().adapters.data());
  *adapter = newHandle("DXCore adapter", index);
  event("GetAdapterByLuid " + std::to_string(index));
  return 0;
}

bool isPropertySupported(void* adapter, std::uint32_t property) {
  const Adapter& a = state().adapters.at(handleOf(adapter).index);
  event("IsPropertySupported " + std::to_string(property));
  return property == kDxcorePropertyIsIntegrated && a.integratedSupported;
}

HResult getProperty(void* adapter, std::uint32_t property, std::size_t size, void* buffer) {
  const Adapter& a = state().adapters.at(handleOf(adapter).index);
  event("GetProperty " + std::to_string(property) + " size " + std::to_string(size));
  if (a.integratedResult >= 0 && size >= 1) *static_cast<unsigned char*>(buffer) = a.integratedByte;
  return a.integratedResult;
}

// UTF-16 to UTF-8 as WideCharToMultiByte does it, unpaired surrogates as U+FFFD.
std::string encode(const char16_t* text, int length) {
  std::string out;
  for (int i = 0; i < length; ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

int wideToUtf8(const char16_t* text, int length, char* out, int outSize) {
  event(out == nullptr ? "WideCharToMultiByte size" : "WideCharToMultiByte convert");
  if (state().conversionFails) return 0;
  const std::string bytes = encode(text, length);
  if (out == nullptr) return static_cast<int>(bytes.size());
  if (outSize < static_cast<int>(bytes.size())) return 0;
  std::memcpy(out, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

}  // namespace

World& world() { return state(); }

void reset() {
  state() = World{};
  handles.clear();
}

FennelPlatform platform() {
  return {{comInitialize, comUninitialize, comRelease},
          {createFactory, enumAdapters1, getDesc1},
          {loadModule, moduleSymbol, unloadModule},
          {createAdapterFactory, getAdapterByLuid, isPropertySupported, getProperty},
          {wideToUtf8}};
}

}  // namespace fake_fennel
