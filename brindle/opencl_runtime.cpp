#include "opencl_runtime.h"

#include "checked_alloc.h"
#include "json_output.h"
#include "output_guard.h"
#include "reclaiming.h"

const wchar_t kOpenClLibraryName[] = L"OpenCL.dll";

namespace {

// The entry point, called through a function that puts the probe's crash handlers back after
// each call: the runtime loads drivers on its first calls, and any call may run code that
// installs handlers of its own.
template <auto Slot, typename Function>
Function resolve(const ModuleApi& modules, void* module, const char* name) {
  return reclaimingPointer<Slot>(reinterpret_cast<Function>(modules.symbol(module, name)));
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
  runtime.getPlatformIDs = resolve<&OpenClRuntime::getPlatformIDs, ClGetPlatformIDs>(
      modules, runtime.module, "clGetPlatformIDs");
  runtime.getPlatformInfo = resolve<&OpenClRuntime::getPlatformInfo, ClGetPlatformInfo>(
      modules, runtime.module, "clGetPlatformInfo");
  runtime.getDeviceIDs = resolve<&OpenClRuntime::getDeviceIDs, ClGetDeviceIDs>(
      modules, runtime.module, "clGetDeviceIDs");
  runtime.getDeviceInfo = resolve<&OpenClRuntime::getDeviceInfo, ClGetDeviceInfo>(
      modules, runtime.module, "clGetDeviceInfo");
  runtime.getExtensionFunctionAddressForPlatform =
      resolve<&OpenClRuntime::getExtensionFunctionAddressForPlatform,
              ClGetExtensionFunctionAddressForPlatform>(
          modules, runtime.module, "clGetExtensionFunctionAddressForPlatform");
  if (runtime.getPlatformIDs == nullptr || runtime.getPlatformInfo == nullptr ||
      runtime.getDeviceIDs == nullptr || runtime.getDeviceInfo == nullptr) {
    printJsonError("opencl_symbols_missing", "OpenCL.dll is missing required exports");
    return BindOutcome::errorPrinted;
  }

  // The first call loads the installed drivers (ICDs).
  cl_uint count = 0;
  const cl_int countResult = runtime.getPlatformIDs(0, nullptr, &count);
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
  if (listResult != CL_SUCCESS) {
    printJsonError("opencl_platform_enum_failed",
                   formatMessage("clGetPlatformIDs (2nd call) failed: %d", listResult).text);
    return BindOutcome::errorPrinted;
  }
  return BindOutcome::ready;
}
