#include "brindle_run.h"

#include <vector>

#include "command_line.h"
#include "json_output.h"
#include "match_d3d11.h"
#include "match_luid.h"
#include "opencl_runtime.h"
#include "output_guard.h"

const char errorFormat[] =
    "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"%s\",\"message\":\"%s\"}}\n";

namespace {

// Everything the run acquires, in acquisition order.
struct RunState {
  bool comInitialized = false;
  void* factory = nullptr;
  void* adapter = nullptr;
  OpenClRuntime runtime;
  std::vector<cl_platform_id> platforms;
};

void printUsage() {
  emitDocument(
      "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"invalid_args\",\"message\":\"Usage: "
      "brindle.exe --luid-low <uint32> --luid-high <int32>\"}}\n",
      2);
}

// Acquires, matches and prints the document, which decides the exit code.
void acquireAndReport(const LuidArguments& luid, const BrindlePlatform& platform, RunState& state) {
  enterPlatformPart(kPartDxgi);
  if (hresultFailed(platform.com.initialize())) {
    printJsonError("com_init_failed", "CoInitializeEx failed");
    return;
  }
  state.comInitialized = true;

  const HResult factoryResult = platform.dxgi.createFactory(&state.factory);
  if (hresultFailed(factoryResult) || state.factory == nullptr) {
    state.factory = nullptr;  // a failed call owns nothing, whatever it left behind
    printJsonError("dxgi_factory_failed", "CreateDXGIFactory1 failed");
    return;
  }

  const HResult lookupResult =
      platform.dxgi.enumAdapterByLuid(state.factory, luid.lowPart, luid.highPart, &state.adapter);
  if (hresultFailed(lookupResult) || state.adapter == nullptr) {
    state.adapter = nullptr;
    printJsonError("dxgi_adapter_not_found",
                   formatMessage("EnumAdapterByLuid failed for LUID %u:%d (hr=0x%08X)",
                                 static_cast<unsigned>(luid.lowPart), static_cast<int>(luid.highPart),
                                 static_cast<unsigned>(lookupResult))
                       .text);
    return;
  }

  enterPlatformPart(kPartOpenCl);
  switch (bindOpenClRuntime(platform.modules, state.runtime, state.platforms)) {
    case BindOutcome::errorPrinted:
    case BindOutcome::noPlatformsPrinted: return;
    case BindOutcome::ready: break;
  }

  MatchCounters counters;
  counters.platformCount = static_cast<std::uint32_t>(state.platforms.size());
  if (state.runtime.getExtensionFunctionAddressForPlatform != nullptr &&
      matchByD3D11Sharing(state.adapter, state.platforms, state.runtime, counters)) {
    return;
  }
  if (matchByLuid(luid.lowPart, luid.highPart, state.platforms, state.runtime, counters)) return;
  printNoMatchDocument(counters);
}

// After the document, on every path: runtime, adapter, factory, COM, platform list.
void releaseRun(const BrindlePlatform& platform, RunState& state) {
  if (state.runtime.module != nullptr) platform.modules.unload(state.runtime.module);
  state.runtime = OpenClRuntime{};
  if (state.adapter != nullptr) platform.com.release(state.adapter);
  state.adapter = nullptr;
  if (state.factory != nullptr) platform.com.release(state.factory);
  state.factory = nullptr;
  if (state.comInitialized) platform.com.uninitialize();
  state.comInitialized = false;
  std::vector<cl_platform_id>().swap(state.platforms);
}

}  // namespace

int runBrindle(int argc, const char* const* argv, const BrindlePlatform& platform) {
  setBinaryStdout();
  if (!guardStdout(platform.process)) return endRun();  // chatter would reach the document
  guardCrashes(platform.process);  // a crash or an abort before the document becomes one
  guardExits(platform.process);    // so does an exit that the run did not make
  const LuidArguments luid = scanCommandLine(argc, argv);
  if (luid.helpRequested || !luid.lowGiven || !luid.highGiven) {
    printUsage();
    return endRun();
  }
  RunState state;
  acquireAndReport(luid, platform, state);
  releaseRun(platform, state);
  return endRun();
}
