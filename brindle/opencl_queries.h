#pragma once
// Small OpenCL property reads shared by both matches. Every failure reads as an empty
// string or false; nothing is reported.

#include <string>

#include "opencl_runtime.h"

// A string property, size first, then data; up to the first zero byte, never past the
// size the runtime reported.
std::string queryInfoString(ClGetPlatformInfo getInfo, cl_platform_id platform,
                            cl_platform_info parameter);
std::string queryInfoString(ClGetDeviceInfo getInfo, cl_device_id device,
                            cl_device_info parameter);

// True when the device's type has the GPU bit, whatever other bits are set.
bool isGpuDevice(const OpenClRuntime& runtime, cl_device_id device);

// Case-insensitive substring search of an extension name in an extension list.
bool hasExtension(const std::string& extensionList, const char* name);
