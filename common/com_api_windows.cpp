// The COM table, apart from the process and module tables: only the probes that use COM make
// it. ole32.dll is loaded from System32 on the first call, once the output guard is in place,
// not imported: its C runtimes would start before the guard.

#include "platform_api.h"

#include <windows.h>
#include <objbase.h>

#include "reclaiming.h"

namespace {

using CoInitializeExFunction = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoUninitializeFunction = void(WINAPI*)();

template <typename Function>
Function ole32(const char* name) {
  return reinterpret_cast<Function>(systemSymbol(L"ole32.dll", name));
}

HResult comInitialize() {
  const auto initialize = ole32<CoInitializeExFunction>("CoInitializeEx");
  if (initialize == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return initialize(nullptr, COINIT_MULTITHREADED);
}

// Only after a successful CoInitializeEx, so ole32.dll is loaded.
void comUninitialize() {
  const auto uninitialize = ole32<CoUninitializeFunction>("CoUninitialize");
  if (uninitialize != nullptr) uninitialize();
}

void comRelease(void* object) { static_cast<IUnknown*>(object)->Release(); }

}  // namespace

ComApi windowsComApi() {
  return {reclaiming<comInitialize>, reclaiming<comUninitialize>, reclaiming<comRelease>};
}
