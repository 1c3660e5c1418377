#pragma once
// tansy's document: one line, the DXGI adapters and then the compute-only ones.

#include <cstdint>
#include <string>
#include <vector>

#include "capabilities.h"

// "9_1" ... "12_2"; another D3D_FEATURE_LEVEL as its number in decimal.
std::string featureLevelName(std::uint32_t level);

std::string tansyDocument(bool dxcoreAvailable, const std::vector<AdapterCapabilities>& adapters,
                          const std::vector<ComputeAdapter>& computeAdapters);
