#include "fake_fennel_platform.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "fake_process.h"
#include "fault_injection.h"

namespace fake_fennel {

namespace {

using faults::Fault;

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
  HResult result = state().comResult;
  const Fault fault = faults::at("CoInitializeEx");
  if (fault == Fault::errorCode) result = static_cast<HResult>(0x80010106u);  // RPC_E_CHANGED_MODE
  if (fault == Fault::successCode) result = 1;                               // S_FALSE
  if (result >= 0) state().acquired.push_back("COM");
  return result;
}

void comUninitialize() {
  event("CoUninitialize");
  state().released.push_back("COM");
}

std::string nameOf(void* object);

void comRelease(void* object) {
  state().released.push_back(nameOf(object));
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
  const char* call = four ? "CreateDXGIFactory1 IDXGIFactory4" : "CreateDXGIFactory1 IDXGIFactory1";
  event(call);
  const Fault fault = faults::at(call);
  HResult result = four ? state().factory4Result : state().factory1Result;
  bool delivered = four ? state().factory4Delivered : state().factory1Delivered;
  if (fault == Fault::errorCode) result = static_cast<HResult>(0x887A0004u);
  if (fault == Fault::nullOut) delivered = false;
  *factory = delivered && result >= 0 ? &factoryToken : nullptr;
  if (*factory != nullptr) state().acquired.push_back("DXGI factory");
  return result;
}

HResult enumAdapters1(void* factory, std::uint32_t ordinal, void** adapter) {
  ++state().enumCalls;
  if (factory != &factoryToken) event("EnumAdapters1 on a stranger");
  *adapter = nullptr;
  if (state().enumCalls > 1000) return static_cast<HResult>(0x887A0002u);  // runaway loop guard
  if (ordinal == state().enumFailureOrdinal) return state().enumFailure;
  if (ordinal >= state().adapters.size()) return static_cast<HResult>(0x887A0002u);
  const Fault fault = faults::at("EnumAdapters1");
  if (fault == Fault::errorCode) return static_cast<HResult>(0x887A0005u);  // device removed
  if (fault == Fault::nullOut) return 0;
  *adapter = newHandle("adapter", ordinal);
  state().acquired.push_back(nameOf(*adapter));
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
  const Fault fault = faults::at("GetDesc1");
  if (fault == Fault::unterminated) std::fill(std::begin(out->description), std::end(out->description), u'Z');
  return fault == Fault::errorCode ? static_cast<HResult>(0x80004005u) : a.descResult;
}

void* loadModule(const wchar_t* fileName) {
  if (std::wcscmp(fileName, L"dxcore.dll") != 0) {
    event("LoadLibraryExW of an unexpected name");
    return nullptr;
  }
  event("LoadLibraryExW dxcore.dll");
  if (faults::at("LoadLibraryExW dxcore.dll") == Fault::nullOut || !state().dxcorePresent) {
    return nullptr;
  }
  state().acquired.push_back("dxcore.dll");
  return &moduleToken;
}

void entryPointStandIn() {}

ProcAddress moduleSymbol(void* module, const char* name) {
  event(std::string(module == &moduleToken ? "GetProcAddress " : "GetProcAddress stranger ") +
        name);
  if (faults::at(std::string("GetProcAddress ") + name) == Fault::nullOut) return nullptr;
  if (std::strcmp(name, "DXCoreCreateAdapterFactory") != 0 || !state().dxcoreEntryPoint) {
    return nullptr;
  }
  return &entryPointStandIn;
}

void unloadModule(void* module) {
  event(module == &moduleToken ? "FreeLibrary dxcore.dll" : "FreeLibrary stranger");
  state().released.push_back(module == &moduleToken ? "dxcore.dll" : "stranger");
}

HResult createAdapterFactory(ProcAddress entryPoint, void** factory) {
  event(entryPoint == &entryPointStandIn ? "DXCoreCreateAdapterFactory"
                                         : "DXCoreCreateAdapterFactory through a stranger");
  const Fault fault = faults::at("DXCoreCreateAdapterFactory");
  *factory = state().dxcoreFactoryDelivered && fault != Fault::nullOut ? &dxcoreFactoryToken
                                                                       : nullptr;
  const HResult result =
      fault == Fault::errorCode ? static_cast<HResult>(0x80004002u) : state().dxcoreFactoryResult;
  if (result >= 0 && *factory != nullptr) state().acquired.push_back("DXCore factory");
  return result;
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
  const Fault fault = faults::at("GetAdapterByLuid");
  if (a == nullptr || fault == Fault::errorCode) return static_cast<HResult>(0x80070057u);
  if (fault == Fault::nullOut) return 0;
  const auto index = static_cast<std::size_t>(a - state().adapters.data());
  *adapter = newHandle("DXCore adapter", index);
  state().acquired.push_back(nameOf(*adapter));
  event("GetAdapterByLuid " + std::to_string(index));
  return 0;
}

bool isPropertySupported(void* adapter, std::uint32_t property) {
  const Adapter& a = state().adapters.at(handleOf(adapter).index);
  event("IsPropertySupported " + std::to_string(property));
  if (faults::at("IsPropertySupported") == Fault::errorCode) return false;
  return property == kDxcorePropertyIsIntegrated && a.integratedSupported;
}

HResult getProperty(void* adapter, std::uint32_t property, std::size_t size, void* buffer) {
  const Adapter& a = state().adapters.at(handleOf(adapter).index);
  event("GetProperty " + std::to_string(property) + " size " + std::to_string(size));
  if (faults::at("GetProperty") == Fault::errorCode) return static_cast<HResult>(0x80004005u);
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
  const char* call = out == nullptr ? "WideCharToMultiByte size" : "WideCharToMultiByte convert";
  event(call);
  const Fault fault = faults::at(call);
  if (state().conversionFails || fault == Fault::zeroCount || fault == Fault::errorCode) return 0;
  const std::string bytes = encode(text, length);
  if (out == nullptr) return static_cast<int>(bytes.size());
  if (state().conversionWriteFails) return 0;
  if (outSize < static_cast<int>(bytes.size())) return 0;
  std::memcpy(out, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

std::string nameOf(void* object) {
  if (object == &factoryToken) return "DXGI factory";
  if (object == &dxcoreFactoryToken) return "DXCore factory";
  const std::size_t slot = reinterpret_cast<std::size_t>(object);
  if (slot == 0 || slot > handles.size()) return "stranger";
  const Handle& h = handles[slot - 1];
  return std::string(h.kind) + " " + std::to_string(h.index) + "#" + std::to_string(slot);
}

}  // namespace

World& world() { return state(); }

void reset() {
  state() = World{};
  handles.clear();
  fake_process::reset();
}

FennelPlatform platform() {
  return {{comInitialize, comUninitialize, comRelease},
          {createFactory, enumAdapters1, getDesc1},
          {loadModule, moduleSymbol, unloadModule},
          {createAdapterFactory, getAdapterByLuid, isPropertySupported, getProperty},
          {wideToUtf8},
          fake_process::api()};
}

}  // namespace fake_fennel
