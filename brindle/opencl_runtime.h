#pragma once
// The OpenCL runtime, loaded by file name at run time, with the entry points brindle uses.

#include <CL/cl.h>

#include <vector>

#include "platform_api.h"

using ClGetPlatformIDs = cl_int(CL_API_CALL*)(cl_uint, cl_platform_id*, cl_uint*);
using ClGetPlatformInfo = cl_int(CL_API_CALL*)(cl_platform_id, cl_platform_info, size_t, void*,
                                               size_t*);
using ClGetDeviceIDs = cl_int(CL_API_CALL*)(cl_platform_id, cl_device_type, cl_uint, cl_device_id*,
                                            cl_uint*);
using ClGetDeviceInfo = cl_int(CL_API_CALL*)(cl_device_id, cl_device_info, size_t, void*, size_t*);
using ClGetExtensionFunctionAddressForPlatform = void*(CL_API_CALL*)(cl_platform_id, const char*);

// The info entry points share one shape: object, parameter, size, value, size returned.
template <typename Handle>
using ClInfoFunction = cl_int(CL_API_CALL*)(Handle, cl_uint, size_t, void*, size_t*);

struct OpenClRuntime {
  void* module = nullptr;
  ClGetPlatformIDs getPlatformIDs = nullptr;
  ClGetPlatformInfo getPlatformInfo = nullptr;
  ClGetDeviceIDs getDeviceIDs = nullptr;
  ClGetDeviceInfo getDeviceInfo = nullptr;
  // Optional: without it the Direct3D 11 sharing match does not run.
  ClGetExtensionFunctionAddressForPlatform getExtensionFunctionAddressForPlatform = nullptr;
};

// The runtime library's file name, looked for beside the executable and in System32.
extern const wchar_t kOpenClLibraryName[];

// cl_khr_icd's "no platforms installed".
constexpr cl_int kClPlatformNotFoundKhr = -1001;

enum class BindOutcome {
  ready,                // runtime bound, platform list filled
  errorPrinted,         // an error document was printed (exit 1)
  noPlatformsPrinted,   // the no-platforms document was printed (exit 0)
};

// Loads the runtime, resolves its entry points and lists the platforms. What it
// acquires lands in runtime and platforms even on failure; the caller releases it after
// the document.
BindOutcome bindOpenClRuntime(const ModuleApi& modules, OpenClRuntime& runtime,
                              std::vector<cl_platform_id>& platforms);
