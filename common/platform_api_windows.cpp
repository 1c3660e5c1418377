#include "platform_api.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <csignal>
#include <cstdio>

#include "output_guard.h"

namespace {

// The executable's folder (where a runtime may be put on purpose) and System32: never the
// current directory or PATH, where anyone may have left a DLL of the same name.
void* loadModule(const wchar_t* fileName) {
  void* module = LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  reclaimCrashHandlers();  // the DLL and those it brought may have installed their own
  return module;
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

// Writes the report's document, if it has one, and ends the process with its exit code.
[[noreturn]] void endWith(const FatalReport& report) {
  if (report.length > 0 && keptStdout != INVALID_HANDLE_VALUE) {
    writeAll(keptStdout, report.bytes, report.length);
  }
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(report.exitCode));
  for (;;) Sleep(INFINITE);
}

[[noreturn]] void endWithCrashReport(const FatalReport& report) {
  if (!report.first) {
    for (;;) Sleep(INFINITE);  // another thread is reporting and ends the process
  }
  endWith(report);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
  endWithCrashReport(reportCrash(
      "exception", static_cast<std::uint32_t>(info->ExceptionRecord->ExceptionCode), true));
}

void __cdecl onAbort(int signalNumber) {
  endWithCrashReport(reportCrash("signal", static_cast<std::uint32_t>(signalNumber), false));
}

using SignalHandler = void(__cdecl*)(int);
using SignalFunction = SignalHandler(__cdecl*)(int, SignalHandler);

// abort() raises SIGABRT in the signal table of the C runtime that the caller links, and each
// runtime DLL keeps its own: this program's, msvcrt's and, once a runtime brought it, the
// UCRT's (whose abort fails fast, beyond any handler, when its table has none).
void catchAborts() {
  std::signal(SIGABRT, onAbort);
  for (const wchar_t* name : {L"msvcrt.dll", L"ucrtbase.dll"}) {
    const HMODULE runtime = GetModuleHandleW(name);
    if (runtime == nullptr) continue;
    const auto setHandler = reinterpret_cast<SignalFunction>(
        reinterpret_cast<ProcAddress>(GetProcAddress(runtime, "signal")));
    if (setHandler != nullptr) setHandler(SIGABRT, onAbort);
  }
}

void catchCrashes() {
  // No dialog may hold the probe open: a DLL that cannot load, an error report after a crash.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // Room on the main thread's stack for the crash report after a stack overflow.
  ULONG stackGuarantee = 64 * 1024;
  SetThreadStackGuarantee(&stackGuarantee);
  SetUnhandledExceptionFilter(onUnhandledException);
  catchAborts();
}

// Runs when the main thread ends: exit and _exit of any C runtime and ExitProcess all call it
// before any DLL hears of the detach. It must not wait for another thread: an exiting process
// has already ended them.
void WINAPI onMainThreadExit(void*) { endWith(reportExit()); }

int exitSlotValue;  // any non-null value: the callback runs only for a slot that holds one

void catchExits() {
  const DWORD slot = FlsAlloc(onMainThreadExit);
  if (slot != FLS_OUT_OF_INDEXES) FlsSetValue(slot, &exitSlotValue);
}

// Everything is released: no runtime still loaded (vulkan-1.dll stays to the end) can change
// the exit code or crash while it detaches.
void endProcess(int exitCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
}

}  // namespace

ModuleApi windowsModuleApi() { return {loadModule, moduleSymbol, unloadModule}; }
ProcessApi windowsProcessApi() {
  return {silenceStdout, writeStdout, catchCrashes, catchExits, endProcess};
}
