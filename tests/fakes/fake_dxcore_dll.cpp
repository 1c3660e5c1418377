// A test-only dxcore.dll. It knows one adapter, the one whose LUID FAKE_DXCORE_LUID
// ("low:high") names, and answers the integrated-GPU query for it as FAKE_DXCORE_ANSWER
// says: "yes", "no", or "undecided" (the property is not supported). FAKE_DXCORE_ANSWER
// "no_factory" makes the factory creation fail. Each call is appended to the file that
// FAKE_DXCORE_LOG names, so that a test sees what fennel asked. FAKE_DXCORE_CHATTER
// ("printf", "writefile") makes it write to standard output when loaded, in calls and when
// unloaded; FAKE_DXCORE_CRASH ("load", "call" for GetAdapterByLuid, "query" for
// IsPropertySupported, "release" for the factory's last Release, which fennel makes after its
// document, "unload", "end" for the detach at the process's end, each with an optional
// ":<how>", as in misbehaviour.h) makes it crash, abort or end the process then;
// FAKE_DXCORE_FOREIGN ("pass", "exit", "ignore"; "call:<how>" in GetAdapterByLuid) makes it
// install crash handlers of its own when loaded or in that call.
//
// COM objects need C++ classes implementing the DXCore interfaces; this is test code only.

#include <windows.h>
#include <initguid.h>
#include <directx/dxcore.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "misbehaviour.h"

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void log(const std::string& line) {
  const std::string path = environment("FAKE_DXCORE_LOG");
  if (path.empty()) return;
  if (FILE* f = std::fopen(path.c_str(), "ab")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

bool knownLuid(const LUID& luid) {
  unsigned long low = 0;
  long high = 0;
  if (std::sscanf(environment("FAKE_DXCORE_LUID").c_str(), "%lu:%ld", &low, &high) != 2) {
    return false;
  }
  return luid.LowPart == low && luid.HighPart == high;
}

template <typename Interface>
struct RefCounted : Interface {
  ULONG references = 1;
  const char* kind;
  const IID& iid;
  RefCounted(const char* name, const IID& interfaceId) : kind(name), iid(interfaceId) {}
  virtual ~RefCounted() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == __uuidof(IUnknown) || riid == iid) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references;
    if (left == 0) {
      if (iid == IID_IDXCoreAdapterFactory) misbehaveAt("FAKE_DXCORE_CRASH", "release");
      log(std::string("release ") + kind);
      delete this;
    }
    return left;
  }
};

struct FakeAdapter : RefCounted<IDXCoreAdapter> {
  FakeAdapter() : RefCounted("adapter", IID_IDXCoreAdapter) {}
  bool STDMETHODCALLTYPE IsValid() override { return true; }
  bool STDMETHODCALLTYPE IsAttributeSupported(REFGUID) override { return false; }
  bool STDMETHODCALLTYPE IsPropertySupported(DXCoreAdapterProperty property) override {
    log("IsPropertySupported " + std::to_string(static_cast<unsigned>(property)));
    misbehaveAt("FAKE_DXCORE_CRASH", "query");
    return property == DXCoreAdapterProperty::IsIntegrated &&
           environment("FAKE_DXCORE_ANSWER") != "undecided";
  }
  HRESULT STDMETHODCALLTYPE GetProperty(DXCoreAdapterProperty property, size_t size,
                                        void* data) override {
    log("GetProperty " + std::to_string(static_cast<unsigned>(property)) + " " +
        std::to_string(size));
    if (property != DXCoreAdapterProperty::IsIntegrated || size < 1) return E_INVALIDARG;
    *static_cast<unsigned char*>(data) = environment("FAKE_DXCORE_ANSWER") == "yes" ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertySize(DXCoreAdapterProperty, size_t* size) override {
    *size = 1;
    return S_OK;
  }
  bool STDMETHODCALLTYPE IsQueryStateSupported(DXCoreAdapterState) override { return false; }
  HRESULT STDMETHODCALLTYPE QueryState(DXCoreAdapterState, size_t, const void*, size_t,
                                       void*) override {
    return E_NOTIMPL;
  }
  bool STDMETHODCALLTYPE IsSetStateSupported(DXCoreAdapterState) override { return false; }
  HRESULT STDMETHODCALLTYPE SetState(DXCoreAdapterState, size_t, const void*, size_t,
                                     const void*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetFactory(REFIID, void** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
};

struct FakeFactory : RefCounted<IDXCoreAdapterFactory> {
  FakeFactory() : RefCounted("factory", IID_IDXCoreAdapterFactory) {}
  HRESULT STDMETHODCALLTYPE CreateAdapterList(uint32_t, const GUID*, REFIID, void** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetAdapterByLuid(const LUID& luid, REFIID riid, void** out) override {
    log("GetAdapterByLuid " + std::to_string(luid.LowPart) + ":" + std::to_string(luid.HighPart));
    chatter("FAKE_DXCORE_CHATTER", "in GetAdapterByLuid");
    misbehaveAt("FAKE_DXCORE_CRASH", "call");
    installForeignHandlers("FAKE_DXCORE_FOREIGN", "call");
    *out = nullptr;
    if (riid != IID_IDXCoreAdapter || !knownLuid(luid)) return E_INVALIDARG;
    *out = static_cast<IDXCoreAdapter*>(new FakeAdapter());
    return S_OK;
  }
  bool STDMETHODCALLTYPE IsNotificationTypeSupported(DXCoreNotificationType) override {
    return false;
  }
  HRESULT STDMETHODCALLTYPE RegisterEventNotification(IUnknown*, DXCoreNotificationType,
                                                      PFN_DXCORE_NOTIFICATION_CALLBACK, void*,
                                                      uint32_t*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterEventNotification(uint32_t) override { return E_NOTIMPL; }
};

}  // namespace

extern "C" HRESULT WINAPI DXCoreCreateAdapterFactory(REFIID riid, void** out) {
  log("DXCoreCreateAdapterFactory");
  *out = nullptr;
  if (environment("FAKE_DXCORE_ANSWER") == "no_factory") return E_FAIL;
  if (riid != IID_IDXCoreAdapterFactory) return E_NOINTERFACE;
  *out = static_cast<IDXCoreAdapterFactory*>(new FakeFactory());
  return S_OK;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  const MisbehaviourVariables variables{"FAKE_DXCORE_CHATTER", "FAKE_DXCORE_CRASH",
                                        "FAKE_DXCORE_FOREIGN"};
  if (reason == DLL_PROCESS_ATTACH) misbehaveOnAttach(variables, instance);
  if (reason == DLL_PROCESS_DETACH) {
    log("unload");
    misbehaveOnDetach(variables, reserved);
  }
  return TRUE;
}
