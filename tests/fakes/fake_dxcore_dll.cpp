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
// FAKE_DXCORE_ADAPTERS "compute" makes CreateAdapterList answer, by attribute, with a graphics
// adapter (which tansy leaves out), a compute accelerator with D3D12_GENERIC_ML only and an NPU
// with an empty name that two lists hold; "compute-before-npu" answers as a DXCore that knows
// no hardware type: it refuses a list by one and confirms none.
//
// COM objects need C++ classes implementing the DXCore interfaces; this is test code only.

#include <windows.h>
#include <initguid.h>
#include <directx/dxcore.h>

#include "dxcore_attributes.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// An adapter's state and factory, which no probe asks for.
struct AdapterWithoutState : RefCounted<IDXCoreAdapter> {
  AdapterWithoutState() : RefCounted("adapter", IID_IDXCoreAdapter) {}
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

struct FakeAdapter : AdapterWithoutState {
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
};

// An adapter of the lists that FAKE_DXCORE_ADAPTERS switches on.
struct Listed {
  LUID luid;
  const char* name;
  std::vector<const GUID*> attributes;  // a hardware type among them
  const DXCoreHardwareID* hardwareId;   // null: the property is not supported
  const uint64_t* driverVersion;        // null: the property is not supported
  uint64_t dedicatedMemory;
};

const DXCoreHardwareID kIntelGraphics = {0x8086, 0x46a6, 0, 0};
const DXCoreHardwareID kIntelNpu = {0x8086, 0x7d1d, 0, 4};
const uint64_t kGraphicsDriver = 0x001f00000065149dull;  // 31.0.101.5277
const uint64_t kNpuDriver = 0x0020000000640c20ull;       // 32.0.100.3104

const Listed kGraphics = {{0x7001, 0}, "Fake Integrated Graphics",
                          {&DXCORE_ADAPTER_ATTRIBUTE_D3D12_GRAPHICS,
                           &DXCORE_ADAPTER_ATTRIBUTE_D3D12_CORE_COMPUTE,
                           &DXCORE_ADAPTER_ATTRIBUTE_D3D12_GENERIC_ML,
                           &DXCORE_HARDWARE_TYPE_ATTRIBUTE_GPU},
                          &kIntelGraphics, &kGraphicsDriver, 128ull << 20};
const Listed kAccelerator = {{0x7002, -1}, "Fake ML Accelerator \"X\"",
                             {&DXCORE_ADAPTER_ATTRIBUTE_D3D12_GENERIC_ML,
                              &DXCORE_HARDWARE_TYPE_ATTRIBUTE_COMPUTE_ACCELERATOR},
                             nullptr, nullptr, 8ull << 30};
const Listed kNpu = {{0x7003, 0}, "",
                     {&DXCORE_ADAPTER_ATTRIBUTE_D3D12_GENERIC_ML, &DXCORE_HARDWARE_TYPE_ATTRIBUTE_NPU},
                     &kIntelNpu, &kNpuDriver, 0};

bool knowsHardwareTypes() { return environment("FAKE_DXCORE_ADAPTERS") == "compute"; }

bool isHardwareType(const GUID& attribute) {
  for (const GUID* type : {&DXCORE_HARDWARE_TYPE_ATTRIBUTE_GPU, &DXCORE_HARDWARE_TYPE_ATTRIBUTE_NPU,
                           &DXCORE_HARDWARE_TYPE_ATTRIBUTE_COMPUTE_ACCELERATOR,
                           &DXCORE_HARDWARE_TYPE_ATTRIBUTE_MEDIA_ACCELERATOR}) {
    if (attribute == *type) return true;
  }
  return false;
}

bool has(const Listed& adapter, const GUID& attribute) {
  if (isHardwareType(attribute) && !knowsHardwareTypes()) return false;
  for (const GUID* own : adapter.attributes) {
    if (attribute == *own) return true;
  }
  return false;
}

struct ListedAdapter : AdapterWithoutState {
  const Listed& listed;
  explicit ListedAdapter(const Listed& entry) : listed(entry) {}
  bool STDMETHODCALLTYPE IsValid() override { return true; }
  bool STDMETHODCALLTYPE IsAttributeSupported(REFGUID attribute) override { return has(listed, attribute); }
  bool STDMETHODCALLTYPE IsPropertySupported(DXCoreAdapterProperty property) override {
    size_t size = 0;
    return GetPropertySize(property, &size) == S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertySize(DXCoreAdapterProperty property, size_t* size) override {
    switch (property) {
      case DXCoreAdapterProperty::InstanceLuid: *size = sizeof(LUID); break;
      case DXCoreAdapterProperty::DriverDescription: *size = std::strlen(listed.name) + 1; break;
      case DXCoreAdapterProperty::IsHardware: *size = sizeof(bool); break;
      case DXCoreAdapterProperty::DedicatedAdapterMemory: *size = sizeof(uint64_t); break;
      case DXCoreAdapterProperty::HardwareID:
        if (listed.hardwareId == nullptr) return DXGI_ERROR_UNSUPPORTED;
        *size = sizeof(DXCoreHardwareID);
        break;
      case DXCoreAdapterProperty::DriverVersion:
        if (listed.driverVersion == nullptr) return DXGI_ERROR_UNSUPPORTED;
        *size = sizeof(uint64_t);
        break;
      default: return DXGI_ERROR_UNSUPPORTED;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProperty(DXCoreAdapterProperty property, size_t size,
                                        void* data) override {
    size_t needed = 0;
    const HRESULT supported = GetPropertySize(property, &needed);
    if (supported != S_OK) return supported;
    if (data == nullptr || size < needed) return E_INVALIDARG;
    const bool hardware = true;
    const void* value = property == DXCoreAdapterProperty::InstanceLuid         ? static_cast<const void*>(&listed.luid)
                        : property == DXCoreAdapterProperty::DriverDescription  ? listed.name
                        : property == DXCoreAdapterProperty::IsHardware         ? &hardware
                        : property == DXCoreAdapterProperty::DedicatedAdapterMemory ? &listed.dedicatedMemory
                        : property == DXCoreAdapterProperty::HardwareID         ? static_cast<const void*>(listed.hardwareId)
                                                                                : listed.driverVersion;
    std::memcpy(data, value, needed);
    return S_OK;
  }
};

struct AdapterList : RefCounted<IDXCoreAdapterList> {
  std::vector<const Listed*> adapters;
  explicit AdapterList(std::vector<const Listed*> listed)
      : RefCounted("list", IID_IDXCoreAdapterList), adapters(std::move(listed)) {}
  HRESULT STDMETHODCALLTYPE GetAdapter(uint32_t index, REFIID riid, void** out) override {
    *out = nullptr;
    if (index >= adapters.size()) return E_INVALIDARG;
    if (riid != IID_IDXCoreAdapter) return E_NOINTERFACE;
    log("GetAdapter " + std::to_string(index));
    *out = static_cast<IDXCoreAdapter*>(new ListedAdapter(*adapters[index]));
    return S_OK;
  }
  uint32_t STDMETHODCALLTYPE GetAdapterCount() override { return static_cast<uint32_t>(adapters.size()); }
  bool STDMETHODCALLTYPE IsStale() override { return false; }
  HRESULT STDMETHODCALLTYPE GetFactory(REFIID, void** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Sort(uint32_t, const DXCoreAdapterPreference*) override { return E_NOTIMPL; }
  bool STDMETHODCALLTYPE IsAdapterPreferenceSupported(DXCoreAdapterPreference) override { return false; }
};

struct FakeFactory : RefCounted<IDXCoreAdapterFactory> {
  FakeFactory() : RefCounted("factory", IID_IDXCoreAdapterFactory) {}
  // Every adapter with all the attributes asked for, in a fixed order.
  HRESULT STDMETHODCALLTYPE CreateAdapterList(uint32_t count, const GUID* attributes, REFIID riid,
                                              void** out) override {
    *out = nullptr;
    if (environment("FAKE_DXCORE_ADAPTERS").rfind("compute", 0) != 0) return E_NOTIMPL;
    if (count == 0 || attributes == nullptr || riid != IID_IDXCoreAdapterList) return E_INVALIDARG;
    std::vector<const Listed*> found;
    for (uint32_t i = 0; i < count; ++i) {
      if (isHardwareType(attributes[i]) && !knowsHardwareTypes()) return E_INVALIDARG;
    }
    for (const Listed* adapter : {&kGraphics, &kAccelerator, &kNpu}) {
      bool all = true;
      for (uint32_t i = 0; i < count; ++i) all = all && has(*adapter, attributes[i]);
      if (all) found.push_back(adapter);
    }
    log("CreateAdapterList " + std::to_string(found.size()));
    *out = static_cast<IDXCoreAdapterList*>(new AdapterList(std::move(found)));
    return S_OK;
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
