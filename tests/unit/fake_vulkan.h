#pragma once
// Fake Vulkan entry points over a model of physical devices; every call is logged.

#include <string>
#include <vector>

#include "quarry_platform.h"

namespace fake_vulkan {

struct Device {
  VkPhysicalDeviceProperties properties{};
  VkBool32 luidValid = VK_FALSE;
  uint8_t luid[VK_LUID_SIZE] = {};
  std::int32_t driverId = VK_DRIVER_ID_MESA_LLVMPIPE;  // any 32-bit value a driver may write
  char driverName[VK_MAX_DRIVER_NAME_SIZE] = {};
  char driverInfo[VK_MAX_DRIVER_INFO_SIZE] = {};
};

struct Model {
  std::vector<VkResult> createResults = {VK_SUCCESS};  // one per attempt; the last repeats
  std::vector<Device> devices;
  VkResult countResult = VK_SUCCESS;
  VkResult listResult = VK_SUCCESS;
  bool shrinkList = false;  // the second call writes one handle fewer
  std::uint32_t extraCount = 0;  // the first call reports this many devices more than exist
  std::uint32_t inflatedListCount = 0;  // the second call writes back this many more than it wrote
  std::size_t nullHandleAttempts = 0;  // this many first creations succeed without a handle
  std::uint32_t nullEntryAt = UINT32_MAX;  // the second enumeration leaves this entry null
  bool loaderPresent = true;  // the machine has a Vulkan loader
  std::vector<std::string> calls;
  std::vector<std::uint32_t> requestedApiVersions;
  // What each vkCreateInstance was asked for, beyond the API version; empty when all is as
  // quarry must ask (its names and versions, no layers, no extensions, no chain).
  std::vector<std::string> createInfoMistakes;
  long stdoutAtDestroy = -1;
  int liveInstances = 0;
};

Model& model();
void reset();  // also resets the fake process
VulkanApi api();
QuarryPlatform platform();  // the fake process, loader and entry points

Device device(const char* name, std::uint32_t vendorId, std::uint32_t deviceId);

}  // namespace fake_vulkan
