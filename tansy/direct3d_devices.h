#pragma once
// A Direct3D 11 and a Direct3D 12 device on one adapter: created, asked what they can run, and
// released again before the next adapter. A creation or query that fails empties only its own
// fields.

#include "capabilities.h"
#include "tansy_platform.h"

D3d11Capabilities examineD3d11(const TansyPlatform& platform, void* adapter);
D3d12Capabilities examineD3d12(const TansyPlatform& platform, void* adapter);
// D3D12CreateDevice on a compute-only adapter: at the core compute level, then at the generic
// one.
ComputeDevice examineComputeDevice(const TansyPlatform& platform, void* adapter);
