#include "dxgi_adapters.h"

#include <new>
#include <optional>

namespace {

// The adapter a walk's call handed back; null when the call failed (DXGI_ERROR_NOT_FOUND past
// the last one, or anything else) or handed nothing back.
template <typename Call>
void* nextAdapter(Call call) {
  void* adapter = nullptr;
  const HResult found = call(&adapter);
  return hresultFailed(found) ? nullptr : adapter;
}

std::uint32_t countOutputs(const DxgiApi& dxgi, void* adapter) {
  std::uint32_t count = 0;
  for (; count < kWalkLimit; ++count) {
    void* output = nullptr;
    const HResult found = dxgi.enumOutputs(adapter, count, &output);
    if (hresultFailed(found) || output == nullptr) break;
    dxgi.release(output);
  }
  return count;
}

std::optional<std::uint64_t> budget(const DxgiApi& dxgi, void* adapter3, SegmentGroup group) {
  std::uint64_t value = 0;
  if (hresultFailed(dxgi.queryBudget(adapter3, group, &value))) return std::nullopt;
  return value;
}

void readBudgets(const DxgiApi& dxgi, void* adapter, AdapterState& state) {
  void* adapter3 = nullptr;
  if (hresultFailed(dxgi.queryAdapter3(adapter, &adapter3)) || adapter3 == nullptr) return;
  state.localBudget = budget(dxgi, adapter3, SegmentGroup::local);
  state.nonLocalBudget = budget(dxgi, adapter3, SegmentGroup::nonLocal);
  dxgi.release(adapter3);
}

AdapterState describe(const DxgiApi& dxgi, void* adapter, std::uint32_t ordinal,
                      const AdapterDescription& desc) {
  AdapterState state;
  state.luidLowPart = desc.luidLowPart;
  state.luidHighPart = desc.luidHighPart;
  state.dxgiOrdinal = ordinal;
  state.dedicatedSystemMemory = desc.dedicatedSystemMemory;
  state.sharedSystemMemory = desc.sharedSystemMemory;
  state.outputs = countOutputs(dxgi, adapter);
  readBudgets(dxgi, adapter, state);
  std::uint64_t version = 0;
  if (!hresultFailed(dxgi.checkDriverVersion(adapter, &version))) state.driverVersion = version;
  return state;
}

bool isListed(HResult described, const AdapterDescription& desc) {
  return !hresultFailed(described) && (desc.flags & kAdapterFlagSoftware) == 0;
}

// False when the list cannot grow: the enumeration ends there, as on any other failure.
bool append(std::vector<AdapterState>& adapters, const AdapterState& state) noexcept {
  try {
    adapters.push_back(state);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void rankBy(const DxgiApi& dxgi, void* factory6, GpuPreference preference,
            std::vector<AdapterState>& adapters) {
  const auto rankOf = [preference](AdapterState& a) -> std::optional<std::uint32_t>& {
    return preference == GpuPreference::highPerformance ? a.highPerformanceRank
                                                        : a.minimumPowerRank;
  };
  std::uint32_t next = 0;
  for (std::uint32_t index = 0; index < kWalkLimit && next < adapters.size(); ++index) {
    void* adapter = nextAdapter([&](void** out) {
      return dxgi.enumByPreference(factory6, index, preference, out);
    });
    if (adapter == nullptr) break;
    AdapterDescription desc{};
    const HResult described = dxgi.getDesc1(adapter, &desc);
    dxgi.release(adapter);
    if (!isListed(described, desc)) continue;
    // The first listed adapter with this LUID that has no place yet in this order.
    for (AdapterState& a : adapters) {
      if (a.hasLuid(desc.luidLowPart, desc.luidHighPart) && !rankOf(a)) {
        rankOf(a) = next++;
        break;
      }
    }
  }
}

}  // namespace

std::vector<AdapterState> listAdapters(const DxgiApi& dxgi, void* factory) {
  std::vector<AdapterState> adapters;
  for (std::uint32_t ordinal = 0; ordinal < kWalkLimit; ++ordinal) {
    void* adapter =
        nextAdapter([&](void** out) { return dxgi.enumAdapters1(factory, ordinal, out); });
    if (adapter == nullptr) break;
    AdapterDescription desc{};
    const HResult described = dxgi.getDesc1(adapter, &desc);
    bool listed = true;
    if (isListed(described, desc)) {
      listed = append(adapters, describe(dxgi, adapter, ordinal, desc));
    }
    dxgi.release(adapter);
    if (!listed) break;
  }
  return adapters;
}

void rankAdapters(const DxgiApi& dxgi, void* factory6, std::vector<AdapterState>& adapters) {
  if (factory6 == nullptr) return;
  rankBy(dxgi, factory6, GpuPreference::highPerformance, adapters);
  rankBy(dxgi, factory6, GpuPreference::minimumPower, adapters);
}
