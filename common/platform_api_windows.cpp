#include "platform_api.h"

#include <windows.h>
#include <objbase.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "output_guard.h"

namespace {

HResult comInitialize() { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
void comUninitialize() { CoUninitialize(); }
void comRelease(void* object) { static_cast<IUnknown*>(object)->Release(); }

// The executable's folder (where a runtime may be put on purpose) and System32: never the
// current directory or PATH, where anyone may have left a DLL of the same name.
void* loadModule(const wchar_t* fileName) {
  return LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

ProcAddress moduleSymbol(void* module, const char* name) {
  return reinterpret_cast<ProcAddress>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unloadModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

HANDLE keptStdout = INVALID_HANDLE_VALUE;  // the original standard output, for the document

bool writeAll(HANDLE handle, const char* bytes, std::size_t length) {
  while (length > 0) {
    const DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

void silenceStdout() {
  std::fflush(stdout);
  const HANDLE original = GetStdHandle(STD_OUTPUT_HANDLE);
  if (original == nullptr || original == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &keptStdout, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    keptStdout = INVALID_HANDLE_VALUE;
  }
  // The C runtime's descriptor 1 (printf, buffered or not, of every DLL sharing this runtime)...
  const int null = _open("NUL", _O_WRONLY | _O_BINARY);
  if (null >= 0 && null != 1) {
    _dup2(null, 1);
    _close(null);
  }
  // ...and the process's handle, which DLLs loaded later and their own runtimes pick up.
  SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
}

bool writeStdout(const char* bytes, std::size_t length) {
  std::fflush(stdout);  // chatter left in the runtime's buffer goes to NUL, never after it
  return keptStdout != INVALID_HANDLE_VALUE && writeAll(keptStdout, bytes, length);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
  const CrashReport report =
      reportCrash("exception", static_cast<std::uint32_t>(info->ExceptionRecord->ExceptionCode), true);
  if (!report.first) {
    for (;;) Sleep(INFINITE);  // another thread is reporting and ends the process
  }
  if (report.length > 0 && keptStdout != INVALID_HANDLE_VALUE) {
    writeAll(keptStdout, report.bytes, report.length);
  }
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(report.exitCode));
  return EXCEPTION_EXECUTE_HANDLER;
}

void catchCrashes() { SetUnhandledExceptionFilter(onUnhandledException); }

}  // namespace

ComApi windowsComApi() { return {comInitialize, comUninitialize, comRelease}; }
ModuleApi windowsModuleApi() { return {loadModule, moduleSymbol, unloadModule}; }
ProcessApi windowsProcessApi() { return {silenceStdout, writeStdout, catchCrashes}; }
