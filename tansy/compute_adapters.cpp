#include "compute_adapters.h"

#include <algorithm>
#include <cstring>

#include "checked_alloc.h"
#include "direct3d_devices.h"
#include "output_guard.h"
#include "utf8_text.h"

namespace {

// The lists that hold compute-only adapters; a Windows that predates an attribute refuses its
// list, which is passed over.
constexpr const Guid* kListAttributes[] = {&kAttributeD3d12CoreCompute, &kAttributeD3d12GenericMl,
                                           &kHardwareTypeNpu};

struct HardwareTypeAttribute {
  const Guid* attribute;
  HardwareType type;
};
constexpr HardwareTypeAttribute kHardwareTypes[] = {
    {&kHardwareTypeNpu, HardwareType::npu},
    {&kHardwareTypeComputeAccelerator, HardwareType::computeAccelerator},
    {&kHardwareTypeMediaAccelerator, HardwareType::mediaAccelerator},
    {&kHardwareTypeGpu, HardwareType::gpu},
};

// No driver description comes near this; a larger size is a platform's mistake.
constexpr std::size_t kMaxDescriptionBytes = 64 * 1024;

// A property of a fixed size, when the adapter supports it and hands it over.
template <typename Value>
std::optional<Value> property(const DxcoreApi& dxcore, void* adapter, DxcoreProperty which) {
  if (!dxcore.isPropertySupported(adapter, which)) return std::nullopt;
  Value value{};
  if (hresultFailed(dxcore.getProperty(adapter, which, sizeof value, &value))) return std::nullopt;
  return value;
}

struct Luid {
  std::uint32_t lowPart;
  std::int32_t highPart;
};
static_assert(sizeof(Luid) == 8, "DXCore's InstanceLuid is a LUID");

// The layout of DXCoreHardwareID.
struct HardwareId {
  std::uint32_t vendorId;
  std::uint32_t deviceId;
  std::uint32_t subsystemId;
  std::uint32_t revision;
};

// The driver's description up to its first NUL, as UTF-8; empty when it cannot be read.
std::string description(const DxcoreApi& dxcore, void* adapter) {
  if (!dxcore.isPropertySupported(adapter, DxcoreProperty::driverDescription)) return {};
  std::size_t size = 0;
  if (hresultFailed(dxcore.propertySize(adapter, DxcoreProperty::driverDescription, &size)) ||
      size == 0 || size > kMaxDescriptionBytes) {
    return {};
  }
  std::string text;
  if (!tryAssign(text, size, '\0')) return {};
  if (hresultFailed(dxcore.getProperty(adapter, DxcoreProperty::driverDescription, size, &text[0]))) {
    return {};
  }
  text.resize(std::strlen(text.c_str()));  // the buffer is NUL-terminated by the string itself
  return wellFormedUtf8(text);
}

HardwareType hardwareType(const DxcoreApi& dxcore, void* adapter) {
  for (const HardwareTypeAttribute& candidate : kHardwareTypes) {
    if (dxcore.isAttributeSupported(adapter, *candidate.attribute)) return candidate.type;
  }
  return HardwareType::unknown;
}

ComputeAdapter describe(const TansyPlatform& platform, void* adapter, const Luid& luid,
                        bool withD3d12) {
  const DxcoreApi& dxcore = platform.dxcore;
  ComputeAdapter compute;
  compute.luidLowPart = luid.lowPart;
  compute.luidHighPart = luid.highPart;
  compute.name = description(dxcore, adapter);
  if (const auto id = property<HardwareId>(dxcore, adapter, DxcoreProperty::hardwareId)) {
    compute.vendorId = id->vendorId;
    compute.deviceId = id->deviceId;
  }
  if (const auto hardware = property<unsigned char>(dxcore, adapter, DxcoreProperty::isHardware)) {
    compute.hardware = *hardware != 0;
  }
  compute.hardwareType = hardwareType(dxcore, adapter);
  compute.coreCompute = dxcore.isAttributeSupported(adapter, kAttributeD3d12CoreCompute);
  compute.genericMl = dxcore.isAttributeSupported(adapter, kAttributeD3d12GenericMl);
  compute.dedicatedAdapterMemory =
      property<std::uint64_t>(dxcore, adapter, DxcoreProperty::dedicatedAdapterMemory);
  compute.driverVersion = property<std::uint64_t>(dxcore, adapter, DxcoreProperty::driverVersion);
  if (withD3d12) {
    compute.d3d12 = examineComputeDevice(platform, adapter);
    enterPlatformPart(kPartDxcore);
  }
  return compute;
}

bool seen(const std::vector<ComputeAdapter>& found, const Luid& luid) {
  return std::any_of(found.begin(), found.end(), [&](const ComputeAdapter& adapter) {
    return adapter.luidLowPart == luid.lowPart && adapter.luidHighPart == luid.highPart;
  });
}

void addFromList(const TansyPlatform& platform, void* list, bool withD3d12,
                 const LuidFilter& filter, std::vector<ComputeAdapter>& found) {
  const DxcoreApi& dxcore = platform.dxcore;
  const std::uint32_t count = std::min(dxcore.adapterCount(list), kWalkLimit);
  for (std::uint32_t index = 0; index < count; ++index) {
    void* adapter = nullptr;
    if (hresultFailed(dxcore.adapterAt(list, index, &adapter)) || adapter == nullptr) continue;
    // Without its LUID an adapter has no identity to report or to find again.
    const auto luid = property<Luid>(dxcore, adapter, DxcoreProperty::instanceLuid);
    if (luid && filter.admits(luid->lowPart, luid->highPart) && !seen(found, *luid) &&
        !dxcore.isAttributeSupported(adapter, kAttributeD3d12Graphics)) {
      found.push_back(describe(platform, adapter, *luid, withD3d12));
    }
    platform.release(adapter);
  }
}

}  // namespace

std::vector<ComputeAdapter> listComputeAdapters(const TansyPlatform& platform, void* factory,
                                                bool withD3d12, const LuidFilter& filter) {
  enterPlatformPart(kPartDxcore);
  std::vector<ComputeAdapter> found;
  for (const Guid* attribute : kListAttributes) {
    void* list = nullptr;
    if (hresultFailed(platform.dxcore.createAdapterList(factory, *attribute, &list)) ||
        list == nullptr) {
      continue;
    }
    addFromList(platform, list, withD3d12, filter, found);
    platform.release(list);
  }
  return found;
}
