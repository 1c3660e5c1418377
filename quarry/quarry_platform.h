#pragma once
// What quarry's run reaches the platform through: the process's output and crashes, the
// Vulkan loader's presence, and its five entry points.

#include "platform_api.h"
#include "vulkan_api.h"

struct QuarryPlatform {
  ProcessApi process;
  // Makes the loader callable; false when the machine has no Vulkan runtime. On Windows the
  // loader is delay-loaded, so that quarry.exe starts without it.
  bool (*loadVulkanLoader)();
  VulkanApi vulkan;
};
