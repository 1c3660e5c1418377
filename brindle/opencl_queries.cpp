#include "opencl_queries.h"

#include <cstring>
#include <vector>

#include "checked_alloc.h"

namespace {

template <typename Handle>
std::string readInfoString(ClInfoFunction<Handle> getInfo, Handle object, cl_uint parameter) {
  size_t size = 0;
  if (getInfo(object, parameter, 0, nullptr, &size) != CL_SUCCESS || size == 0) return {};
  std::vector<char> buffer;
  if (!tryAssign(buffer, size, '\0')) return {};
  if (getInfo(object, parameter, size, buffer.data(), nullptr) != CL_SUCCESS) return {};
  // The runtime may have left no terminating zero; the last byte is always dropped.
  buffer[size - 1] = '\0';
  return std::string(buffer.data(), std::strlen(buffer.data()));
}

std::string lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::string queryInfoString(ClGetPlatformInfo getInfo, cl_platform_id platform,
                            cl_platform_info parameter) {
  return readInfoString<cl_platform_id>(getInfo, platform, parameter);
}

std::string queryInfoString(ClGetDeviceInfo getInfo, cl_device_id device,
                            cl_device_info parameter) {
  return readInfoString<cl_device_id>(getInfo, device, parameter);
}

bool isGpuDevice(const OpenClRuntime& runtime, cl_device_id device) {
  cl_device_type type = 0;
  const cl_int result = runtime.getDeviceInfo(device, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
  return result == CL_SUCCESS && (type & CL_DEVICE_TYPE_GPU) != 0;
}

bool hasExtension(const std::string& extensionList, const char* name) {
  if (name == nullptr || *name == '\0') return false;
  const std::string list = lowered(extensionList);
  const std::string wanted = lowered(name);
  if (wanted.size() > list.size()) return false;
  return list.find(wanted) != std::string::npos;
}
