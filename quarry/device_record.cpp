#include "device_record.h"

#include <cstring>

#include "driver_id.h"
#include "json_output.h"
#include "version_format.h"

namespace {

// deviceLUID is the Windows LUID layout: LowPart, then HighPart, both little-endian.
std::uint32_t littleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// A driver may report any 32-bit value, also one outside VkDriverId (a newer identifier
// or garbage); loading such a value as the enum is undefined, so its bytes are read.
std::int32_t driverIdValue(const VkPhysicalDeviceDriverProperties& driver) {
  static_assert(sizeof driver.driverID == sizeof(std::int32_t));
  std::int32_t value = 0;
  std::memcpy(&value, &driver.driverID, sizeof value);
  return value;
}

}  // namespace

DeviceRecord readDeviceRecord(const VulkanApi& vulkan, VkPhysicalDevice device,
                              std::uint32_t vkIndex, bool withDriverProperties) {
  DeviceRecord record;
  record.vkIndex = vkIndex;

  VkPhysicalDeviceProperties properties{};
  vulkan.getPhysicalDeviceProperties(device, &properties);
  record.name = fixedArrayString(properties.deviceName);
  record.vendorId = properties.vendorID;
  record.deviceId = properties.deviceID;
  record.driverVersionRaw = properties.driverVersion;
  record.apiVersion = formatApiVersion(properties.apiVersion);
  record.driverVersionFormatted = formatDriverVersion(properties.driverVersion, properties.vendorID);

  VkPhysicalDeviceDriverProperties driver{};
  driver.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES;
  driver.pNext = nullptr;
  VkPhysicalDeviceIDProperties ids{};
  ids.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ID_PROPERTIES;
  ids.pNext = withDriverProperties ? &driver : nullptr;
  VkPhysicalDeviceProperties2 properties2{};
  properties2.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2;
  properties2.pNext = &ids;
  vulkan.getPhysicalDeviceProperties2(device, &properties2);

  record.deviceLuidValid = ids.deviceLUIDValid == VK_TRUE;
  if (record.deviceLuidValid) {
    record.luidLowPart = littleEndian32(ids.deviceLUID);
    record.luidHighPart = static_cast<std::int32_t>(littleEndian32(ids.deviceLUID + 4));
  }
  if (withDriverProperties) {
    record.driverId = driverIdName(driverIdValue(driver));
    record.driverName = fixedArrayString(driver.driverName);
    record.driverInfo = fixedArrayString(driver.driverInfo);
  }
  return record;
}

void appendDeviceObject(std::string& out, const DeviceRecord& r) {
  appendFormatted(out,
                  "{\"vkIndex\":%d,\"name\":\"%s\",\"vendorId\":%u,\"deviceId\":%u,\"deviceLuidValid\":%s",
                  static_cast<int>(r.vkIndex), jsonEscape(r.name).c_str(),
                  static_cast<unsigned>(r.vendorId), static_cast<unsigned>(r.deviceId),
                  jsonBool(r.deviceLuidValid));
  if (r.deviceLuidValid) {
    appendFormatted(out, ",\"luidLowPart\":%u,\"luidHighPart\":%d",
                    static_cast<unsigned>(r.luidLowPart), static_cast<int>(r.luidHighPart));
  }
  appendFormatted(out, ",\"apiVersion\":\"%s\",\"driverVersionRaw\":%u,\"driverVersionFormatted\":\"%s\"",
                  jsonEscape(r.apiVersion).c_str(), static_cast<unsigned>(r.driverVersionRaw),
                  jsonEscape(r.driverVersionFormatted).c_str());
  if (!r.driverId.empty()) out += ",\"driverId\":\"" + jsonEscape(r.driverId) + "\"";
  if (!r.driverName.empty()) out += ",\"driverName\":\"" + jsonEscape(r.driverName) + "\"";
  if (!r.driverInfo.empty()) out += ",\"driverInfo\":\"" + jsonEscape(r.driverInfo) + "\"";
  out += "}";
}
