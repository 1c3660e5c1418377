#pragma once
// The compute-only adapters (NPUs, compute accelerators) that DXGI never lists: DXCore's
// adapters with core compute, generic ML or the NPU hardware type, without Direct3D 12
// graphics.

#include <vector>

#include "capabilities.h"
#include "tansy_platform.h"

// Each adapter once (by LUID), in the order first found. withD3d12: System32 has d3d12.dll
// and its D3D12CreateDevice.
std::vector<ComputeAdapter> listComputeAdapters(const TansyPlatform& platform, void* factory,
                                                bool withD3d12, const LuidFilter& filter);
