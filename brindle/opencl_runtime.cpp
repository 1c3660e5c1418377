#include "opencl_runtime.h"

#include "checked_alloc.h"
#include "json_output.h"
#include "output_guard.h"

const wchar_t kOpenClLibraryName[] = L"OpenCL.dll";

namespace {

template <typename Function>
Function resolve(const ModuleApi& modules, void* module, const char* name) {
  return reinterpret_cast<Function>(modules.symbol(module, name));
}

void printNoPlatforms() {
  emitDocument(
      "{\"schema\":1,\"matched\":false,\"reason\":\"no_platforms\",\"platformCount\":0,"
      "\"d3d11SharingPlatforms\":0,\"luidExtDevices\":0}\n",
      0);
}

}  // namespace

BindOutcome bindOpenClRuntime(const ModuleApi& modules, OpenClRuntime& runtime,
                              std::vector<cl_platform_id>& platforms) {
  runtime.module = modules.load(kOpenClLibraryName);
  if (runtime.module == nullptr) {
    printJsonError("opencl_dll_missing", "OpenCL.dll not found");
    return BindOutcome::errorPrinted;
  }

  // All five are looked up before any result is judged.
  runtime.getPlatformIDs = resolve<ClGetPlatformIDs>(modules, runtime.module, "clGetPlatformIDs");
  runtime.getPlatformInfo =
      resolve<ClGetPlatformInfo>(modules, runtime.module, "clGetPlatformInfo");
  runtime.getDeviceIDs = resolve<ClGetDeviceIDs>(modules, runtime.module, "clGetDeviceIDs");
  runtime.getDeviceInfo = resolve<ClGetDeviceInfo>(modules, runtime.module, "clGetDeviceInfo");
  runtime.getExtensionFunctionAddressForPlatform =
      resolve<ClGetExtensionFunctionAddressForPlatform>(
          modules, runtime.module, "clGetExtensionFunctionAddressForPlatform");
  if (runtime.getPlatformIDs == nullptr || runtime.getPlatformInfo == nullptr ||
      runtime.getDeviceIDs == nullptr || runtime.getDeviceInfo == nullptr) {
    printJsonError("opencl_symbols_missing", "OpenCL.dll is missing required exports");
    return BindOutcome::errorPrinted;
  }

  // The first call loads the installed drivers (ICDs), which may install crash handlers.
  cl_uint count = 0;
  const cl_int countResult = runtime.getPlatformIDs(0, nullptr, &count);
  reclaimCrashHandlers();
  if (countResult == kClPlatformNotFoundKhr || count == 0) {
    printNoPlatforms();
    return BindOutcome::noPlatformsPrinted;
  }
  if (countResult != CL_SUCCESS) {
    printJsonError("opencl_platform_enum_failed",
                   formatMessage("clGetPlatformIDs failed: %d", countResult).text);
    return BindOutcome::errorPrinted;
  }

  if (!tryAssign(platforms, count, cl_platform_id{nullptr})) {
    printJsonError("opencl_platform_enum_failed",
                   formatMessage("clGetPlatformIDs failed: %d", CL_OUT_OF_HOST_MEMORY).text);
    return BindOutcome::errorPrinted;
  }
  const cl_int listResult = runtime.getPlatformIDs(count, platforms.data(), nullptr);
  reclaimCrashHandlers();
  if (listResult != CL_SUCCESS) {
    printJsonError("opencl_platform_enum_failed",
                   formatMessage("clGetPlatformIDs (2nd call) failed: %d", listResult).text);
    return BindOutcome::errorPrinted;
  }
  return BindOutcome::ready;
}
