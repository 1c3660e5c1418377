#include "dxcore_probe.h"

#include "checked_alloc.h"

const wchar_t kDxcoreLibraryName[] = L"dxcore.dll";

DxcoreProbe createDxcoreProbe(const FennelPlatform& platform) {
  DxcoreProbe probe;
  probe.module = platform.modules.load(kDxcoreLibraryName);
  if (probe.module == nullptr) return probe;

  const ProcAddress entryPoint = platform.modules.symbol(probe.module, "DXCoreCreateAdapterFactory");
  if (entryPoint != nullptr) {
    const HResult result = platform.dxcore.createAdapterFactory(entryPoint, &probe.factory);
    if (!hresultFailed(result) && probe.factory != nullptr) {
      probe.available = true;
      return probe;
    }
  }
  // A failed creation owns no factory, whatever it left in the out pointer.
  probe.factory = nullptr;
  platform.modules.unload(probe.module);
  probe.module = nullptr;
  return probe;
}

void destroyDxcoreProbe(const FennelPlatform& platform, DxcoreProbe& probe) {
  if (probe.factory != nullptr) platform.com.release(probe.factory);
  if (probe.module != nullptr) platform.modules.unload(probe.module);
  probe = DxcoreProbe{};
}

IntegratedAnswer queryIsIntegrated(const FennelPlatform& platform, const DxcoreProbe& probe,
                                   std::uint32_t luidLowPart, std::int32_t luidHighPart) {
  void* adapter = nullptr;
  const HResult lookup =
      platform.dxcore.getAdapterByLuid(probe.factory, luidLowPart, luidHighPart, &adapter);
  if (hresultFailed(lookup) || adapter == nullptr) return IntegratedAnswer::undecided;

  IntegratedAnswer answer = IntegratedAnswer::undecided;
  if (platform.dxcore.isPropertySupported(adapter, kDxcorePropertyIsIntegrated)) {
    unsigned char isIntegrated = 0;
    if (!hresultFailed(platform.dxcore.getProperty(adapter, kDxcorePropertyIsIntegrated,
                                                   sizeof isIntegrated, &isIntegrated))) {
      answer = isIntegrated != 0 ? IntegratedAnswer::yes : IntegratedAnswer::no;
    }
  }
  platform.com.release(adapter);
  return answer;
}

std::string toUtf8(const FennelPlatform& platform, const std::u16string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed = platform.text.wideToUtf8(text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::string bytes;
  if (!tryAssign(bytes, static_cast<std::size_t>(needed), '\0')) return {};
  // Only what the second call says it wrote; a failed call (0) gives the empty name.
  const int written = platform.text.wideToUtf8(text.data(), length, &bytes[0], needed);
  if (written <= 0) return {};
  if (written < needed) bytes.resize(static_cast<std::size_t>(written));
  return bytes;
}
