// quarry: lists the Vulkan physical devices with their identifiers, LUID, versions and
// driver identity. The logic is in runQuarry; this file binds the loader's functions.

#include "quarry_run.h"

int main() {
  const VulkanApi vulkan{vkCreateInstance, vkEnumeratePhysicalDevices, vkGetPhysicalDeviceProperties,
                         vkGetPhysicalDeviceProperties2, vkDestroyInstance};
  return runQuarry(vulkan);
}
