#include "quarry_run.h"

#include <cstdio>
#include <vector>

#include "device_record.h"
#include "json_output.h"

const char errorFormat[] = "{\"schema\":2,\"error\":{\"code\":\"%s\",\"message\":\"%s\"}}\n";

namespace {

struct Instance {
  VkInstance handle = VK_NULL_HANDLE;
  bool driverProperties = false;  // created at 1.2 on the first attempt
  VkResult failure = VK_SUCCESS;  // the second attempt's result when both failed
};

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
  if (vulkan.createInstance(&info, nullptr, &instance.handle) == VK_SUCCESS) {
    instance.driverProperties = true;
    return instance;
  }
  instance.handle = VK_NULL_HANDLE;
  app.apiVersion = VK_API_VERSION_1_1;
  instance.failure = vulkan.createInstance(&info, nullptr, &instance.handle);
  if (instance.failure != VK_SUCCESS) instance.handle = VK_NULL_HANDLE;
  return instance;
}

void printDeviceDocument(const std::vector<DeviceRecord>& records) {
  std::printf("{\"schema\":2,\"devices\":[");
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i > 0) std::printf(",");
    printDeviceObject(records[i]);
  }
  std::printf("]}\n");
}

void printEnumFailure(const char* format, VkResult result) {
  printJsonError("vulkan_enum_failed", formatMessage(format, static_cast<int>(result)).text);
}

}  // namespace

int runQuarry(const VulkanApi& vulkan) {
  setBinaryStdout();

  const Instance instance = createInstance(vulkan);
  if (instance.handle == VK_NULL_HANDLE) {
    printJsonError("vulkan_init_failed",
                   formatMessage("vkCreateInstance failed with error code %d",
                                 static_cast<int>(instance.failure))
                       .text);
    return 1;
  }

  std::uint32_t count = 0;
  const VkResult countResult = vulkan.enumeratePhysicalDevices(instance.handle, &count, nullptr);
  if (countResult != VK_SUCCESS) {
    printEnumFailure("vkEnumeratePhysicalDevices failed with error code %d", countResult);
    vulkan.destroyInstance(instance.handle, nullptr);
    return 1;
  }

  std::vector<VkPhysicalDevice> handles;
  if (count > 0) {
    handles.assign(count, VK_NULL_HANDLE);
    const VkResult listResult =
        vulkan.enumeratePhysicalDevices(instance.handle, &count, handles.data());
    if (listResult != VK_SUCCESS && listResult != VK_INCOMPLETE) {
      printEnumFailure("vkEnumeratePhysicalDevices (2nd call) failed with error code %d",
                       listResult);
      vulkan.destroyInstance(instance.handle, nullptr);
      return 1;
    }
    // The call rewrites the count to the handles written; it can only shrink.
    if (count > handles.size()) count = static_cast<std::uint32_t>(handles.size());
  }

  std::vector<DeviceRecord> records;
  records.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    records.push_back(readDeviceRecord(vulkan, handles[i], i, instance.driverProperties));
  }

  // Every Vulkan object is gone before the first byte of the document.
  vulkan.destroyInstance(instance.handle, nullptr);
  printDeviceDocument(records);
  return 0;
}
