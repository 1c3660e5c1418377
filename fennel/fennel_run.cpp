#include "fennel_run.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "adapter_record.h"
#include "dxcore_probe.h"
#include "json_output.h"
#include "output_guard.h"

const char errorFormat[] = "{\"schema\":1,\"error\":{\"code\":\"%s\",\"message\":\"%s\"}}\n";

namespace {

// IDXGIFactory4 first, IDXGIFactory1 as the fallback; only the second result is reported.
HResult createFactory(const FennelPlatform& platform, void** factory) {
  HResult result = platform.dxgi.createFactory(FactoryInterface::factory4, factory);
  if (!hresultFailed(result) && *factory != nullptr) return result;
  *factory = nullptr;
  result = platform.dxgi.createFactory(FactoryInterface::factory1, factory);
  if (hresultFailed(result)) *factory = nullptr;
  return result;
}

bool decideIntegrated(const FennelPlatform& platform, const DxcoreProbe& probe,
                      const AdapterDescription& desc) {
  if (probe.available) {
    enterPlatformPart(kPartDxcore);
    const IntegratedAnswer answer =
        queryIsIntegrated(platform, probe, desc.luidLowPart, desc.luidHighPart);
    enterPlatformPart(kPartDxgi);
    switch (answer) {
      case IntegratedAnswer::yes: return true;
      case IntegratedAnswer::no: return false;
      case IntegratedAnswer::undecided: break;
    }
  }
  return desc.dedicatedVideoMemory < kIntegratedMemoryLimit;
}

std::u16string descriptionText(const AdapterDescription& desc) {
  std::size_t length = 0;
  constexpr std::size_t kCapacity = sizeof desc.description / sizeof desc.description[0];
  while (length < kCapacity && desc.description[length] != u'\0') ++length;
  return std::u16string(desc.description, length);
}

// False when the list cannot grow: the enumeration ends there, as on any other failure.
bool appendRecord(std::vector<AdapterRecord>& records, const AdapterDescription& desc,
                  bool isIntegratedGpu) noexcept {
  try {
    AdapterRecord record;
    record.index = static_cast<std::int32_t>(records.size());
    record.name = descriptionText(desc);
    record.vendorId = desc.vendorId;
    record.deviceId = desc.deviceId;
    record.dedicatedVideoMemory = desc.dedicatedVideoMemory;
    record.luidLowPart = desc.luidLowPart;
    record.luidHighPart = desc.luidHighPart;
    record.isIntegratedGpu = isIntegratedGpu;
    records.push_back(std::move(record));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Hardware adapters in DXGI's order. The walk ends at DXGI_ERROR_NOT_FOUND and also at
// any other failure, which would otherwise repeat for every later ordinal.
std::vector<AdapterRecord> listAdapters(const FennelPlatform& platform, void* factory,
                                        const DxcoreProbe& probe) {
  std::vector<AdapterRecord> records;
  for (std::uint32_t ordinal = 0;; ++ordinal) {
    void* adapter = nullptr;
    const HResult found = platform.dxgi.enumAdapters1(factory, ordinal, &adapter);
    if (found == kDxgiErrorNotFound || hresultFailed(found)) break;
    if (adapter == nullptr) break;

    AdapterDescription desc{};
    const HResult described = platform.dxgi.getDesc1(adapter, &desc);
    bool listed = true;
    if (!hresultFailed(described) && (desc.flags & kAdapterFlagSoftware) == 0) {
      listed = appendRecord(records, desc, decideIntegrated(platform, probe, desc));
    }
    platform.com.release(adapter);
    if (!listed) break;
  }
  return records;
}

void printAdapterDocument(const FennelPlatform& platform, bool dxcoreAvailable,
                          const std::vector<AdapterRecord>& records) {
  std::string document;
  appendFormatted(document, "{\"schema\":1,\"dxcoreAvailable\":%s,\"adapters\":[",
                  jsonBool(dxcoreAvailable));
  for (const AdapterRecord& r : records) {
    if (r.index > 0) document += ",";
    appendFormatted(
        document,
        "{\"index\":%d,\"name\":\"%s\",\"vendorId\":%u,\"deviceId\":%u,"
        "\"dedicatedVideoMemory\":%llu,\"luidLowPart\":%u,\"luidHighPart\":%d,"
        "\"isIntegratedGpu\":%s}",
        static_cast<int>(r.index), jsonEscape(toUtf8(platform, r.name)).c_str(),
        static_cast<unsigned>(r.vendorId), static_cast<unsigned>(r.deviceId),
        static_cast<unsigned long long>(r.dedicatedVideoMemory),
        static_cast<unsigned>(r.luidLowPart), static_cast<int>(r.luidHighPart),
        jsonBool(r.isIntegratedGpu));
  }
  document += "]}\n";
  emitDocument(document, 0);
}

}  // namespace

int runFennel(const FennelPlatform& platform) {
  setBinaryStdout();
  if (!guardStdout(platform.process)) return endRun();  // chatter would reach the document
  guardCrashes(platform.process);  // a crash or an abort before the document becomes one
  guardExits(platform.process);    // so does an exit that the run did not make

  enterPlatformPart(kPartDxgi);
  if (hresultFailed(platform.com.initialize())) {
    printJsonError("com_init_failed", "CoInitializeEx failed");
    return endRun();
  }

  void* factory = nullptr;
  const HResult factoryResult = createFactory(platform, &factory);
  if (factory == nullptr) {
    printJsonError("dxgi_failed",
                   formatMessage("CreateDXGIFactory1 failed: 0x%08X",
                                 static_cast<unsigned>(factoryResult))
                       .text);
    platform.com.uninitialize();
    return endRun();
  }

  // DXCore outlives DXGI, COM and the printing; it goes last, also on an exception.
  enterPlatformPart(kPartDxcore);
  DxcoreProbe probe = createDxcoreProbe(platform);
  enterPlatformPart(kPartDxgi);
  const auto destroyProbe = [&platform](DxcoreProbe* p) { destroyDxcoreProbe(platform, *p); };
  std::unique_ptr<DxcoreProbe, decltype(destroyProbe)> probeGuard(&probe, destroyProbe);

  std::vector<AdapterRecord> records = listAdapters(platform, factory, probe);
  platform.com.release(factory);
  platform.com.uninitialize();

  printAdapterDocument(platform, probe.available, records);
  std::vector<AdapterRecord>().swap(records);
  probeGuard.reset();
  return endRun();
}
