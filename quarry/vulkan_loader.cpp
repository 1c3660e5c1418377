// The Vulkan table of both quarry executables: the loader's own entry points. Creating the
// instance and listing the devices load drivers and layers, which may install crash handlers
// of their own; the probe's are put back after each of those calls.

#include "output_guard.h"
#include "vulkan_api.h"

namespace {

VKAPI_ATTR VkResult VKAPI_CALL createInstance(const VkInstanceCreateInfo* info,
                                              const VkAllocationCallbacks* allocator,
                                              VkInstance* instance) {
  const VkResult result = vkCreateInstance(info, allocator, instance);
  reclaimCrashHandlers();
  return result;
}

VKAPI_ATTR VkResult VKAPI_CALL enumeratePhysicalDevices(VkInstance instance, uint32_t* count,
                                                        VkPhysicalDevice* devices) {
  const VkResult result = vkEnumeratePhysicalDevices(instance, count, devices);
  reclaimCrashHandlers();
  return result;
}

}  // namespace

VulkanApi loaderVulkanApi() {
  return {createInstance, enumeratePhysicalDevices, vkGetPhysicalDeviceProperties,
          vkGetPhysicalDeviceProperties2, vkDestroyInstance};
}
