#pragma once
// Tables of the Windows calls that more than one probe makes. The logic calls the
// platform only through such tables: the Windows build fills them with the real
// functions, the unit tests with in-process fakes.

#include <cstddef>
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

// The module loader: LoadLibraryExW from the executable's folder and System32 only (never
// the current directory or PATH), GetProcAddress, FreeLibrary.
struct ModuleApi {
  void* (*load)(const wchar_t* fileName);
  ProcAddress (*symbol)(void* module, const char* name);
  void (*unload)(void* module);
};

// The process's standard output, its threads and its end. Drivers and runtimes share the
// probe's standard output, start threads of their own, and any of them can crash, abort or end
// the process.
struct ProcessApi {
  // Keeps the original standard output for the document and points the process's own (every
  // C runtime's and the operating system's) at the null device; false when the null device
  // could not be opened, and nothing was pointed at it.
  bool (*silenceStdout)();
  // Writes all bytes to the kept standard output; false when not all could be written.
  bool (*writeStdout)(const char* bytes, std::size_t length);
  // From now on, a fatal exception or signal in any thread, an abort or a terminate ends the
  // process with the crash report of output_guard.h, and no system dialog holds it open.
  // Called again, it puts the probe's handlers back in place of those a runtime installed.
  void (*catchCrashes)();
  // From now on, an exit of the process ends it with the exit report of output_guard.h.
  void (*catchExits)();
  // The calling thread's identifier, never 0.
  std::uint64_t (*currentThread)();
  // Lets other threads run for a moment: a report waits so for a document being written.
  void (*yieldToOthers)();
  // Another thread is ending the process with its report: this one waits for that.
  void (*awaitEnd)();
  // The run's own end with this exit code, once everything is released; the process ends here.
  void (*endProcess)(int exitCode);
};

// The real tables; the Windows ones are defined only in the Windows build (the COM table in
// a library of its own, so that a probe without COM does not load it), the POSIX one only in
// the Linux build. Every entry of the Windows COM and module tables puts the probe's crash
// handlers back after its call (reclaiming.h).
ComApi windowsComApi();
ModuleApi windowsModuleApi();
ProcessApi windowsProcessApi();
ProcessApi posixProcessApi();

// An export of a Windows system DLL that the probe does not import, loaded from System32 on
// first use: a DLL imported at start would bring C runtimes of its own up before the output
// guard. Null when the DLL or the export is missing. Windows only.
ProcAddress systemSymbol(const wchar_t* dllName, const char* name);

// The same, cast to the entry point's own signature. The DLL stays loaded to the end of the run.
template <typename Function>
Function systemFunction(const wchar_t* dllName, const char* name) {
  return reinterpret_cast<Function>(systemSymbol(dllName, name));
}
