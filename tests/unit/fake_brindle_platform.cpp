#include "fake_brindle_platform.h"

#include <cwchar>

#include "fake_opencl.h"

namespace fake_brindle {

namespace {

int factoryToken;
int adapterToken;
int moduleToken;

World& state() {
  static World instance;
  return instance;
}

void event(const char* text) { state().events.emplace_back(text); }

HResult comInitialize() {
  event("CoInitializeEx");
  return state().comResult;
}

void comUninitialize() { event("CoUninitialize"); }

void comRelease(void* object) {
  if (object == &factoryToken) {
    event("Release factory");
  } else if (object == &adapterToken) {
    event("Release adapter");
  } else {
    event("Release unknown object");
  }
}

HResult createFactory(void** factory) {
  event("CreateDXGIFactory1");
  // A failed call may leave garbage behind; the run must not release it.
  *factory = state().factoryDelivered ? &factoryToken : nullptr;
  if (state().factoryResult < 0 && state().factoryDelivered) *factory = &moduleToken;
  return state().factoryResult;
}

HResult enumAdapterByLuid(void* factory, std::uint32_t lowPart, std::int32_t highPart,
                          void** adapter) {
  event(factory == &factoryToken ? "EnumAdapterByLuid" : "EnumAdapterByLuid on a stranger");
  state().lookedUpLow = lowPart;
  state().lookedUpHigh = highPart;
  *adapter = state().adapterDelivered && state().lookupResult >= 0 ? &adapterToken : nullptr;
  return state().lookupResult;
}

void* loadModule(const wchar_t* fileName) {
  if (std::wcscmp(fileName, L"OpenCL.dll") != 0) {
    event("LoadLibraryW of an unexpected name");
    return nullptr;
  }
  event("LoadLibraryW OpenCL.dll");
  return state().openClPresent ? &moduleToken : nullptr;
}

ProcAddress moduleSymbol(void* module, const char* name) {
  if (module != &moduleToken) {
    event("GetProcAddress on a stranger");
    return nullptr;
  }
  state().events.push_back(std::string("GetProcAddress ") + name);
  return reinterpret_cast<ProcAddress>(fake_opencl::exportedFunction(name));
}

void unloadModule(void* module) {
  event(module == &moduleToken ? "FreeLibrary OpenCL.dll" : "FreeLibrary stranger");
}

}  // namespace

World& world() { return state(); }

void reset() {
  state() = World{};
  fake_opencl::reset();
}

BrindlePlatform platform() {
  return {{comInitialize, comUninitialize, comRelease},
          {createFactory, enumAdapterByLuid},
          {loadModule, moduleSymbol, unloadModule}};
}

void* adapterObject() { return &adapterToken; }

}  // namespace fake_brindle
