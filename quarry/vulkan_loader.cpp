// The Vulkan table of both quarry executables: the loader's own entry points, each followed by
// the return of the probe's crash handlers. Creating the instance and listing the devices load
// drivers and layers, and any later call may run code that installs handlers of its own.

#include "reclaiming.h"
#include "vulkan_api.h"

VulkanApi loaderVulkanApi() {
  return {reclaiming<vkCreateInstance>, reclaiming<vkEnumeratePhysicalDevices>,
          reclaiming<vkGetPhysicalDeviceProperties>, reclaiming<vkGetPhysicalDeviceProperties2>,
          reclaiming<vkDestroyInstance>};
}
