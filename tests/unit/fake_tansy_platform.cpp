#include "fake_tansy_platform.h"

#include <algorithm>
#include <cstring>

#include "fake_process.h"
#include "fault_injection.h"

namespace fake_tansy {

namespace {

using faults::Fault;

constexpr HResult kFailed = static_cast<HResult>(0x80004005u);
constexpr HResult kNotFound = static_cast<HResult>(0x887A0002u);  // DXGI_ERROR_NOT_FOUND

World& state() {
  static World instance;
  return instance;
}

// Every object handed out is a slot of this list: its name, and the adapter it stands for.
struct Handle {
  std::string name;
  std::size_t adapter;
};
std::vector<Handle> handles;

bool held(const std::string& name) {
  const auto& released = state().released;
  return std::find(released.begin(), released.end(), name) == released.end();
}

void* handOut(const std::string& kind, std::size_t adapter = 0) {
  if (kind == "adapter" &&
      std::any_of(state().acquired.begin(), state().acquired.end(), [](const std::string& name) {
        return name.rfind("device", 0) == 0 && held(name);
      })) {
    ++state().adaptersWithDevicesHeld;
  }
  handles.push_back({kind + "#" + std::to_string(handles.size() + 1), adapter});
  state().acquired.push_back(handles.back().name);
  return reinterpret_cast<void*>(handles.size());
}

Handle& handleOf(void* object) { return handles.at(reinterpret_cast<std::size_t>(object) - 1); }
bool isDxcore(void* object) { return handleOf(object).name.rfind("dxcore", 0) == 0; }
Adapter& adapterOf(void* object) { return state().adapters.at(handleOf(object).adapter); }
DxcoreAdapter& dxcoreOf(void* object) { return state().dxcoreAdapters.at(handleOf(object).adapter); }

// A call that hands out an object: the armed fault, else the world's result.
HResult hand(const char* call, HResult result, const std::string& kind, std::size_t index,
             void** out) {
  *out = nullptr;
  const Fault fault = faults::at(call);
  if (fault == Fault::errorCode) return kFailed;
  if (result < 0) return result;
  if (fault != Fault::nullOut) *out = handOut(kind, index);
  return result;
}

HResult createFactory(void** factory) {
  return hand("CreateDXGIFactory1", state().factoryResult, "factory", 0, factory);
}

HResult enumAdapters1(void*, std::uint32_t ordinal, void** adapter) {
  *adapter = nullptr;
  if (ordinal >= state().adapters.size()) return kNotFound;
  return hand("EnumAdapters1", 0, "adapter", ordinal, adapter);
}

HResult getDesc1(void* adapter, AdapterIdentity* identity) {
  const Adapter& a = adapterOf(adapter);
  *identity = {a.luidLowPart, a.luidHighPart, a.flags};
  return faults::at("GetDesc1") == Fault::errorCode ? kFailed : 0;
}

bool loadD3d11() { return state().d3d11; }
bool loadD3d12() { return state().d3d12; }

HResult createD3d11Device(void* adapter, const std::uint32_t* levels, std::uint32_t count,
                          void** device, std::uint32_t* level) {
  *level = 0;
  state().calls.push_back("D3D11CreateDevice from " + std::to_string(levels[0]));
  if (std::any_of(levels, levels + count, [](std::uint32_t l) { return l > state().d3d11Knows; })) {
    *device = nullptr;
    return kInvalidArgument;
  }
  const Adapter& a = adapterOf(adapter);
  const HResult result = hand("D3D11CreateDevice", a.d3d11Result, "device11", 0, device);
  if (*device != nullptr) *level = a.d3d11Level;
  return result;
}

HResult createD3d12Device(void* adapter, std::uint32_t minimumLevel, void** device) {
  state().calls.push_back("D3D12CreateDevice at " + std::to_string(minimumLevel));
  if (isDxcore(adapter)) {
    const DxcoreAdapter& a = dxcoreOf(adapter);
    const HResult result = minimumLevel == kLevel1_0Core ? a.coreResult : a.genericResult;
    return hand("D3D12CreateDevice", result, "computeDevice", handleOf(adapter).adapter, device);
  }
  return hand("D3D12CreateDevice", adapterOf(adapter).d3d12Result, "device12",
              handleOf(adapter).adapter, device);
}

// A device's feature query: the armed fault, else the answer.
template <typename Answer>
HResult query(const char* call, Answer answer) {
  if (faults::at(call) == Fault::errorCode) return kFailed;
  return answer();
}

HResult featureLevels(void* device, const std::uint32_t* levels, std::uint32_t count,
                      std::uint32_t* highest) {
  return query("CheckFeatureSupport FEATURE_LEVELS", [&]() -> HResult {
    if (std::any_of(levels, levels + count, [](std::uint32_t l) { return l > state().d3d12Knows; })) {
      return kInvalidArgument;
    }
    *highest = std::min(adapterOf(device).d3d12Level, *std::max_element(levels, levels + count));
    return 0;
  });
}

HResult shaderModel(void* device, std::uint32_t requested, std::uint32_t* highest) {
  state().calls.push_back("shader model " + std::to_string(requested));
  return query("CheckFeatureSupport SHADER_MODEL", [&]() -> HResult {
    if (requested > state().shaderModelKnown) return kInvalidArgument;
    *highest = std::min(adapterOf(device).shaderModel, requested);
    return 0;
  });
}

HResult resourceBindingTier(void* device, std::uint32_t* tier) {
  return query("CheckFeatureSupport OPTIONS", [&] {
    *tier = adapterOf(device).bindingTier;
    return 0;
  });
}

HResult architecture(const char* call, bool available, void* device, bool* uma, bool* coherent) {
  return query(call, [&] {
    if (!available) return kInvalidArgument;
    *uma = adapterOf(device).uma;
    *coherent = adapterOf(device).cacheCoherentUma;
    return 0;
  });
}

HResult architecture1(void* device, bool* uma, bool* coherent) {
  return architecture("CheckFeatureSupport ARCHITECTURE1", adapterOf(device).architecture1, device,
                      uma, coherent);
}

HResult architecture0(void* device, bool* uma, bool* coherent) {
  return architecture("CheckFeatureSupport ARCHITECTURE", true, device, uma, coherent);
}

HResult native16BitShaderOps(void* device, bool* supported) {
  return query("CheckFeatureSupport OPTIONS4", [&] {
    *supported = adapterOf(device).native16BitShaderOps;
    return 0;
  });
}

HResult waveOps(void* device, bool* supported) {
  return query("CheckFeatureSupport OPTIONS1", [&] {
    *supported = adapterOf(device).waveOps;
    return 0;
  });
}

unsigned attributeOf(const Guid& guid) {
  const std::pair<const Guid*, Attribute> known[] = {
      {&kAttributeD3d12Graphics, graphics}, {&kAttributeD3d12CoreCompute, coreCompute},
      {&kAttributeD3d12GenericMl, genericMl}, {&kHardwareTypeNpu, npu},
      {&kHardwareTypeComputeAccelerator, computeAccelerator},
      {&kHardwareTypeMediaAccelerator, mediaAccelerator}, {&kHardwareTypeGpu, gpu}};
  for (const auto& entry : known) {
    if (std::memcmp(entry.first, &guid, sizeof guid) == 0) return entry.second;
  }
  return 0;
}

bool loadDxcore() { return state().dxcore; }

HResult createDxcoreFactory(void** factory) {
  return hand("DXCoreCreateAdapterFactory", state().dxcoreFactoryFails ? kFailed : 0, "dxcoreFactory", 0,
              factory);
}

HResult createAdapterList(void*, const Guid& attribute, void** list) {
  const unsigned which = attributeOf(attribute);
  const HResult result = (state().refusedLists & which) != 0 ? kInvalidArgument : 0;
  return hand("CreateAdapterList", result, "dxcoreList", which, list);
}

std::vector<std::size_t> listed(void* list) {
  std::vector<std::size_t> members;
  for (std::size_t i = 0; i < state().dxcoreAdapters.size(); ++i) {
    if ((state().dxcoreAdapters[i].attributes & handleOf(list).adapter) != 0) members.push_back(i);
  }
  return members;
}

std::uint32_t adapterCount(void* list) {
  if (faults::at("GetAdapterCount") == Fault::zeroCount) return 0;
  return static_cast<std::uint32_t>(listed(list).size());
}

HResult adapterAt(void* list, std::uint32_t index, void** adapter) {
  return hand("GetAdapter", 0, "dxcoreAdapter", listed(list).at(index), adapter);
}

bool isAttributeSupported(void* adapter, const Guid& attribute) {
  return (dxcoreOf(adapter).attributes & attributeOf(attribute)) != 0;
}

bool isPropertySupported(void* adapter, DxcoreProperty property) {
  const DxcoreAdapter& a = dxcoreOf(adapter);
  switch (property) {
    case DxcoreProperty::instanceLuid: return a.hasLuid;
    case DxcoreProperty::driverVersion: return a.hasVersion;
    case DxcoreProperty::driverDescription: return a.hasName;
    case DxcoreProperty::hardwareId: return a.hasHardwareId;
    case DxcoreProperty::dedicatedAdapterMemory: return a.hasMemory;
    case DxcoreProperty::isHardware: return a.hasIsHardware;
  }
  return false;
}

HResult propertySize(void* adapter, DxcoreProperty, std::size_t* size) {
  *size = dxcoreOf(adapter).name.size();
  return faults::at("GetPropertySize") == Fault::errorCode ? kFailed : 0;
}

HResult getProperty(void* adapter, DxcoreProperty property, std::size_t size, void* buffer) {
  if (faults::at("GetProperty") == Fault::errorCode) return kFailed;
  const DxcoreAdapter& a = dxcoreOf(adapter);
  const std::uint32_t luid[2] = {a.luidLowPart, static_cast<std::uint32_t>(a.luidHighPart)};
  const std::uint32_t hardwareId[4] = {a.vendorId, a.deviceId, 0, 0};
  const bool hardware = a.hardware;
  using Bytes = std::pair<const void*, std::size_t>;
  const Bytes value = property == DxcoreProperty::instanceLuid        ? Bytes(luid, sizeof luid)
                      : property == DxcoreProperty::driverVersion     ? Bytes(&a.version, 8)
                      : property == DxcoreProperty::driverDescription ? Bytes(a.name.data(), a.name.size())
                      : property == DxcoreProperty::hardwareId ? Bytes(hardwareId, sizeof hardwareId)
                      : property == DxcoreProperty::isHardware ? Bytes(&hardware, 1)
                                                               : Bytes(&a.memory, 8);
  if (size < value.second) return kInvalidArgument;
  std::memcpy(buffer, value.first, value.second);
  return 0;
}

void release(void* object) { state().released.push_back(handleOf(object).name); }

}  // namespace

World& world() { return state(); }

void reset() {
  state() = World{};
  handles.clear();
  fake_process::reset();
}

TansyPlatform platform() {
  return {
      {createFactory, enumAdapters1, getDesc1},
      {loadD3d11, createD3d11Device},
      {loadD3d12, createD3d12Device, featureLevels, shaderModel, resourceBindingTier,
       architecture1, architecture0, native16BitShaderOps, waveOps},
      {loadDxcore, createDxcoreFactory, createAdapterList, adapterCount, adapterAt, isAttributeSupported,
       isPropertySupported, propertySize, getProperty},
      release,
      fake_process::api(),
  };
}

}  // namespace fake_tansy
