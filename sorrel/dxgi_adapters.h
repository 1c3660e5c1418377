#pragma once

#include <vector>

#include "adapter_state.h"
#include "sorrel_platform.h"

// The hardware adapters in EnumAdapters1's order, each with what DXGI says of it: memory,
// outputs, budgets and driver version. The walk ends at DXGI_ERROR_NOT_FOUND and at any other
// failure; a query about one adapter that fails leaves only its own fields empty.
std::vector<AdapterState> listAdapters(const DxgiApi& dxgi, void* factory);

// Each adapter's position, by LUID, in the order IDXGIFactory6 gives for each preference.
void rankAdapters(const DxgiApi& dxgi, void* factory6, std::vector<AdapterState>& adapters);
