#pragma once
// First match: each platform with cl_khr_d3d11_sharing names the devices of the DXGI
// adapter object itself.

#include <vector>

#include "match_document.h"
#include "opencl_runtime.h"

// cl_khr_d3d11_sharing's names for clGetDeviceIDsFromD3D11KHR.
using ClGetDeviceIDsFromD3D11Khr = cl_int(CL_API_CALL*)(cl_platform_id, cl_uint deviceSource,
                                                        void* d3dObject, cl_uint deviceSet,
                                                        cl_uint numEntries, cl_device_id* devices,
                                                        cl_uint* numDevices);
constexpr cl_uint kClD3D11DxgiAdapterKhr = 0x401A;
constexpr cl_uint kClPreferredDevicesForD3D11Khr = 0x401B;
constexpr cl_uint kClAllDevicesForD3D11Khr = 0x401C;

// The device set asked for. The preferred set holds the devices that drive the adapter
// itself; the all-devices set may add devices of other adapters that can only share
// through copies, and those would name the wrong device for this adapter.
constexpr cl_uint kD3D11DeviceSet = kClPreferredDevicesForD3D11Khr;

// Prints the match document and returns true for the first platform that yields a
// device for the adapter; prints nothing and returns false otherwise.
bool matchByD3D11Sharing(void* adapter, const std::vector<cl_platform_id>& platforms,
                         const OpenClRuntime& runtime, MatchCounters& counters);
