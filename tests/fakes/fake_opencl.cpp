#include "fake_opencl.h"

#include <CL/cl_ext.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fault_injection.h"

namespace fake_opencl {

namespace {

Runtime& model() {
  static Runtime instance;
  return instance;
}

void log(const std::string& entry) { model().calls.push_back(entry); }

// Handles point at the model's own records.
Platform* platformOf(cl_platform_id id) { return reinterpret_cast<Platform*>(id); }
Device* deviceOf(cl_device_id id) { return reinterpret_cast<Device*>(id); }

cl_int answerBytes(const void* bytes, size_t size, size_t valueSize, void* value,
                   size_t* valueSizeRet) {
  if (valueSizeRet != nullptr) *valueSizeRet = size;
  if (value != nullptr) {
    if (valueSize < size) return CL_INVALID_VALUE;
    std::memcpy(value, bytes, size);
  }
  return CL_SUCCESS;
}

using faults::Fault;

// A string property; the fault named call can fail either query or drop the zero.
cl_int answerString(const std::string& call, const std::string& text, size_t valueSize,
                    void* value, size_t* valueSizeRet) {
  const Fault fault = faults::at(call);
  if (fault == Fault::errorCode && value == nullptr) return CL_INVALID_VALUE;
  if (fault == Fault::dataError && value != nullptr) return CL_OUT_OF_RESOURCES;
  const std::string bytes = fault == Fault::unterminated ? text : text + '\0';
  return answerBytes(bytes.data(), bytes.size(), valueSize, value, valueSizeRet);
}

cl_int listDevices(const std::string& call, std::vector<Device>& source, cl_int countError,
                   cl_int listError, cl_uint absurdCount, cl_uint numEntries,
                   cl_device_id* devices, cl_uint* numDevices) {
  if (devices == nullptr) {
    const Fault fault = faults::at(call + " count");
    if (fault == Fault::errorCode) return CL_OUT_OF_HOST_MEMORY;
    if (countError != CL_SUCCESS) return countError;
    if (numDevices != nullptr) {
      *numDevices = fault == Fault::zeroCount ? 0 : static_cast<cl_uint>(source.size());
      if (absurdCount != 0) *numDevices = absurdCount;
    }
    return source.empty() ? CL_DEVICE_NOT_FOUND : CL_SUCCESS;
  }
  const Fault fault = faults::at(call + " list");
  if (fault == Fault::errorCode) return CL_OUT_OF_RESOURCES;
  if (listError != CL_SUCCESS) return listError;
  size_t n = std::min<size_t>(numEntries, source.size());
  if (fault == Fault::shrinkCount && n > 0) --n;
  for (size_t i = 0; i < n; ++i) {
    devices[i] = source[i].nullHandle ? nullptr : reinterpret_cast<cl_device_id>(&source[i]);
  }
  if (numDevices != nullptr) {
    log(call + " list with a count pointer");
    *numDevices = static_cast<cl_uint>(n);
  }
  return CL_SUCCESS;
}

}  // namespace

Runtime& runtime() { return model(); }

void reset() {
  model() = Runtime{};
  faults::disarm();  // a fault armed by an earlier test must not leak into this one
}

std::array<std::uint8_t, 8> luidBytes(std::uint32_t lowPart, std::int32_t highPart) {
  const auto high = static_cast<std::uint32_t>(highPart);
  std::array<std::uint8_t, 8> bytes{};
  for (int i = 0; i < 4; ++i) {
    bytes[static_cast<size_t>(i)] = static_cast<std::uint8_t>(lowPart >> (8 * i));
    bytes[static_cast<size_t>(i + 4)] = static_cast<std::uint8_t>(high >> (8 * i));
  }
  return bytes;
}

void* exportedFunction(const char* name) {
  const auto& missing = model().missingExports;
  if (std::find(missing.begin(), missing.end(), name) != missing.end()) return nullptr;
  const std::string n = name;
  if (n == "clGetPlatformIDs") return reinterpret_cast<void*>(&getPlatformIDs);
  if (n == "clGetPlatformInfo") return reinterpret_cast<void*>(&getPlatformInfo);
  if (n == "clGetDeviceIDs") return reinterpret_cast<void*>(&getDeviceIDs);
  if (n == "clGetDeviceInfo") return reinterpret_cast<void*>(&getDeviceInfo);
  if (n == "clGetExtensionFunctionAddressForPlatform") {
    return reinterpret_cast<void*>(&getExtensionFunctionAddressForPlatform);
  }
  return nullptr;
}

cl_int CL_API_CALL getPlatformIDs(cl_uint numEntries, cl_platform_id* platforms,
                                  cl_uint* numPlatforms) {
  Runtime& m = model();
  if (platforms == nullptr) {
    log("clGetPlatformIDs count");
    const Fault fault = faults::at("clGetPlatformIDs count");
    if (numPlatforms != nullptr) {
      *numPlatforms = m.overridePlatformCount ? m.platformCount
                                              : static_cast<cl_uint>(m.platforms.size());
      if (fault == Fault::zeroCount) *numPlatforms = 0;
    }
    return fault == Fault::errorCode ? CL_OUT_OF_HOST_MEMORY : m.platformCountResult;
  }
  log("clGetPlatformIDs list " + std::to_string(numEntries));
  const Fault fault = faults::at("clGetPlatformIDs list");
  if (fault == Fault::errorCode) return CL_OUT_OF_RESOURCES;
  if (m.platformListResult != CL_SUCCESS) return m.platformListResult;
  size_t n = std::min<size_t>(numEntries, m.platforms.size());
  if (fault == Fault::shrinkCount && n > 0) --n;
  for (size_t i = 0; i < n; ++i) platforms[i] = reinterpret_cast<cl_platform_id>(&m.platforms[i]);
  if (numPlatforms != nullptr) {
    log("clGetPlatformIDs list with a count pointer");
    *numPlatforms = static_cast<cl_uint>(n);
  }
  return CL_SUCCESS;
}

cl_int CL_API_CALL getPlatformInfo(cl_platform_id id, cl_platform_info param, size_t valueSize,
                                   void* value, size_t* valueSizeRet) {
  Platform* p = platformOf(id);
  if (p == nullptr) return CL_INVALID_PLATFORM;
  log("clGetPlatformInfo " + p->name + " " + std::to_string(param));
  switch (param) {
    case CL_PLATFORM_NAME:
      if (p->nameError != CL_SUCCESS) return p->nameError;
      if (p->absurdNameSize && value == nullptr) {
        if (valueSizeRet != nullptr) *valueSizeRet = SIZE_MAX;
        return CL_SUCCESS;
      }
      return answerString("clGetPlatformInfo CL_PLATFORM_NAME", p->name, valueSize, value,
                          valueSizeRet);
    case CL_PLATFORM_EXTENSIONS:
      if (p->extensionsError != CL_SUCCESS) return p->extensionsError;
      return answerString("clGetPlatformInfo CL_PLATFORM_EXTENSIONS", p->extensions, valueSize,
                          value, valueSizeRet);
    default: return CL_INVALID_VALUE;
  }
}

cl_int CL_API_CALL getDeviceIDs(cl_platform_id id, cl_device_type type, cl_uint numEntries,
                                cl_device_id* devices, cl_uint* numDevices) {
  Platform* p = platformOf(id);
  if (p == nullptr) return CL_INVALID_PLATFORM;
  log("clGetDeviceIDs " + p->name + (devices == nullptr ? " count" : " list") +
      (type == CL_DEVICE_TYPE_ALL ? " all" : " some"));
  return listDevices("clGetDeviceIDs", p->devices, p->deviceCountError, p->deviceListError,
                     p->absurdDeviceCount, numEntries, devices, numDevices);
}

cl_int CL_API_CALL getDeviceInfo(cl_device_id id, cl_device_info param, size_t valueSize,
                                 void* value, size_t* valueSizeRet) {
  Device* d = deviceOf(id);
  if (d == nullptr) return CL_INVALID_DEVICE;
  log("clGetDeviceInfo " + d->name + " " + std::to_string(param));
  switch (param) {
    case CL_DEVICE_TYPE:
      if (faults::at("clGetDeviceInfo CL_DEVICE_TYPE") == Fault::errorCode) return CL_INVALID_VALUE;
      if (d->typeError != CL_SUCCESS) return d->typeError;
      return answerBytes(&d->type, sizeof d->type, valueSize, value, valueSizeRet);
    case CL_DEVICE_NAME:
      if (d->nameError != CL_SUCCESS) return d->nameError;
      return answerString("clGetDeviceInfo CL_DEVICE_NAME", d->name, valueSize, value,
                          valueSizeRet);
    case CL_DEVICE_EXTENSIONS:
      if (d->extensionsError != CL_SUCCESS) return d->extensionsError;
      return answerString("clGetDeviceInfo CL_DEVICE_EXTENSIONS", d->extensions, valueSize, value,
                          valueSizeRet);
    case CL_DEVICE_LUID_VALID_KHR: {
      if (faults::at("clGetDeviceInfo CL_DEVICE_LUID_VALID_KHR") == Fault::errorCode) {
        return CL_INVALID_VALUE;
      }
      if (d->luidValidError != CL_SUCCESS) return d->luidValidError;
      log("clGetDeviceInfo " + d->name + " CL_DEVICE_LUID_VALID_KHR size " + std::to_string(valueSize));
      if (!d->luidValidBytes.empty()) {
        return answerBytes(d->luidValidBytes.data(), d->luidValidBytes.size(), valueSize, value,
                           valueSizeRet);
      }
      const cl_bool valid = d->luidValid ? CL_TRUE : CL_FALSE;
      return answerBytes(&valid, sizeof valid, valueSize, value, valueSizeRet);
    }
    case CL_DEVICE_LUID_KHR:
      if (faults::at("clGetDeviceInfo CL_DEVICE_LUID_KHR") == Fault::errorCode) {
        return CL_INVALID_VALUE;
      }
      if (d->luidError != CL_SUCCESS) return d->luidError;
      log("clGetDeviceInfo " + d->name + " CL_DEVICE_LUID_KHR size " + std::to_string(valueSize));
      return answerBytes(d->luid.data(), d->luid.size(), valueSize, value, valueSizeRet);
    default: return CL_INVALID_VALUE;
  }
}

void* CL_API_CALL getExtensionFunctionAddressForPlatform(cl_platform_id id, const char* name) {
  Platform* p = platformOf(id);
  log("clGetExtensionFunctionAddressForPlatform " + (p ? p->name : std::string("?")) + " " + name);
  if (faults::at("clGetExtensionFunctionAddressForPlatform") == Fault::nullOut) return nullptr;
  if (p == nullptr || !p->offersD3D11Function) return nullptr;
  if (std::strcmp(name, "clGetDeviceIDsFromD3D11KHR") != 0) return nullptr;
  return reinterpret_cast<void*>(&getDeviceIDsFromD3D11);
}

cl_int CL_API_CALL getDeviceIDsFromD3D11(cl_platform_id id, cl_uint source, void* object,
                                         cl_uint set, cl_uint numEntries, cl_device_id* devices,
                                         cl_uint* numDevices) {
  Platform* p = platformOf(id);
  if (p == nullptr) return CL_INVALID_PLATFORM;
  log("clGetDeviceIDsFromD3D11KHR " + p->name + (devices == nullptr ? " count" : " list"));
  model().d3d11DeviceSets.push_back(set);
  constexpr cl_uint kDxgiAdapterSource = 0x401A;
  if (source != kDxgiAdapterSource) return CL_INVALID_VALUE;
  if (model().acceptAdapter != nullptr && !model().acceptAdapter(object)) {
    return CL_DEVICE_NOT_FOUND;
  }
  return listDevices("clGetDeviceIDsFromD3D11KHR", p->d3d11Devices, p->d3d11CountError,
                     p->d3d11ListError, p->absurdDeviceCount, numEntries, devices, numDevices);
}

}  // namespace fake_opencl
