#pragma once
// One physical device as quarry reports it, read from the Vulkan property structures.

#include <cstdint>
#include <string>

#include "vulkan_api.h"

struct DeviceRecord {
  std::uint32_t vkIndex = 0;
  std::string name;
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  bool deviceLuidValid = false;
  std::uint32_t luidLowPart = 0;
  std::int32_t luidHighPart = 0;
  std::string apiVersion;
  std::uint32_t driverVersionRaw = 0;
  std::string driverVersionFormatted;
  std::string driverId;  // these three stay empty without the driver structure
  std::string driverName;
  std::string driverInfo;
};

// A string from a fixed-size char array: up to its first NUL, never past its end.
template <std::size_t N>
std::string fixedArrayString(const char (&text)[N]) {
  std::size_t length = 0;
  while (length < N && text[length] != '\0') ++length;
  return std::string(text, length);
}

// Queries one device; the driver structure is chained only when withDriverProperties.
DeviceRecord readDeviceRecord(const VulkanApi& vulkan, VkPhysicalDevice device,
                              std::uint32_t vkIndex, bool withDriverProperties);

// Appends the device object of the document, without separators.
void appendDeviceObject(std::string& out, const DeviceRecord& record);
