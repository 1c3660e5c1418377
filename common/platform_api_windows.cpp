#include "platform_api.h"

#include <windows.h>
#include <objbase.h>

namespace {

HResult comInitialize() { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
void comUninitialize() { CoUninitialize(); }
void comRelease(void* object) { static_cast<IUnknown*>(object)->Release(); }

void* loadModule(const wchar_t* fileName) { return LoadLibraryW(fileName); }

ProcAddress moduleSymbol(void* module, const char* name) {
  return reinterpret_cast<ProcAddress>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unloadModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

}  // namespace

ComApi windowsComApi() { return {comInitialize, comUninitialize, comRelease}; }
ModuleApi windowsModuleApi() { return {loadModule, moduleSymbol, unloadModule}; }
