#include "match_luid.h"

#include <CL/cl_ext.h>

#include <cstring>

#include "checked_alloc.h"
#include "opencl_queries.h"

namespace {

constexpr size_t kLuidBytes = 8;

bool deviceHasValidLuid(const OpenClRuntime& runtime, cl_device_id device) {
  // cl_bool is smaller; the query accepts the larger buffer and the rest stays zero.
  unsigned char valid[kLuidBytes] = {};
  if (runtime.getDeviceInfo(device, CL_DEVICE_LUID_VALID_KHR, sizeof valid, valid, nullptr) !=
      CL_SUCCESS) {
    return false;
  }
  static const unsigned char kZero[kLuidBytes] = {};
  return std::memcmp(valid, kZero, kLuidBytes) != 0;
}

// The Windows LUID layout: LowPart (unsigned) then HighPart (signed), little-endian.
bool luidEquals(const unsigned char (&bytes)[kLuidBytes], std::uint32_t lowPart,
                std::int32_t highPart) {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  for (int i = 3; i >= 0; --i) {
    low = (low << 8) | bytes[i];
    high = (high << 8) | bytes[i + 4];
  }
  return low == lowPart && high == static_cast<std::uint32_t>(highPart);
}

}  // namespace

bool matchByLuid(std::uint32_t lowPart, std::int32_t highPart,
                 const std::vector<cl_platform_id>& platforms, const OpenClRuntime& runtime,
                 MatchCounters& counters) {
  for (cl_platform_id platform : platforms) {
    const std::string platformName =
        queryInfoString(runtime.getPlatformInfo, platform, CL_PLATFORM_NAME);
    cl_uint count = 0;
    if (runtime.getDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 0, nullptr, &count) != CL_SUCCESS ||
        count == 0) {
      continue;
    }
    std::vector<cl_device_id> devices;
    if (!tryAssign(devices, count, cl_device_id{nullptr})) continue;
    if (runtime.getDeviceIDs(platform, CL_DEVICE_TYPE_ALL, count, devices.data(), nullptr) !=
        CL_SUCCESS) {
      continue;
    }

    for (cl_uint index = 0; index < count; ++index) {
      const cl_device_id device = devices[index];
      if (!isGpuDevice(runtime, device)) continue;
      const std::string extensions =
          queryInfoString(runtime.getDeviceInfo, device, CL_DEVICE_EXTENSIONS);
      if (!hasExtension(extensions, "cl_khr_device_uuid")) continue;
      ++counters.luidExtDevices;

      if (!deviceHasValidLuid(runtime, device)) continue;
      unsigned char luid[kLuidBytes] = {};
      if (runtime.getDeviceInfo(device, CL_DEVICE_LUID_KHR, sizeof luid, luid, nullptr) !=
          CL_SUCCESS) {
        continue;
      }
      if (!luidEquals(luid, lowPart, highPart)) continue;

      const std::string deviceName = queryInfoString(runtime.getDeviceInfo, device, CL_DEVICE_NAME);
      printMatchDocument(makeSelector(platformName, deviceName), platformName, deviceName, index,
                         "luid");
      return true;
    }
  }
  return false;
}
