// A test-only implicit Vulkan layer for the native quarry: a broken overlay or capture tool,
// registered for every program, that writes through a null pointer in vkCreateInstance. The
// real loader finds it by the manifest that the test puts in a user's implicit layer folder;
// quarry must report the crash as a document, and the same run with implicit layers disabled
// must answer as if the layer were not there.

#include <vulkan/vk_layer.h>
#include <vulkan/vulkan.h>

#include <cstring>

namespace {

VKAPI_ATTR VkResult VKAPI_CALL createInstance(const VkInstanceCreateInfo*,
                                              const VkAllocationCallbacks*, VkInstance*) {
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
  return VK_ERROR_INITIALIZATION_FAILED;
}

VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL getInstanceProcAddr(VkInstance, const char* name);

// The layer never creates a device, so it intercepts no device-level call.
VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL getDeviceProcAddr(VkDevice, const char*) {
  return nullptr;
}

VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL getInstanceProcAddr(VkInstance, const char* name) {
  if (std::strcmp(name, "vkCreateInstance") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(createInstance);
  }
  if (std::strcmp(name, "vkGetInstanceProcAddr") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(getInstanceProcAddr);
  }
  if (std::strcmp(name, "vkGetDeviceProcAddr") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(getDeviceProcAddr);
  }
  // The crash comes before any instance exists, so nothing past it is ever reached.
  return nullptr;
}

}  // namespace

extern "C" {

VKAPI_ATTR VkResult VKAPI_CALL vkNegotiateLoaderLayerInterfaceVersion(
    VkNegotiateLayerInterface* version) {
  if (version == nullptr || version->sType != LAYER_NEGOTIATE_INTERFACE_STRUCT) {
    return VK_ERROR_INITIALIZATION_FAILED;
  }
  if (version->loaderLayerInterfaceVersion > 2) version->loaderLayerInterfaceVersion = 2;
  version->pfnGetInstanceProcAddr = getInstanceProcAddr;
  version->pfnGetDeviceProcAddr = getDeviceProcAddr;
  version->pfnGetPhysicalDeviceProcAddr = nullptr;
  return VK_SUCCESS;
}

}  // extern "C"
