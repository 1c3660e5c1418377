#include "match_d3d11.h"

#include "checked_alloc.h"
#include "opencl_queries.h"
#include "reclaiming.h"

namespace {

constexpr char kSharingFunctionName[] = "clGetDeviceIDsFromD3D11KHR";

struct ChosenDevice {
  cl_device_id device;
  cl_uint index;
};

// The first GPU in the list, else the first entry whatever its type.
ChosenDevice chooseDevice(const OpenClRuntime& runtime, const std::vector<cl_device_id>& devices) {
  for (cl_uint i = 0; i < devices.size(); ++i) {
    if (!isGpuDevice(runtime, devices[i])) continue;
    if (devices[i] != nullptr) return {devices[i], i};
    break;
  }
  return {devices[0], 0};
}

}  // namespace

bool matchByD3D11Sharing(void* adapter, const std::vector<cl_platform_id>& platforms,
                         const OpenClRuntime& runtime, MatchCounters& counters) {
  for (cl_platform_id platform : platforms) {
    const std::string platformName =
        queryInfoString(runtime.getPlatformInfo, platform, CL_PLATFORM_NAME);
    const std::string extensions =
        queryInfoString(runtime.getPlatformInfo, platform, CL_PLATFORM_EXTENSIONS);
    if (!hasExtension(extensions, "cl_khr_d3d11_sharing")) continue;
    ++counters.d3d11SharingPlatforms;

    // Each platform's own function, called as the runtime's exports are.
    const auto getDevices = reclaimingPointer<kSharingFunctionName>(
        reinterpret_cast<ClGetDeviceIDsFromD3D11Khr>(
            runtime.getExtensionFunctionAddressForPlatform(platform, kSharingFunctionName)));
    if (getDevices == nullptr) continue;

    cl_uint count = 0;
    if (getDevices(platform, kClD3D11DxgiAdapterKhr, adapter, kD3D11DeviceSet, 0, nullptr,
                   &count) != CL_SUCCESS ||
        count == 0) {
      continue;
    }
    std::vector<cl_device_id> devices;
    if (!tryAssign(devices, count, cl_device_id{nullptr})) continue;
    if (getDevices(platform, kClD3D11DxgiAdapterKhr, adapter, kD3D11DeviceSet, count,
                   devices.data(), nullptr) != CL_SUCCESS) {
      continue;
    }

    const ChosenDevice chosen = chooseDevice(runtime, devices);
    if (chosen.device == nullptr) continue;
    const std::string deviceName =
        queryInfoString(runtime.getDeviceInfo, chosen.device, CL_DEVICE_NAME);
    printMatchDocument(makeSelector(platformName, deviceName), platformName, deviceName,
                       chosen.index, "d3d11_sharing");
    return true;
  }
  return false;
}
