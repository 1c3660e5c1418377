#include "direct3d_devices.h"

#include <iterator>

#include "output_guard.h"

namespace {

// Highest first; runtimes that predate a level refuse the whole list with E_INVALIDARG, so the
// list is shortened from the front: without 12_1 and 12_0, then without 11_1 as well.
constexpr std::uint32_t kD3d11Levels[] = {kLevel12_1, kLevel12_0, kLevel11_1,
                                          kLevel11_0, kLevel10_1, kLevel10_0,
                                          kLevel9_3,  kLevel9_2,  kLevel9_1};
constexpr std::uint32_t kD3d11Skips[] = {0, 2, 3};

// Lowest first; a runtime that predates 12_2 refuses the list with E_INVALIDARG.
constexpr std::uint32_t kD3d12Levels[] = {kLevel11_0, kLevel11_1, kLevel12_0, kLevel12_1,
                                          kLevel12_2};

// Shader models from 6.9 down to 6.0, then 5.1: a runtime refuses a model newer than itself.
constexpr std::uint32_t kHighestShaderModel = 0x69;
constexpr std::uint32_t kLowestShaderModel = 0x51;

std::uint32_t nextLowerShaderModel(std::uint32_t model) {
  return model == 0x60 ? kLowestShaderModel : model - 1;
}

std::optional<std::uint32_t> featureLevel(const D3d12Api& d3d12, void* device) {
  std::uint32_t highest = 0;
  HResult result = d3d12.featureLevels(device, kD3d12Levels, std::size(kD3d12Levels), &highest);
  if (result == kInvalidArgument) {
    result = d3d12.featureLevels(device, kD3d12Levels, std::size(kD3d12Levels) - 1, &highest);
  }
  if (hresultFailed(result)) return std::nullopt;
  return highest;
}

// An answer is one of the models asked about, and no newer than the one asked for: anything
// else is a runtime's mistake, and no model a program could rely on.
bool isModelUpTo(std::uint32_t model, std::uint32_t requested) {
  return model <= requested && (model == kLowestShaderModel || (model >= 0x60 && model <= 0x69));
}

std::optional<std::uint32_t> shaderModel(const D3d12Api& d3d12, void* device) {
  for (std::uint32_t model = kHighestShaderModel;; model = nextLowerShaderModel(model)) {
    std::uint32_t highest = 0;
    const HResult result = d3d12.shaderModel(device, model, &highest);
    if (!hresultFailed(result)) {
      return isModelUpTo(highest, model) ? std::optional<std::uint32_t>(highest) : std::nullopt;
    }
    if (result != kInvalidArgument || model == kLowestShaderModel) return std::nullopt;
  }
}

template <typename Value>
std::optional<Value> answer(HResult (*query)(void*, Value*), void* device) {
  Value value{};
  if (hresultFailed(query(device, &value))) return std::nullopt;
  return value;
}

void readArchitecture(const D3d12Api& d3d12, void* device, D3d12Capabilities& capabilities) {
  bool uma = false;
  bool cacheCoherentUma = false;
  if (hresultFailed(d3d12.architecture1(device, &uma, &cacheCoherentUma)) &&
      hresultFailed(d3d12.architecture(device, &uma, &cacheCoherentUma))) {
    return;
  }
  capabilities.uma = uma;
  capabilities.cacheCoherentUma = cacheCoherentUma;
}

}  // namespace

D3d11Capabilities examineD3d11(const TansyPlatform& platform, void* adapter) {
  enterPlatformPart(kPartDirect3D11);
  D3d11Capabilities capabilities;
  for (const std::uint32_t skip : kD3d11Skips) {
    void* device = nullptr;
    std::uint32_t level = 0;
    capabilities.result =
        platform.d3d11.createDevice(adapter, kD3d11Levels + skip,
                                    static_cast<std::uint32_t>(std::size(kD3d11Levels) - skip),
                                    &device, &level);
    if (hresultFailed(capabilities.result)) {
      if (capabilities.result == kInvalidArgument) continue;
      break;  // a failed call owns nothing, whatever it left in the out pointer
    }
    if (device != nullptr) {
      capabilities.featureLevel = level;
      platform.release(device);
    }
    break;
  }
  return capabilities;
}

D3d12Capabilities examineD3d12(const TansyPlatform& platform, void* adapter) {
  enterPlatformPart(kPartDirect3D12);
  D3d12Capabilities capabilities;
  void* device = nullptr;
  capabilities.result = platform.d3d12.createDevice(adapter, kLevel11_0, &device);
  if (hresultFailed(capabilities.result) || device == nullptr) return capabilities;
  const D3d12Api& d3d12 = platform.d3d12;
  capabilities.featureLevel = featureLevel(d3d12, device);
  capabilities.shaderModel = shaderModel(d3d12, device);
  capabilities.resourceBindingTier = answer(d3d12.resourceBindingTier, device);
  readArchitecture(d3d12, device, capabilities);
  capabilities.native16BitShaderOps = answer(d3d12.native16BitShaderOps, device);
  capabilities.waveOps = answer(d3d12.waveOps, device);
  platform.release(device);
  return capabilities;
}

ComputeDevice examineComputeDevice(const TansyPlatform& platform, void* adapter) {
  enterPlatformPart(kPartDirect3D12);
  ComputeDevice compute;
  for (const std::uint32_t level : {kLevel1_0Core, kLevel1_0Generic}) {
    void* device = nullptr;
    compute.result = platform.d3d12.createDevice(adapter, level, &device);
    if (!hresultFailed(compute.result) && device != nullptr) {
      compute.featureLevel = level;
      platform.release(device);
      break;
    }
  }
  return compute;
}
