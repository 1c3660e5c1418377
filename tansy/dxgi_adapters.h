#pragma once
// Every adapter of EnumAdapters1, software ones included, in DXGI's order: what a Direct3D 11
// and a Direct3D 12 device on it can run.

#include <vector>

#include "capabilities.h"
#include "tansy_platform.h"

// Which runtimes System32 has: a missing one gives no field for any adapter.
struct Direct3dRuntimes {
  bool d3d11 = false;
  bool d3d12 = false;
  bool dxcore = false;
};

std::vector<AdapterCapabilities> examineDxgiAdapters(const TansyPlatform& platform, void* factory,
                                                     const Direct3dRuntimes& runtimes,
                                                     const LuidFilter& filter);
