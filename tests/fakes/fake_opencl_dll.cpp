// A test-only OpenCL.dll. FAKE_OPENCL_SCENARIO picks the platforms and devices it reports;
// FAKE_OPENCL_LUID ("low:high") is the adapter LUID that the scenarios refer to. The
// sharing function accepts only the real DXGI adapter of that LUID: it reads the LUID
// back through IDXGIAdapter::GetDesc. FAKE_OPENCL_CHATTER ("printf", "writefile") makes it
// write to standard output when loaded, in calls and when unloaded; FAKE_OPENCL_CRASH
// ("load", "call" for clGetPlatformIDs, "unload", "end" for the detach at the process's end,
// each with an optional ":<how>", as in misbehaviour.h) makes it crash, abort or end the process then; FAKE_OPENCL_FOREIGN ("pass",
// "exit", "ignore") makes it install crash handlers of its own when loaded.

#include <windows.h>
#include <dxgi.h>

#include <CL/cl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_opencl.h"
#include "misbehaviour.h"

namespace {

using fake_opencl::Device;
using fake_opencl::Platform;

struct Luid {
  std::uint32_t low = 0;
  std::int32_t high = 0;
};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

Luid expectedLuid() {
  Luid luid;
  const std::string text = environment("FAKE_OPENCL_LUID");
  unsigned long low = 0;
  long high = 0;
  if (std::sscanf(text.c_str(), "%lu:%ld", &low, &high) == 2) {
    luid.low = static_cast<std::uint32_t>(low);
    luid.high = static_cast<std::int32_t>(high);
  }
  return luid;
}

bool isTheExpectedAdapter(void* object) {
  if (object == nullptr) return false;
  IDXGIAdapter* adapter = nullptr;
  if (FAILED(static_cast<IUnknown*>(object)->QueryInterface(__uuidof(IDXGIAdapter),
                                                            reinterpret_cast<void**>(&adapter)))) {
    return false;
  }
  DXGI_ADAPTER_DESC desc{};
  const HRESULT hr = adapter->GetDesc(&desc);
  adapter->Release();
  const Luid luid = expectedLuid();
  return SUCCEEDED(hr) && desc.AdapterLuid.LowPart == luid.low &&
         desc.AdapterLuid.HighPart == luid.high;
}

Device device(const char* name, cl_device_type type) {
  Device d;
  d.name = name;
  d.type = type;
  d.extensions = "cl_khr_icd cl_khr_device_uuid";
  d.luidValid = true;
  d.luid = fake_opencl::luidBytes(0xDEAD, 7);  // no adapter of the scenario
  return d;
}

Device deviceWithLuid(const char* name, cl_device_type type, Luid luid) {
  Device d = device(name, type);
  d.luid = fake_opencl::luidBytes(luid.low, luid.high);
  return d;
}

void buildScenario() {
  fake_opencl::reset();
  fake_opencl::Runtime& r = fake_opencl::runtime();
  r.acceptAdapter = isTheExpectedAdapter;
  const std::string scenario = environment("FAKE_OPENCL_SCENARIO");
  const Luid luid = expectedLuid();
  if (scenario == "count_error") {
    r.platformCountResult = CL_INVALID_VALUE;
    r.overridePlatformCount = true;
    r.platformCount = 2;
  } else if (scenario == "absurd_count") {
    r.overridePlatformCount = true;
    r.platformCount = 0xFFFFFFFFu;
  } else if (scenario == "absurd_sizes") {
    Platform p;
    p.name = "Absurd CL";
    p.extensions = "cl_khr_d3d11_sharing";
    p.absurdNameSize = true;
    p.absurdDeviceCount = 0xFFFFFFFFu;
    p.d3d11Devices = {device("GPU", CL_DEVICE_TYPE_GPU)};
    p.devices = p.d3d11Devices;
    r.platforms.push_back(p);
  } else if (scenario == "list_error") {
    r.platforms.push_back(Platform{});
    r.platformListResult = CL_OUT_OF_RESOURCES;
  } else if (scenario == "sharing") {
    // Both matches could find the adapter; the sharing match must win.
    Platform p;
    p.name = "Fake Sharing CL";
    p.extensions = "cl_khr_icd cl_khr_d3d11_sharing";
    p.d3d11Devices = {device("Fake CPU", CL_DEVICE_TYPE_CPU),
                      deviceWithLuid("Fake \"Shared\" GPU", CL_DEVICE_TYPE_GPU, luid)};
    p.devices = p.d3d11Devices;
    r.platforms.push_back(p);
  } else if (scenario == "luid") {
    Platform other;
    other.name = "Fake Other CL";
    other.devices = {device("Other GPU", CL_DEVICE_TYPE_GPU)};
    Platform p;
    p.name = "Fake LUID CL";
    p.extensions = "cl_khr_icd";
    p.devices = {device("Fake CPU", CL_DEVICE_TYPE_CPU),
                 deviceWithLuid("Fake LUID GPU", CL_DEVICE_TYPE_GPU, luid)};
    r.platforms = {other, p};
  } else if (scenario == "no_match") {
    Platform sharing;
    sharing.name = "Fake Sharing CL";
    sharing.extensions = "cl_khr_d3d11_sharing";
    sharing.offersD3D11Function = false;
    sharing.devices = {device("GPU A", CL_DEVICE_TYPE_GPU), device("GPU B", CL_DEVICE_TYPE_GPU)};
    Platform plain;
    plain.name = "Fake Plain CL";
    plain.devices = {device("CPU C", CL_DEVICE_TYPE_CPU), device("GPU C", CL_DEVICE_TYPE_GPU)};
    r.platforms = {sharing, plain};
  }
  // Any other scenario: no platforms.
}

fake_opencl::Runtime& model() {
  static const bool built = (buildScenario(), true);
  (void)built;
  return fake_opencl::runtime();
}

}  // namespace

extern "C" {

CL_API_ENTRY cl_int CL_API_CALL clGetPlatformIDs(cl_uint numEntries, cl_platform_id* platforms,
                                                 cl_uint* numPlatforms) {
  chatter("FAKE_OPENCL_CHATTER", "in clGetPlatformIDs");
  misbehaveAt("FAKE_OPENCL_CRASH", "call");
  model();
  return fake_opencl::getPlatformIDs(numEntries, platforms, numPlatforms);
}

CL_API_ENTRY cl_int CL_API_CALL clGetPlatformInfo(cl_platform_id platform,
                                                  cl_platform_info param, size_t size,
                                                  void* value, size_t* sizeRet) {
  model();
  return fake_opencl::getPlatformInfo(platform, param, size, value, sizeRet);
}

CL_API_ENTRY cl_int CL_API_CALL clGetDeviceIDs(cl_platform_id platform, cl_device_type type,
                                               cl_uint numEntries, cl_device_id* devices,
                                               cl_uint* numDevices) {
  chatter("FAKE_OPENCL_CHATTER", "in clGetDeviceIDs");
  model();
  return fake_opencl::getDeviceIDs(platform, type, numEntries, devices, numDevices);
}

CL_API_ENTRY cl_int CL_API_CALL clGetDeviceInfo(cl_device_id device, cl_device_info param,
                                                size_t size, void* value, size_t* sizeRet) {
  model();
  return fake_opencl::getDeviceInfo(device, param, size, value, sizeRet);
}

CL_API_ENTRY void* CL_API_CALL clGetExtensionFunctionAddressForPlatform(cl_platform_id platform,
                                                                        const char* name) {
  model();
  return fake_opencl::getExtensionFunctionAddressForPlatform(platform, name);
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  const MisbehaviourVariables variables{"FAKE_OPENCL_CHATTER", "FAKE_OPENCL_CRASH",
                                        "FAKE_OPENCL_FOREIGN"};
  if (reason == DLL_PROCESS_ATTACH) misbehaveOnAttach(variables, instance);
  if (reason == DLL_PROCESS_DETACH) misbehaveOnDetach(variables, reserved);
  return TRUE;
}
