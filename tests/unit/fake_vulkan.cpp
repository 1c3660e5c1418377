#include "fake_vulkan.h"

#include <cstring>

#include "fake_process.h"
#include "fault_injection.h"
#include "test_support.h"

namespace fake_vulkan {

namespace {

using faults::Fault;

int instanceToken;

Model& state() {
  static Model instance;
  return instance;
}

Device* deviceOf(VkPhysicalDevice handle) { return reinterpret_cast<Device*>(handle); }

void checkCreateInfo(const VkInstanceCreateInfo* info) {
  auto& mistakes = state().createInfoMistakes;
  const auto expect = [&mistakes](bool ok, const char* what) {
    if (!ok) mistakes.emplace_back(what);
  };
  expect(info->sType == VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO, "create sType");
  expect(info->pNext == nullptr && info->flags == 0, "create pNext or flags");
  expect(info->enabledLayerCount == 0 && info->ppEnabledLayerNames == nullptr, "layers");
  expect(info->enabledExtensionCount == 0 && info->ppEnabledExtensionNames == nullptr,
         "extensions");
  const VkApplicationInfo* app = info->pApplicationInfo;
  expect(app->sType == VK_STRUCTURE_TYPE_APPLICATION_INFO && app->pNext == nullptr, "app sType");
  expect(std::string(app->pApplicationName) == "quarry", "application name");
  expect(std::string(app->pEngineName) == "No Engine", "engine name");
  expect(app->applicationVersion == 0x400000 && app->engineVersion == 0x400000, "versions");
}

VKAPI_ATTR VkResult VKAPI_CALL createInstance(const VkInstanceCreateInfo* info,
                                              const VkAllocationCallbacks* allocator,
                                              VkInstance* instance) {
  Model& m = state();
  checkCreateInfo(info);
  const std::size_t attempt = m.requestedApiVersions.size();
  m.requestedApiVersions.push_back(info->pApplicationInfo->apiVersion);
  m.calls.push_back(allocator == nullptr ? "vkCreateInstance" : "vkCreateInstance with allocator");
  VkResult result = m.createResults[std::min(attempt, m.createResults.size() - 1)];
  if (faults::at("vkCreateInstance") == Fault::errorCode) result = VK_ERROR_INCOMPATIBLE_DRIVER;
  if (result == VK_SUCCESS && attempt >= m.nullHandleAttempts) {
    *instance = reinterpret_cast<VkInstance>(&instanceToken);
    ++m.liveInstances;
  }
  return result;
}

VKAPI_ATTR void VKAPI_CALL destroyInstance(VkInstance instance,
                                           const VkAllocationCallbacks* allocator) {
  Model& m = state();
  m.calls.push_back(instance == reinterpret_cast<VkInstance>(&instanceToken) && allocator == nullptr
                        ? "vkDestroyInstance"
                        : "vkDestroyInstance of a stranger");
  m.stdoutAtDestroy = stdoutBytesSoFar();
  --m.liveInstances;
}

VKAPI_ATTR VkResult VKAPI_CALL enumeratePhysicalDevices(VkInstance, std::uint32_t* count,
                                                        VkPhysicalDevice* devices) {
  Model& m = state();
  const auto available = static_cast<std::uint32_t>(m.devices.size());
  if (devices == nullptr) {
    m.calls.push_back("vkEnumeratePhysicalDevices count");
    const Fault fault = faults::at("vkEnumeratePhysicalDevices count");
    *count = fault == Fault::zeroCount ? 0 : available + m.extraCount;
    if (fault == Fault::errorCode) return VK_ERROR_INITIALIZATION_FAILED;
    if (fault == Fault::successCode) return VK_INCOMPLETE;
    return m.countResult;
  }
  m.calls.push_back("vkEnumeratePhysicalDevices list " + std::to_string(*count));
  const Fault fault = faults::at("vkEnumeratePhysicalDevices list");
  if (fault == Fault::errorCode) return VK_ERROR_OUT_OF_HOST_MEMORY;
  std::uint32_t written = std::min(*count, available);
  if ((m.shrinkList || fault == Fault::shrinkCount) && written > 0) --written;
  for (std::uint32_t i = 0; i < written; ++i) {
    devices[i] = i == m.nullEntryAt ? VK_NULL_HANDLE : reinterpret_cast<VkPhysicalDevice>(&m.devices[i]);
  }
  *count = written + m.inflatedListCount;
  return fault == Fault::successCode ? VK_INCOMPLETE : m.listResult;
}

VKAPI_ATTR void VKAPI_CALL getProperties(VkPhysicalDevice handle,
                                         VkPhysicalDeviceProperties* properties) {
  if (handle == VK_NULL_HANDLE) {
    state().calls.push_back("vkGetPhysicalDeviceProperties of a null handle");
    return;
  }
  state().calls.push_back("vkGetPhysicalDeviceProperties");
  *properties = deviceOf(handle)->properties;
  if (faults::at("vkGetPhysicalDeviceProperties") == Fault::unterminated) {
    std::memset(properties->deviceName, 'N', sizeof properties->deviceName);
  }
}

VKAPI_ATTR void VKAPI_CALL getProperties2(VkPhysicalDevice handle,
                                          VkPhysicalDeviceProperties2* properties) {
  const Device* d = deviceOf(handle);
  if (d == nullptr) {
    state().calls.push_back("vkGetPhysicalDeviceProperties2 of a null handle");
    return;
  }
  if (properties->sType != VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2) {
    state().calls.push_back("vkGetPhysicalDeviceProperties2 with a wrong sType");
    return;
  }
  const bool unterminated = faults::at("vkGetPhysicalDeviceProperties2") == Fault::unterminated;
  std::string chain = "vkGetPhysicalDeviceProperties2";
  for (auto* s = static_cast<VkBaseOutStructure*>(properties->pNext); s != nullptr; s = s->pNext) {
    if (s->sType == VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ID_PROPERTIES) {
      chain += " id";
      auto* ids = reinterpret_cast<VkPhysicalDeviceIDProperties*>(s);
      ids->deviceLUIDValid = d->luidValid;
      std::memcpy(ids->deviceLUID, d->luid, VK_LUID_SIZE);
    } else if (s->sType == VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES) {
      chain += " driver";
      auto* driver = reinterpret_cast<VkPhysicalDeviceDriverProperties*>(s);
      std::memcpy(&driver->driverID, &d->driverId, sizeof d->driverId);
      std::memcpy(driver->driverName, d->driverName, VK_MAX_DRIVER_NAME_SIZE);
      std::memcpy(driver->driverInfo, d->driverInfo, VK_MAX_DRIVER_INFO_SIZE);
      if (unterminated) {
        std::memset(driver->driverName, 'D', VK_MAX_DRIVER_NAME_SIZE);
        std::memset(driver->driverInfo, 'I', VK_MAX_DRIVER_INFO_SIZE);
      }
    } else {
      chain += " unknown";
    }
  }
  state().calls.push_back(chain);
}

}  // namespace

Model& model() { return state(); }
void reset() {
  state() = Model{};
  fake_process::reset();
}

VulkanApi api() {
  return {createInstance, enumeratePhysicalDevices, getProperties, getProperties2, destroyInstance};
}

QuarryPlatform platform() {
  return {fake_process::api(),
          [] {
            if (faults::at("load the Vulkan loader") == Fault::nullOut) return false;
            return state().loaderPresent;
          },
          api()};
}

Device device(const char* name, std::uint32_t vendorId, std::uint32_t deviceId) {
  Device d;
  std::strncpy(d.properties.deviceName, name, VK_MAX_PHYSICAL_DEVICE_NAME_SIZE - 1);
  d.properties.vendorID = vendorId;
  d.properties.deviceID = deviceId;
  d.properties.apiVersion = VK_MAKE_API_VERSION(0, 1, 3, 277);
  d.properties.driverVersion = 8388887;
  return d;
}

}  // namespace fake_vulkan
