#include "platform_api.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <csignal>
#include <cstdio>
#include <exception>

#include "output_guard.h"
#include "reclaiming.h"

namespace {

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

// Only this program's C runtime (msvcrt) is up here: the probes import nothing that brings
// another one, and load COM, DXGI and the runtimes later (systemSymbol, the module table), so
// every C runtime that starts after this takes the null device as its standard output. The
// original handle that _dup2 closes was recorded by no other runtime.
bool silenceStdout() {
  std::fflush(stdout);
  const HANDLE original = GetStdHandle(STD_OUTPUT_HANDLE);
  if (original == nullptr || original == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &keptStdout, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    keptStdout = INVALID_HANDLE_VALUE;
  }
  // The C runtime's descriptor 1 (printf, buffered or not, of every DLL sharing this runtime)...
  const int null = _open("NUL", _O_WRONLY | _O_BINARY);
  if (null < 0) return false;
  if (null != 1) {
    const bool moved = _dup2(null, 1) == 0;
    _close(null);
    if (!moved) return false;
  }
  // ...and the process's handle, which DLLs loaded later and their own runtimes pick up.
  return SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1))) != FALSE;
}

bool writeStdout(const char* bytes, std::size_t length) {
  return keptStdout != INVALID_HANDLE_VALUE && writeAll(keptStdout, bytes, length);
}

// Writes the report's document, if it has one, and ends the process with its exit code.
[[noreturn]] void endWith(const FatalReport& report) {
  if (!report.first) {
    for (;;) Sleep(INFINITE);  // another thread ends the process
  }
  if (report.length > 0 && keptStdout != INVALID_HANDLE_VALUE) {
    writeAll(keptStdout, report.bytes, report.length);
  }
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(report.exitCode));
  for (;;) Sleep(INFINITE);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
  endWith(reportCrash("exception",
                      static_cast<std::uint32_t>(info->ExceptionRecord->ExceptionCode), true));
}

void __cdecl onAbort(int signalNumber) {
  endWith(reportCrash("signal", static_cast<std::uint32_t>(signalNumber), false));
}

// std::terminate of this program's C++ runtime, reported as the abort it would have become,
// without the default handler's allocation and message on standard error.
[[noreturn]] void onTerminate() {
  endWith(reportCrash("signal", static_cast<std::uint32_t>(SIGABRT), false));
}

using SignalHandler = void(__cdecl*)(int);
using SignalFunction = SignalHandler(__cdecl*)(int, SignalHandler);
using SetAbortBehavior = unsigned int(__cdecl*)(unsigned int, unsigned int);

constexpr unsigned int kWriteAbortMessage = 0x1;  // _WRITE_ABORT_MSG
constexpr unsigned int kCallReportFault = 0x2;    // _CALL_REPORTFAULT

// abort() raises SIGABRT in the signal table of the C runtime that the caller links, and each
// runtime DLL keeps its own: this program's (msvcrt) and whichever a runtime brought. Each one
// that is loaded takes the probe's handler, and neither writes its abort message nor hands the
// abort to Windows Error Reporting, where it exports the switch (the UCRT's abort fails fast,
// beyond any handler, when its table has none).
void catchAborts() {
  std::signal(SIGABRT, onAbort);
  for (const wchar_t* name :
       {L"msvcrt.dll", L"ucrtbase.dll", L"msvcr100.dll", L"msvcr110.dll", L"msvcr120.dll"}) {
    const HMODULE runtime = GetModuleHandleW(name);
    if (runtime == nullptr) continue;
    const auto setHandler = reinterpret_cast<SignalFunction>(
        reinterpret_cast<ProcAddress>(GetProcAddress(runtime, "signal")));
    if (setHandler != nullptr) setHandler(SIGABRT, onAbort);
    const auto setAbortBehavior = reinterpret_cast<SetAbortBehavior>(
        reinterpret_cast<ProcAddress>(GetProcAddress(runtime, "_set_abort_behavior")));
    if (setAbortBehavior != nullptr) setAbortBehavior(0, kWriteAbortMessage | kCallReportFault);
  }
}

// A runtime that sets msvcrt's SIGSEGV (or SIGILL, SIGFPE) to SIG_IGN makes this program's
// exception handler resume the faulting instruction, forever; the default lets the crash
// through to the probe's filter.
void restoreFaultSignals() {
  for (const int fault : {SIGSEGV, SIGILL, SIGFPE}) std::signal(fault, SIG_DFL);
}

constexpr ULONG kStackGuarantee = 64 * 1024;  // room for the crash report after an overflow

void catchCrashes() {
  // No dialog may hold the probe open: a DLL that cannot load, an error report after a crash.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ULONG stackGuarantee = kStackGuarantee;
  SetThreadStackGuarantee(&stackGuarantee);
  SetUnhandledExceptionFilter(onUnhandledException);
  restoreFaultSignals();
  catchAborts();
  std::set_terminate(onTerminate);
}

// Runs when the main thread ends: exit and _exit of any C runtime and ExitProcess all call it
// before any DLL hears of the detach, and once every other thread has been ended.
void WINAPI onMainThreadExit(void*) { endWith(reportExit(false)); }

int exitSlotValue;  // any non-null value: the callback runs only for a slot that holds one

void catchExits() {
  const DWORD slot = FlsAlloc(onMainThreadExit);
  if (slot != FLS_OUT_OF_INDEXES) FlsSetValue(slot, &exitSlotValue);
}

std::uint64_t currentThread() { return GetCurrentThreadId(); }
void yieldToOthers() { Sleep(1); }
void awaitEnd() {
  for (;;) Sleep(INFINITE);
}

// Everything is released: no runtime still loaded (vulkan-1.dll stays to the end) can change
// the exit code or crash while it detaches.
void endProcess(int exitCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
}

// Every thread that a runtime starts gets the same room as the main thread, as it starts.
void NTAPI onThreadStart(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_ATTACH) return;
  ULONG stackGuarantee = kStackGuarantee;
  SetThreadStackGuarantee(&stackGuarantee);
}

}  // namespace

// Among the executable's TLS callbacks, which Windows calls for each thread that starts.
extern "C" __attribute__((section(".CRT$XLP"), used))
const PIMAGE_TLS_CALLBACK probeThreadStartCallback = onThreadStart;

ModuleApi windowsModuleApi() {
  return {reclaiming<loadModule>, reclaiming<moduleSymbol>, reclaiming<unloadModule>};
}

ProcessApi windowsProcessApi() {
  return {silenceStdout, writeStdout,   catchCrashes, catchExits,
          currentThread, yieldToOthers, awaitEnd,     endProcess};
}

ProcAddress systemSymbol(const wchar_t* dllName, const char* name) {
  const HMODULE module = LoadLibraryExW(dllName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  reclaimCrashHandlers();  // the DLL and those it brought may have installed their own
  if (module == nullptr) return nullptr;
  return reinterpret_cast<ProcAddress>(GetProcAddress(module, name));
}
