#include "sorrel_run.h"

#include <string>
#include <vector>

#include "adapter_state.h"
#include "dxgi_adapters.h"
#include "json_output.h"
#include "memory_counters.h"
#include "output_guard.h"
#include "pci_locations.h"
#include "sorrel_document.h"

const char errorFormat[] = "{\"schema\":1,\"error\":{\"code\":\"%s\",\"message\":\"%s\"}}\n";

int runSorrel(const SorrelPlatform& platform) {
  setBinaryStdout();
  if (!guardStdout(platform.process)) return endRun();  // chatter would reach the document
  guardCrashes(platform.process);  // a crash or an abort before the document becomes one
  guardExits(platform.process);    // so does an exit that the run did not make

  enterPlatformPart(kPartDxgi);
  void* factory = nullptr;
  const HResult created = platform.dxgi.createFactory(&factory);
  if (hresultFailed(created) || factory == nullptr) {
    printJsonError("dxgi_failed", formatMessage("CreateDXGIFactory1 failed: 0x%08X",
                                                static_cast<unsigned>(created))
                                      .text);
    return endRun();
  }
  // From here on nothing fails the run: a query that fails leaves its own fields empty.
  void* factory6 = nullptr;
  if (hresultFailed(platform.dxgi.queryFactory6(factory, &factory6))) factory6 = nullptr;

  std::vector<AdapterState> adapters = listAdapters(platform.dxgi, factory);
  rankAdapters(platform.dxgi, factory6, adapters);
  if (factory6 != nullptr) platform.dxgi.release(factory6);
  platform.dxgi.release(factory);

  enterPlatformPart(kPartSetupApi);
  locateAdapters(platform.devices, adapters);

  enterPlatformPart(kPartCounters);
  readMemoryUsage(platform.counters, adapters);

  emitDocument(adapterDocument(adapters), 0);
  return endRun();
}
