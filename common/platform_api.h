#pragma once
// Tables of the Windows calls that more than one probe makes. The logic calls the
// platform only through such tables: the Windows build fills them with the real
// functions, the unit tests with in-process fakes.

#include <cstdint>

using HResult = std::int32_t;

constexpr bool hresultFailed(HResult hr) { return hr < 0; }

// The generic function pointer type that a symbol lookup yields; callers cast it to
// the entry point's own signature.
using ProcAddress = void (*)();

// COM initialisation of the calling thread and IUnknown::Release.
struct ComApi {
  HResult (*initialize)();  // CoInitializeEx(nullptr, COINIT_MULTITHREADED)
  void (*uninitialize)();   // CoUninitialize
  void (*release)(void* object);
};

// The module loader: LoadLibraryW, GetProcAddress, FreeLibrary.
struct ModuleApi {
  void* (*load)(const wchar_t* fileName);
  ProcAddress (*symbol)(void* module, const char* name);
  void (*unload)(void* module);
};

// The real tables; defined only in the Windows build.
ComApi windowsComApi();
ModuleApi windowsModuleApi();
