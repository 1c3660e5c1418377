// Benchmark baseline: the COM, DXGI and OpenCL calls brindle makes on its way to a
// no-match answer, and nothing else. Arguments: the LUID low and high parts.

#include <windows.h>
#include <dxgi1_4.h>

#include <CL/cl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

using GetPlatformIDs = cl_int(CL_API_CALL*)(cl_uint, cl_platform_id*, cl_uint*);
using GetPlatformInfo = cl_int(CL_API_CALL*)(cl_platform_id, cl_platform_info, size_t, void*, size_t*);
using GetDeviceIDs = cl_int(CL_API_CALL*)(cl_platform_id, cl_device_type, cl_uint, cl_device_id*, cl_uint*);
using GetDeviceInfo = cl_int(CL_API_CALL*)(cl_device_id, cl_device_info, size_t, void*, size_t*);

template <typename F>
F symbol(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IDXGIFactory4* factory = nullptr;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory4), reinterpret_cast<void**>(&factory)))) {
    return 1;
  }
  LUID luid;
  luid.LowPart = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  luid.HighPart = static_cast<LONG>(std::strtol(argv[2], nullptr, 10));
  IDXGIAdapter* adapter = nullptr;
  if (FAILED(factory->EnumAdapterByLuid(luid, __uuidof(IDXGIAdapter),
                                        reinterpret_cast<void**>(&adapter)))) {
    return 1;
  }
  HMODULE cl = LoadLibraryExW(L"OpenCL.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (cl == nullptr) return 1;
  const auto getPlatformIDs = symbol<GetPlatformIDs>(cl, "clGetPlatformIDs");
  const auto getPlatformInfo = symbol<GetPlatformInfo>(cl, "clGetPlatformInfo");
  const auto getDeviceIDs = symbol<GetDeviceIDs>(cl, "clGetDeviceIDs");
  const auto getDeviceInfo = symbol<GetDeviceInfo>(cl, "clGetDeviceInfo");
  (void)GetProcAddress(cl, "clGetExtensionFunctionAddressForPlatform");
  cl_uint platformCount = 0;
  getPlatformIDs(0, nullptr, &platformCount);
  std::vector<cl_platform_id> platforms(platformCount);
  getPlatformIDs(platformCount, platforms.data(), nullptr);
  for (cl_platform_id platform : platforms) {
    for (cl_platform_info param : {CL_PLATFORM_NAME, CL_PLATFORM_EXTENSIONS, CL_PLATFORM_NAME}) {
      size_t size = 0;
      getPlatformInfo(platform, param, 0, nullptr, &size);
      std::vector<char> text(size);
      getPlatformInfo(platform, param, size, text.data(), nullptr);
    }
    cl_uint deviceCount = 0;
    getDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 0, nullptr, &deviceCount);
    std::vector<cl_device_id> devices(deviceCount);
    getDeviceIDs(platform, CL_DEVICE_TYPE_ALL, deviceCount, devices.data(), nullptr);
    for (cl_device_id device : devices) {
      cl_device_type type = 0;
      getDeviceInfo(device, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
    }
  }
  FreeLibrary(cl);
  adapter->Release();
  factory->Release();
  CoUninitialize();
  std::printf("%u\n", platformCount);
  return 0;
}
