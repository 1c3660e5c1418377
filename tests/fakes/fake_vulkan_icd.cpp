// A test-only Vulkan driver for the native quarry, reached through the real Khronos loader by
// an ICD manifest that VK_DRIVER_FILES names in the test's environment. It has one physical
// device. FAKE_ICD_MODE "chatter" prints to standard output through stdio (no line feed, so
// it sits in the buffer) and through write(1) when loaded and in calls; "crash" writes
// through a null pointer in vkEnumeratePhysicalDevices, "crash-in-thread" does so in a thread
// of the driver's own, "abort" aborts there; "exit", "exit-at-load" and "exit-at-unload" call
// exit(0) in vkCreateInstance, when loaded and when unloaded; "foreign-handler" installs a
// SIGSEGV handler of its own when loaded (one that ends the process with exit code 0) and
// crashes in vkEnumeratePhysicalDevices; "foreign-in-query" installs that handler in each
// property query and crashes in vkDestroyInstance;
// "fail-then-_exit-at-end" fails vkEnumeratePhysicalDevices, stays loaded after its instance
// is destroyed, and calls _exit(0) from its destructor when the process exits.

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>
#include <vulkan/vk_icd.h>
#include <vulkan/vulkan.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

struct DispatchableObject {
  VK_LOADER_DATA loaderData;  // the loader's slot at the start of every dispatchable handle
};

DispatchableObject physicalDevice;

bool mode(const char* name) {
  const char* value = std::getenv("FAKE_ICD_MODE");
  return value != nullptr && std::strcmp(value, name) == 0;
}

void chatter(const char* where) {
  if (!mode("chatter")) return;
  std::printf("fake icd chatter in %s", where);
  const char raw[] = "fake icd raw chatter\n";
  (void)!write(STDOUT_FILENO, raw, sizeof raw - 1);
}

void exitQuietly(int) { _exit(0); }

// Loaded once more, never to be unloaded: as drivers that stay loaded to the process's end.
void stayLoaded() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&stayLoaded), &self) != 0 && self.dli_fname != nullptr) {
    dlopen(self.dli_fname, RTLD_NOW | RTLD_NODELETE);
  }
}

__attribute__((constructor)) void onLoad() {
  chatter("load");
  if (mode("exit-at-load")) std::exit(0);
  if (mode("foreign-handler")) signal(SIGSEGV, exitQuietly);
  if (mode("fail-then-_exit-at-end")) stayLoaded();
}

__attribute__((destructor)) void onUnload() {
  if (mode("exit-at-unload")) std::exit(0);
  if (mode("fail-then-_exit-at-end")) _exit(0);
}

VKAPI_ATTR VkResult VKAPI_CALL createInstance(const VkInstanceCreateInfo*,
                                              const VkAllocationCallbacks*, VkInstance* instance) {
  chatter("vkCreateInstance");
  if (mode("exit")) std::exit(0);
  auto* object = new DispatchableObject;
  set_loader_magic_value(object);
  *instance = reinterpret_cast<VkInstance>(object);
  return VK_SUCCESS;
}

void crash();

VKAPI_ATTR void VKAPI_CALL destroyInstance(VkInstance instance, const VkAllocationCallbacks*) {
  if (mode("foreign-in-query")) crash();
  delete reinterpret_cast<DispatchableObject*>(instance);
}

void crash() {
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

VKAPI_ATTR VkResult VKAPI_CALL enumeratePhysicalDevices(VkInstance, uint32_t* count,
                                                        VkPhysicalDevice* devices) {
  if (mode("crash") || mode("foreign-handler")) crash();
  if (mode("crash-in-thread")) std::thread(crash).join();
  if (mode("abort")) std::abort();
  if (mode("fail-then-_exit-at-end")) return VK_ERROR_INITIALIZATION_FAILED;
  if (devices == nullptr) {
    *count = 1;
    return VK_SUCCESS;
  }
  if (*count < 1) return VK_INCOMPLETE;
  set_loader_magic_value(&physicalDevice);
  devices[0] = reinterpret_cast<VkPhysicalDevice>(&physicalDevice);
  *count = 1;
  return VK_SUCCESS;
}

VKAPI_ATTR void VKAPI_CALL getProperties(VkPhysicalDevice, VkPhysicalDeviceProperties* p) {
  chatter("vkGetPhysicalDeviceProperties");
  if (mode("foreign-in-query")) signal(SIGSEGV, exitQuietly);
  *p = VkPhysicalDeviceProperties{};
  p->apiVersion = VK_API_VERSION_1_2;
  p->driverVersion = 2315976704u;
  p->vendorID = 0x10DE;
  p->deviceID = 1234;
  p->deviceType = VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU;
  std::strcpy(p->deviceName, "Fake ICD GPU");
}

VKAPI_ATTR void VKAPI_CALL getProperties2(VkPhysicalDevice device, VkPhysicalDeviceProperties2* p) {
  getProperties(device, &p->properties);
  for (auto* s = static_cast<VkBaseOutStructure*>(p->pNext); s != nullptr; s = s->pNext) {
    if (s->sType == VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ID_PROPERTIES) {
      auto* ids = reinterpret_cast<VkPhysicalDeviceIDProperties*>(s);
      const uint8_t luid[VK_LUID_SIZE] = {0x3e, 0x8a, 0x01, 0x00, 0xff, 0xff, 0xff, 0xff};
      std::memcpy(ids->deviceLUID, luid, VK_LUID_SIZE);
      ids->deviceLUIDValid = VK_TRUE;
    } else if (s->sType == VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES) {
      auto* driver = reinterpret_cast<VkPhysicalDeviceDriverProperties*>(s);
      driver->driverID = VK_DRIVER_ID_NVIDIA_PROPRIETARY;
      std::strcpy(driver->driverName, "Fake driver");
      std::strcpy(driver->driverInfo, "test");
    }
  }
}

// One instance extension, as every real driver has some.
VKAPI_ATTR VkResult VKAPI_CALL enumerateExtensions(const char*, uint32_t* count,
                                                   VkExtensionProperties* properties) {
  if (properties == nullptr) {
    *count = 1;
    return VK_SUCCESS;
  }
  if (*count < 1) return VK_INCOMPLETE;
  *properties = VkExtensionProperties{};
  std::strcpy(properties->extensionName, VK_KHR_GET_PHYSICAL_DEVICE_PROPERTIES_2_EXTENSION_NAME);
  properties->specVersion = 2;
  *count = 1;
  return VK_SUCCESS;
}

VKAPI_ATTR VkResult VKAPI_CALL enumerateDeviceExtensions(VkPhysicalDevice, const char*,
                                                         uint32_t* count, VkExtensionProperties*) {
  *count = 0;
  return VK_SUCCESS;
}

// The loader insists on every core instance-level entry point; quarry calls none of these.
VKAPI_ATTR VkResult VKAPI_CALL notUsed() { return VK_ERROR_FEATURE_NOT_PRESENT; }

}  // namespace

extern "C" {

VKAPI_ATTR VkResult VKAPI_CALL vk_icdNegotiateLoaderICDInterfaceVersion(uint32_t* version) {
  if (*version > 5) *version = 5;
  return VK_SUCCESS;
}

VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL vk_icdGetInstanceProcAddr(VkInstance, const char* name) {
  struct Entry {
    const char* name;
    PFN_vkVoidFunction function;
  };
  static const Entry entries[] = {
      {"vkCreateInstance", reinterpret_cast<PFN_vkVoidFunction>(createInstance)},
      {"vkDestroyInstance", reinterpret_cast<PFN_vkVoidFunction>(destroyInstance)},
      {"vkEnumeratePhysicalDevices", reinterpret_cast<PFN_vkVoidFunction>(enumeratePhysicalDevices)},
      {"vkGetPhysicalDeviceProperties", reinterpret_cast<PFN_vkVoidFunction>(getProperties)},
      {"vkGetPhysicalDeviceProperties2", reinterpret_cast<PFN_vkVoidFunction>(getProperties2)},
      {"vkGetPhysicalDeviceProperties2KHR", reinterpret_cast<PFN_vkVoidFunction>(getProperties2)},
      {"vkEnumerateInstanceExtensionProperties",
       reinterpret_cast<PFN_vkVoidFunction>(enumerateExtensions)},
      {"vkEnumerateDeviceExtensionProperties",
       reinterpret_cast<PFN_vkVoidFunction>(enumerateDeviceExtensions)},
  };
  for (const Entry& e : entries) {
    if (std::strcmp(e.name, name) == 0) return e.function;
  }
  static const char* const unused[] = {
      "vkGetPhysicalDeviceFeatures", "vkGetPhysicalDeviceFormatProperties",
      "vkGetPhysicalDeviceImageFormatProperties", "vkGetPhysicalDeviceQueueFamilyProperties",
      "vkGetPhysicalDeviceMemoryProperties", "vkGetPhysicalDeviceSparseImageFormatProperties",
      "vkGetDeviceProcAddr", "vkCreateDevice", "vkEnumerateDeviceLayerProperties"};
  for (const char* unusedName : unused) {
    if (std::strcmp(unusedName, name) == 0) return reinterpret_cast<PFN_vkVoidFunction>(notUsed);
  }
  return nullptr;
}

}  // extern "C"
