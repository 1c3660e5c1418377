#include "pci_locations.h"

#include <cstring>
#include <optional>

namespace {

template <typename Value>
std::optional<Value> readValue(const DeviceApi& api, void* devices, std::uint32_t index,
                               DeviceProperty property, std::uint32_t expectedType) {
  unsigned char buffer[sizeof(Value)] = {};
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  if (!api.readProperty(devices, index, property, &type, buffer, sizeof buffer, &required) ||
      type != expectedType || required != sizeof buffer) {
    return std::nullopt;
  }
  Value value;
  std::memcpy(&value, buffer, sizeof value);
  return value;
}

bool onPciBus(const DeviceApi& api, void* devices, std::uint32_t index) {
  const auto type = readValue<Guid>(api, devices, index, DeviceProperty::busType, kPropertyTypeGuid);
  return type && std::memcmp(&*type, &kBusTypePci, sizeof(Guid)) == 0;
}

std::optional<PciLocation> locationOf(const DeviceApi& api, void* devices, std::uint32_t index) {
  if (!onPciBus(api, devices, index)) return std::nullopt;
  const auto bus =
      readValue<std::uint32_t>(api, devices, index, DeviceProperty::busNumber, kPropertyTypeUint32);
  if (!bus) return std::nullopt;
  const auto address =
      readValue<std::uint32_t>(api, devices, index, DeviceProperty::address, kPropertyTypeUint32);
  if (!address) return std::nullopt;
  return pciLocation(*bus, *address);
}

AdapterState* adapterWithLuid(std::vector<AdapterState>& adapters, std::uint64_t luid) {
  const auto low = static_cast<std::uint32_t>(luid & 0xFFFFFFFFu);
  const auto high = static_cast<std::int32_t>(static_cast<std::uint32_t>(luid >> 32));
  for (AdapterState& a : adapters) {
    if (a.hasLuid(low, high) && !a.pci) return &a;
  }
  return nullptr;
}

}  // namespace

void locateAdapters(const DeviceApi& api, std::vector<AdapterState>& adapters) {
  if (adapters.empty()) return;
  void* devices = api.openDisplayDevices();
  if (devices == nullptr) return;
  for (std::uint32_t index = 0; index < kWalkLimit && api.deviceAt(devices, index); ++index) {
    const auto luid =
        readValue<std::uint64_t>(api, devices, index, DeviceProperty::gpuLuid, kPropertyTypeUint64);
    AdapterState* adapter = luid ? adapterWithLuid(adapters, *luid) : nullptr;
    if (adapter != nullptr) adapter->pci = locationOf(api, devices, index);
  }
  api.closeDevices(devices);
}
