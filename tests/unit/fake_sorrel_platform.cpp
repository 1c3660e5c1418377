#include "fake_sorrel_platform.h"

#include <algorithm>
#include <cstring>

#include "fake_process.h"
#include "fault_injection.h"

namespace fake_sorrel {

namespace {

using faults::Fault;

constexpr HResult kFailed = static_cast<HResult>(0x80004005u);
constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
constexpr PdhStatus kNoObject = 0xC0000BB8u;  // PDH_CSTATUS_NO_OBJECT

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

void* handOut(const std::string& kind, std::size_t adapter = 0) {
  handles.push_back({kind + "#" + std::to_string(handles.size() + 1), adapter});
  state().acquired.push_back(handles.back().name);
  return reinterpret_cast<void*>(handles.size());
}

Handle& handleOf(void* object) { return handles.at(reinterpret_cast<std::size_t>(object) - 1); }

HResult createFactory(void** factory) {
  *factory = nullptr;
  const Fault fault = faults::at("CreateDXGIFactory1");
  if (fault == Fault::errorCode) return static_cast<HResult>(0x887A0004u);
  if (state().factoryResult < 0) return state().factoryResult;
  if (fault != Fault::nullOut) *factory = handOut("factory");
  return 0;
}

HResult queryFactory6(void*, void** factory6) {
  *factory6 = nullptr;
  const Fault fault = faults::at("QueryInterface IDXGIFactory6");
  if (!state().factory6 || fault == Fault::errorCode) return kNoInterface;
  if (fault != Fault::nullOut) *factory6 = handOut("factory6");
  return 0;
}

HResult enumAdapters1(void*, std::uint32_t ordinal, void** adapter) {
  *adapter = nullptr;
  if (ordinal >= state().adapters.size() || ordinal > 1000) return kDxgiErrorNotFound;
  const Fault fault = faults::at("EnumAdapters1");
  if (ordinal == state().enumFailsAt || fault == Fault::errorCode) return kFailed;
  if (fault != Fault::nullOut) *adapter = handOut("adapter", ordinal);
  return 0;
}

HResult getDesc1(void* adapter, AdapterDescription* out) {
  const Adapter& a = state().adapters.at(handleOf(adapter).adapter);
  *out = {a.dedicatedSystemMemory, a.sharedSystemMemory, a.luidLowPart, a.luidHighPart, a.flags};
  return faults::at("GetDesc1") == Fault::errorCode ? kFailed : a.descResult;
}

HResult enumOutputs(void* adapter, std::uint32_t index, void** output) {
  *output = nullptr;
  if (index >= state().adapters.at(handleOf(adapter).adapter).outputs || index > 1000) {
    return kDxgiErrorNotFound;
  }
  const Fault fault = faults::at("EnumOutputs");
  if (fault == Fault::errorCode) return kFailed;
  if (fault != Fault::nullOut) *output = handOut("output");
  return 0;
}

HResult queryAdapter3(void* adapter, void** adapter3) {
  *adapter3 = nullptr;
  const std::size_t index = handleOf(adapter).adapter;
  const Fault fault = faults::at("QueryInterface IDXGIAdapter3");
  if (!state().adapters.at(index).adapter3 || fault == Fault::errorCode) return kNoInterface;
  if (fault != Fault::nullOut) *adapter3 = handOut("adapter3", index);
  return 0;
}

HResult queryBudget(void* adapter3, SegmentGroup group, std::uint64_t* budget) {
  const Adapter& a = state().adapters.at(handleOf(adapter3).adapter);
  *budget = group == SegmentGroup::local ? a.localBudget : a.nonLocalBudget;
  if (faults::at("QueryVideoMemoryInfo") == Fault::errorCode) return kFailed;
  return group == SegmentGroup::local ? 0 : a.nonLocalResult;
}

HResult checkDriverVersion(void* adapter, std::uint64_t* version) {
  const Adapter& a = state().adapters.at(handleOf(adapter).adapter);
  *version = a.version;
  return faults::at("CheckInterfaceSupport") == Fault::errorCode ? kFailed : a.versionResult;
}

HResult enumByPreference(void*, std::uint32_t index, GpuPreference preference, void** adapter) {
  *adapter = nullptr;
  const auto& order = preference == GpuPreference::highPerformance ? state().highPerformance
                                                                   : state().minimumPower;
  if (index >= order.size()) return kDxgiErrorNotFound;
  const Fault fault = faults::at("EnumAdapterByGpuPreference");
  if (index == state().preferenceFailsAt || fault == Fault::errorCode) return kFailed;
  if (fault != Fault::nullOut) *adapter = handOut("adapter", order[index]);
  return 0;
}

void release(void* object) { state().released.push_back(handleOf(object).name); }

void* openDisplayDevices() {
  const Fault fault = faults::at("SetupDiGetClassDevsW");
  if (!state().devicesOpen || fault == Fault::errorCode || fault == Fault::nullOut) return nullptr;
  return handOut("devices");
}

bool deviceAt(void*, std::uint32_t index) {
  if (faults::at("SetupDiEnumDeviceInfo") == Fault::errorCode) return false;
  return index < state().devices.size();
}

bool readProperty(void*, std::uint32_t index, DeviceProperty property, std::uint32_t* type,
                  unsigned char* buffer, std::uint32_t size, std::uint32_t* required) {
  const Device& d = state().devices.at(index);
  const Guid otherBus = {0x1, 0x2, 0x3, {}};
  const void* value = &d.luid;
  bool has = d.hasLuid;
  *type = d.luidType;
  *required = 8;
  if (property == DeviceProperty::busType) {
    value = d.onPci ? &kBusTypePci : &otherBus;
    has = true;
    *type = kPropertyTypeGuid;
    *required = sizeof(Guid);
  } else if (property != DeviceProperty::gpuLuid) {
    const bool bus = property == DeviceProperty::busNumber;
    value = bus ? &d.bus : &d.address;
    has = bus ? d.hasBus : d.hasAddress;
    *type = kPropertyTypeUint32;
    *required = 4;
  }
  if (faults::at("SetupDiGetDevicePropertyW") == Fault::errorCode || !has || size < *required) {
    return false;
  }
  std::memcpy(buffer, value, *required);
  return true;
}

void closeDevices(void* devices) { release(devices); }

PdhStatus openQuery(void** query) {
  *query = nullptr;
  if (faults::at("PdhOpenQueryW") == Fault::errorCode) return kNoObject;
  *query = handOut("query");
  return kPdhSuccess;
}

int dedicatedCounter;
int sharedCounter;

PdhStatus addEnglishCounter(void*, const char16_t* path, void** counter) {
  *counter = nullptr;
  const std::u16string name(path);
  const bool dedicated = name == u"\\GPU Adapter Memory(*)\\Dedicated Usage";
  if (!dedicated && name != u"\\GPU Adapter Memory(*)\\Shared Usage") return kNoObject;
  const Fault fault = faults::at("PdhAddEnglishCounterW");
  if (!state().counters || fault == Fault::errorCode) return kNoObject;
  if (fault != Fault::nullOut) *counter = dedicated ? &dedicatedCounter : &sharedCounter;
  return kPdhSuccess;
}

PdhStatus collect(void*) {
  return faults::at("PdhCollectQueryData") == Fault::errorCode ? kNoObject : kPdhSuccess;
}

const char16_t kStrayName[] = u"luid_0x00000000_0x00000010_phys_9";

// As PDH lays them out: the items, then their names.
PdhStatus formattedArray(void* counter, std::uint32_t* bufferSize, std::uint32_t* itemCount,
                         CounterItem* items) {
  const auto& counters = counter == &dedicatedCounter ? state().dedicatedUsage
                                                      : state().sharedUsage;
  std::size_t needed = counters.size() * sizeof(CounterItem);
  for (const Counter& c : counters) needed += (c.name.size() + 1) * sizeof(char16_t);
  const Fault fault = faults::at(items == nullptr ? "PdhGetFormattedCounterArrayW size"
                                                  : "PdhGetFormattedCounterArrayW data");
  const bool dedicated = counter == &dedicatedCounter;
  if (fault == Fault::errorCode || (items != nullptr && !dedicated && state().sharedUnreadable)) {
    return kNoObject;
  }
  if (items != nullptr && state().instancesCome) {
    state().instancesCome = false;
    state().instanceCame = true;  // from now on it needs room for one more (left empty here)
  }
  if (state().instanceCame) needed += sizeof(CounterItem);
  if (items == nullptr) {
    *bufferSize = static_cast<std::uint32_t>(needed);
    return kPdhMoreData;
  }
  if (*bufferSize < needed) return kPdhMoreData;  // the size it says then is not to be relied on
  auto* names = reinterpret_cast<char16_t*>(items + counters.size());
  for (std::size_t i = 0; i < counters.size(); ++i) {
    const Counter& c = counters[i];
    std::copy(c.name.begin(), c.name.end(), names);
    names[c.name.size()] = u'\0';
    items[i] = {c.nameOutsideBuffer ? kStrayName : names, c.status, c.value};
    names += c.name.size() + 1;
  }
  *itemCount = static_cast<std::uint32_t>(counters.size()) + (state().overstatedItemCount ? 1000 : 0);
  if (fault == Fault::zeroCount) *itemCount = 0;
  return kPdhSuccess;
}

void closeQuery(void* query) { release(query); }

}  // namespace

World& world() { return state(); }

void reset() {
  state() = World{};
  handles.clear();
  fake_process::reset();
}

SorrelPlatform platform() {
  return {{createFactory, queryFactory6, enumAdapters1, getDesc1, enumOutputs, queryAdapter3,
           queryBudget, checkDriverVersion, enumByPreference, release},
          {openDisplayDevices, deviceAt, readProperty, closeDevices},
          {openQuery, addEnglishCounter, collect, formattedArray, closeQuery},
          fake_process::api()};
}

}  // namespace fake_sorrel
