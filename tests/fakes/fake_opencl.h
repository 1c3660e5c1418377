#pragma once
// An in-process OpenCL runtime driven by a model of platforms and devices. The unit tests
// set the model directly; the test-only OpenCL.dll sets it from a named scenario.

#include <CL/cl.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fake_opencl {

struct Device {
  std::string name;
  cl_device_type type = CL_DEVICE_TYPE_GPU;
  std::string extensions;
  bool luidValid = false;
  std::string luidValidBytes;  // when set, the exact bytes of the validity answer
  std::array<std::uint8_t, 8> luid{};
  cl_int typeError = CL_SUCCESS;
  cl_int extensionsError = CL_SUCCESS;
  cl_int luidValidError = CL_SUCCESS;
  cl_int luidError = CL_SUCCESS;
  cl_int nameError = CL_SUCCESS;
  bool nullHandle = false;  // listed as a null handle, as a broken runtime might
};

struct Platform {
  std::string name;
  std::string extensions;
  cl_int nameError = CL_SUCCESS;
  cl_int extensionsError = CL_SUCCESS;
  bool absurdNameSize = false;  // the name's size query answers SIZE_MAX
  cl_uint absurdDeviceCount = 0;  // when set, both device counts answer this instead
  // clGetDeviceIDs(CL_DEVICE_TYPE_ALL)
  std::vector<Device> devices;
  cl_int deviceCountError = CL_SUCCESS;
  cl_int deviceListError = CL_SUCCESS;
  // clGetDeviceIDsFromD3D11KHR, when the platform offers it
  bool offersD3D11Function = true;
  std::vector<Device> d3d11Devices;
  cl_int d3d11CountError = CL_SUCCESS;
  cl_int d3d11ListError = CL_SUCCESS;
};

struct Runtime {
  std::vector<Platform> platforms;
  cl_int platformCountResult = CL_SUCCESS;
  bool overridePlatformCount = false;  // report platformCount instead of the model's size
  cl_uint platformCount = 0;
  cl_int platformListResult = CL_SUCCESS;
  std::vector<std::string> missingExports;
  // Says whether the adapter object handed to the sharing function is the expected one.
  bool (*acceptAdapter)(void* adapter) = nullptr;
  // Every call, in order, as "function platform-or-device-name detail".
  std::vector<std::string> calls;
  // The sharing function's device set, as last passed.
  std::vector<cl_uint> d3d11DeviceSets;
};

Runtime& runtime();
void reset();

std::array<std::uint8_t, 8> luidBytes(std::uint32_t lowPart, std::int32_t highPart);

// The runtime's exports by name; null for names in missingExports or unknown.
void* exportedFunction(const char* name);

cl_int CL_API_CALL getPlatformIDs(cl_uint numEntries, cl_platform_id* platforms,
                                  cl_uint* numPlatforms);
cl_int CL_API_CALL getPlatformInfo(cl_platform_id platform, cl_platform_info param,
                                   size_t valueSize, void* value, size_t* valueSizeRet);
cl_int CL_API_CALL getDeviceIDs(cl_platform_id platform, cl_device_type type, cl_uint numEntries,
                                cl_device_id* devices, cl_uint* numDevices);
cl_int CL_API_CALL getDeviceInfo(cl_device_id device, cl_device_info param, size_t valueSize,
                                 void* value, size_t* valueSizeRet);
void* CL_API_CALL getExtensionFunctionAddressForPlatform(cl_platform_id platform,
                                                         const char* name);
cl_int CL_API_CALL getDeviceIDsFromD3D11(cl_platform_id platform, cl_uint source, void* object,
                                         cl_uint set, cl_uint numEntries, cl_device_id* devices,
                                         cl_uint* numDevices);

}  // namespace fake_opencl
