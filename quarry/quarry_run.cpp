#include "quarry_run.h"

#include <new>
#include <vector>

#include "checked_alloc.h"

#include "device_record.h"
#include "json_output.h"
#include "output_guard.h"

const char errorFormat[] = "{\"schema\":2,\"error\":{\"code\":\"%s\",\"message\":\"%s\"}}\n";

namespace {

struct Instance {
  VkInstance handle = VK_NULL_HANDLE;
  bool driverProperties = false;  // created at 1.2 on the first attempt
  VkResult failure = VK_SUCCESS;  // the second attempt's result when both failed
};

// One attempt; a success that delivers no handle counts as a failed initialisation.
VkResult tryCreateInstance(const VulkanApi& vulkan, const VkInstanceCreateInfo& info,
                           VkInstance& handle) {
  handle = VK_NULL_HANDLE;
  VkResult result = vulkan.createInstance(&info, nullptr, &handle);
  if (result == VK_SUCCESS && handle == VK_NULL_HANDLE) result = VK_ERROR_INITIALIZATION_FAILED;
  if (result != VK_SUCCESS) handle = VK_NULL_HANDLE;
  return result;
}

// 1.2 first; 1.1 once if the loader or driver refuses 1.2.
Instance createInstance(const VulkanApi& vulkan) {
  VkApplicationInfo app{};
  app.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
  app.pApplicationName = "quarry";
  app.applicationVersion = VK_MAKE_VERSION(1, 0, 0);
  app.pEngineName = "No Engine";
  app.engineVersion = VK_MAKE_VERSION(1, 0, 0);
  app.apiVersion = VK_API_VERSION_1_2;

  VkInstanceCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
  info.pApplicationInfo = &app;

  Instance instance;
  if (tryCreateInstance(vulkan, info, instance.handle) == VK_SUCCESS) {
    instance.driverProperties = true;
    return instance;
  }
  app.apiVersion = VK_API_VERSION_1_1;
  instance.failure = tryCreateInstance(vulkan, info, instance.handle);
  return instance;
}

void printDeviceDocument(const std::vector<DeviceRecord>& records) {
  std::string document = "{\"schema\":2,\"devices\":[";
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i > 0) document += ",";
    appendDeviceObject(document, records[i]);
  }
  document += "]}\n";
  emitDocument(document, 0);
}

// One record per handle written; false when memory for the list runs out.
bool gatherRecords(const VulkanApi& vulkan, const std::vector<VkPhysicalDevice>& handles,
                   std::uint32_t count, bool driverProperties,
                   std::vector<DeviceRecord>& records) noexcept {
  try {
    for (std::uint32_t i = 0; i < count; ++i) {
      // A handle the driver did not fill in is never queried; the others keep their index.
      if (handles[i] == VK_NULL_HANDLE) continue;
      records.push_back(readDeviceRecord(vulkan, handles[i], i, driverProperties));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void printEnumFailure(const char* format, VkResult result) {
  printJsonError("vulkan_enum_failed", formatMessage(format, static_cast<int>(result)).text);
}

}  // namespace

int runQuarry(const QuarryPlatform& platform) {
  setBinaryStdout();
  if (!guardStdout(platform.process)) return endRun();  // chatter would reach the document
  guardCrashes(platform.process);  // a crash or an abort before the document becomes one
  guardExits(platform.process);    // so does an exit that the run did not make

  enterPlatformPart(kPartVulkan);
  if (!platform.loadVulkanLoader()) {
    printJsonError("vulkan_init_failed", "vulkan-1.dll not found");
    return endRun();
  }
  const VulkanApi& vulkan = platform.vulkan;
  const Instance instance = createInstance(vulkan);
  if (instance.handle == VK_NULL_HANDLE) {
    printJsonError("vulkan_init_failed",
                   formatMessage("vkCreateInstance failed with error code %d",
                                 static_cast<int>(instance.failure))
                       .text);
    return endRun();
  }

  std::uint32_t count = 0;
  const VkResult countResult = vulkan.enumeratePhysicalDevices(instance.handle, &count, nullptr);
  if (countResult != VK_SUCCESS) {
    printEnumFailure("vkEnumeratePhysicalDevices failed with error code %d", countResult);
    vulkan.destroyInstance(instance.handle, nullptr);
    return endRun();
  }

  std::vector<VkPhysicalDevice> handles;
  if (count > 0) {
    if (!tryAssign(handles, count, VkPhysicalDevice{VK_NULL_HANDLE})) {
      printEnumFailure("vkEnumeratePhysicalDevices failed with error code %d",
                       VK_ERROR_OUT_OF_HOST_MEMORY);
      vulkan.destroyInstance(instance.handle, nullptr);
      return endRun();
    }
    const VkResult listResult =
        vulkan.enumeratePhysicalDevices(instance.handle, &count, handles.data());
    if (listResult != VK_SUCCESS && listResult != VK_INCOMPLETE) {
      printEnumFailure("vkEnumeratePhysicalDevices (2nd call) failed with error code %d",
                       listResult);
      vulkan.destroyInstance(instance.handle, nullptr);
      return endRun();
    }
    // The call rewrites the count to the handles written; it can only shrink.
    if (count > handles.size()) count = static_cast<std::uint32_t>(handles.size());
  }

  std::vector<DeviceRecord> records;
  if (!gatherRecords(vulkan, handles, count, instance.driverProperties, records)) {
    printEnumFailure("vkEnumeratePhysicalDevices failed with error code %d",
                     VK_ERROR_OUT_OF_HOST_MEMORY);
    vulkan.destroyInstance(instance.handle, nullptr);
    return endRun();
  }

  // Every Vulkan object is gone before the first byte of the document.
  vulkan.destroyInstance(instance.handle, nullptr);
  printDeviceDocument(records);
  return endRun();
}
