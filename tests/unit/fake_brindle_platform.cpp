#include "fake_brindle_platform.h"

#include <cwchar>

#include "fake_opencl.h"
#include "fake_process.h"
#include "fault_injection.h"
#include "test_support.h"

namespace fake_brindle {

namespace {

using faults::Fault;

int factoryToken;
int adapterToken;
int moduleToken;

World& state() {
  static World instance;
  return instance;
}

void event(const char* text) { state().events.emplace_back(text); }

void releaseEvent(const char* text, const char* what) {
  event(text);
  state().released.push_back(what);
  state().stdoutAtRelease.push_back(stdoutBytesSoFar());
}

HResult comInitialize() {
  event("CoInitializeEx");
  const Fault fault = faults::at("CoInitializeEx");
  HResult result = state().comResult;
  if (fault == Fault::errorCode) result = static_cast<HResult>(0x8001010Eu);  // RPC_E_WRONG_THREAD
  if (fault == Fault::successCode) result = 1;                               // S_FALSE
  if (result >= 0) state().acquired.push_back("COM");
  return result;
}

void comUninitialize() { releaseEvent("CoUninitialize", "COM"); }

void comRelease(void* object) {
  if (object == &factoryToken) {
    releaseEvent("Release factory", "factory");
  } else if (object == &adapterToken) {
    releaseEvent("Release adapter", "adapter");
  } else {
    releaseEvent("Release unknown object", "unknown");
  }
}

HResult createFactory(void** factory) {
  event("CreateDXGIFactory1");
  const Fault fault = faults::at("CreateDXGIFactory1");
  // A failed call may leave garbage behind; the run must not release it.
  *factory = state().factoryDelivered ? &factoryToken : nullptr;
  if (state().factoryResult < 0 && state().factoryDelivered) *factory = &moduleToken;
  if (fault == Fault::nullOut) *factory = nullptr;
  const HResult result = fault == Fault::errorCode ? static_cast<HResult>(0x887A0004u)
                                                   : state().factoryResult;
  if (result >= 0 && *factory != nullptr) state().acquired.push_back("factory");
  return result;
}

HResult enumAdapterByLuid(void* factory, std::uint32_t lowPart, std::int32_t highPart,
                          void** adapter) {
  event(factory == &factoryToken ? "EnumAdapterByLuid" : "EnumAdapterByLuid on a stranger");
  state().lookedUpLow = lowPart;
  state().lookedUpHigh = highPart;
  *adapter = state().adapterDelivered && state().lookupResult >= 0 ? &adapterToken : nullptr;
  const Fault fault = faults::at("EnumAdapterByLuid");
  if (fault == Fault::nullOut) *adapter = nullptr;
  if (fault == Fault::errorCode) {
    *adapter = nullptr;
    return static_cast<HResult>(0x887A0002u);
  }
  if (state().lookupResult >= 0 && *adapter != nullptr) state().acquired.push_back("adapter");
  return state().lookupResult;
}

void* loadModule(const wchar_t* fileName) {
  if (std::wcscmp(fileName, L"OpenCL.dll") != 0) {
    event("LoadLibraryExW of an unexpected name");
    return nullptr;
  }
  event("LoadLibraryExW OpenCL.dll");
  if (faults::at("LoadLibraryExW OpenCL.dll") == Fault::nullOut || !state().openClPresent) {
    return nullptr;
  }
  state().acquired.push_back("OpenCL.dll");
  return &moduleToken;
}

ProcAddress moduleSymbol(void* module, const char* name) {
  if (module != &moduleToken) {
    event("GetProcAddress on a stranger");
    return nullptr;
  }
  state().events.push_back(std::string("GetProcAddress ") + name);
  if (faults::at(std::string("GetProcAddress ") + name) == Fault::nullOut) return nullptr;
  return reinterpret_cast<ProcAddress>(fake_opencl::exportedFunction(name));
}

void unloadModule(void* module) {
  if (module == &moduleToken) {
    releaseEvent("FreeLibrary OpenCL.dll", "OpenCL.dll");
  } else {
    releaseEvent("FreeLibrary stranger", "unknown");
  }
}

}  // namespace

World& world() { return state(); }

void reset() {
  state() = World{};
  fake_opencl::reset();
  fake_process::reset();
}

BrindlePlatform platform() {
  return {{comInitialize, comUninitialize, comRelease},
          {createFactory, enumAdapterByLuid},
          {loadModule, moduleSymbol, unloadModule},
          fake_process::api()};
}

void* adapterObject() { return &adapterToken; }

}  // namespace fake_brindle
