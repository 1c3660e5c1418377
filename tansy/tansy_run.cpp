#include "tansy_run.h"

#include <vector>

#include "command_line.h"
#include "compute_adapters.h"
#include "dxgi_adapters.h"
#include "json_output.h"
#include "output_guard.h"
#include "tansy_document.h"

const char errorFormat[] = "{\"schema\":1,\"error\":{\"code\":\"%s\",\"message\":\"%s\"}}\n";

namespace {

void printUsage() {
  emitDocument(
      "{\"schema\":1,\"error\":{\"code\":\"invalid_args\",\"message\":\"Usage: tansy.exe "
      "[--luid-low <uint32> --luid-high <int32>]\"}}\n",
      2);
}

// Loading a runtime runs its DLL's start code: a crash there is the runtime's.
Direct3dRuntimes loadRuntimes(const TansyPlatform& platform) {
  Direct3dRuntimes runtimes;
  enterPlatformPart(kPartDirect3D11);
  runtimes.d3d11 = platform.d3d11.load();
  enterPlatformPart(kPartDirect3D12);
  runtimes.d3d12 = platform.d3d12.load();
  enterPlatformPart(kPartDxcore);
  runtimes.dxcore = platform.dxcore.load();
  return runtimes;
}

void* createDxcoreFactory(const TansyPlatform& platform, const Direct3dRuntimes& runtimes) {
  if (!runtimes.dxcore) return nullptr;
  enterPlatformPart(kPartDxcore);
  void* factory = nullptr;
  if (hresultFailed(platform.dxcore.createFactory(&factory))) return nullptr;
  return factory;  // a failed creation owns nothing, whatever it left in the out pointer
}

}  // namespace

int runTansy(int argc, const char* const* argv, const TansyPlatform& platform) {
  setBinaryStdout();
  if (!guardStdout(platform.process)) return endRun();  // chatter would reach the document
  guardCrashes(platform.process);  // a crash or an abort before the document becomes one
  guardExits(platform.process);    // so does an exit that the run did not make
  const TansyArguments arguments = scanTansyCommandLine(argc, argv);
  if (!arguments.valid) {
    printUsage();
    return endRun();
  }

  enterPlatformPart(kPartDxgi);
  void* factory = nullptr;
  const HResult created = platform.dxgi.createFactory(&factory);
  if (hresultFailed(created) || factory == nullptr) {
    printJsonError("dxgi_failed", formatMessage("CreateDXGIFactory1 failed: 0x%08X",
                                                static_cast<unsigned>(created))
                                      .text);
    return endRun();
  }
  // From here on nothing fails the run: a creation or query that fails empties its own fields.
  const Direct3dRuntimes runtimes = loadRuntimes(platform);

  enterPlatformPart(kPartDxgi);
  const std::vector<AdapterCapabilities> adapters =
      examineDxgiAdapters(platform, factory, runtimes, arguments.filter);
  platform.release(factory);

  void* dxcoreFactory = createDxcoreFactory(platform, runtimes);
  std::vector<ComputeAdapter> computeAdapters;
  if (dxcoreFactory != nullptr) {
    computeAdapters = listComputeAdapters(platform, dxcoreFactory, runtimes.d3d12, arguments.filter);
    platform.release(dxcoreFactory);
  }

  emitDocument(tansyDocument(dxcoreFactory != nullptr, adapters, computeAdapters), 0);
  return endRun();
}
