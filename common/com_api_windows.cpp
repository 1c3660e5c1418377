// The COM table, apart from the process and module tables: only the probes that use COM
// link it, and with it ole32.dll.

#include "platform_api.h"

#include <windows.h>
#include <objbase.h>

namespace {

HResult comInitialize() { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
void comUninitialize() { CoUninitialize(); }
void comRelease(void* object) { static_cast<IUnknown*>(object)->Release(); }

}  // namespace

ComApi windowsComApi() { return {comInitialize, comUninitialize, comRelease}; }
