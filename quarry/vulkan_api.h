#pragma once
// The five Vulkan entry points quarry calls, as a table: the loader's own functions in
// the deliverables, fakes in the unit tests.

#include <vulkan/vulkan.h>

struct VulkanApi {
  PFN_vkCreateInstance createInstance;
  PFN_vkEnumeratePhysicalDevices enumeratePhysicalDevices;
  PFN_vkGetPhysicalDeviceProperties getPhysicalDeviceProperties;
  PFN_vkGetPhysicalDeviceProperties2 getPhysicalDeviceProperties2;
  PFN_vkDestroyInstance destroyInstance;
};

// The loader's own entry points, for the deliverables (vulkan_loader.cpp).
VulkanApi loaderVulkanApi();
