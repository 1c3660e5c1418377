#include "dxgi_adapters.h"

#include "direct3d_devices.h"
#include "output_guard.h"

namespace {

AdapterCapabilities examine(const TansyPlatform& platform, void* adapter, std::uint32_t ordinal,
                            const AdapterIdentity& identity, const Direct3dRuntimes& runtimes) {
  AdapterCapabilities capabilities;
  capabilities.luidLowPart = identity.luidLowPart;
  capabilities.luidHighPart = identity.luidHighPart;
  capabilities.dxgiOrdinal = ordinal;
  capabilities.software = (identity.flags & kAdapterFlagSoftware) != 0;
  if (runtimes.d3d11) capabilities.d3d11 = examineD3d11(platform, adapter);
  if (runtimes.d3d12) capabilities.d3d12 = examineD3d12(platform, adapter);
  enterPlatformPart(kPartDxgi);
  return capabilities;
}

}  // namespace

std::vector<AdapterCapabilities> examineDxgiAdapters(const TansyPlatform& platform, void* factory,
                                                     const Direct3dRuntimes& runtimes,
                                                     const LuidFilter& filter) {
  std::vector<AdapterCapabilities> adapters;
  for (std::uint32_t ordinal = 0; ordinal < kWalkLimit; ++ordinal) {
    void* adapter = nullptr;
    // DXGI_ERROR_NOT_FOUND past the last adapter; any other failure ends the walk as well.
    if (hresultFailed(platform.dxgi.enumAdapters1(factory, ordinal, &adapter)) ||
        adapter == nullptr) {
      break;
    }
    AdapterIdentity identity{};
    // An adapter without a LUID cannot be told apart from the others: it is passed over.
    if (!hresultFailed(platform.dxgi.getDesc1(adapter, &identity)) &&
        filter.admits(identity.luidLowPart, identity.luidHighPart)) {
      adapters.push_back(examine(platform, adapter, ordinal, identity, runtimes));
    }
    platform.release(adapter);
  }
  return adapters;
}
