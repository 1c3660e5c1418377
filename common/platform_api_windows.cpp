#include "platform_api.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
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

// Every C runtime that a process may hold, each with descriptors and signal tables of its own:
// this program's (msvcrt), the UCRT, and those of older runtimes.
constexpr const wchar_t* kCRuntimes[] = {L"msvcrt.dll",   L"ucrtbase.dll", L"msvcr71.dll",
                                         L"msvcr80.dll",  L"msvcr90.dll",  L"msvcr100.dll",
                                         L"msvcr110.dll", L"msvcr120.dll"};

// How many DLLs the process has loaded since the probe asked the loader to tell it: a C runtime
// that was not loaded at one look can be there at the next only after a load. Looking up a DLL
// that is not loaded searches the disk under Wine (about a third of a millisecond), and the
// runtimes are looked up again after every platform call.
std::atomic<unsigned long> dllLoads{0};
bool dllLoadsCounted = false;

constexpr ULONG kDllLoaded = 1;  // LDR_DLL_NOTIFICATION_REASON_LOADED
using DllNotification = VOID(CALLBACK*)(ULONG reason, const void* data, PVOID context);
using RegisterDllNotification = LONG(NTAPI*)(ULONG flags, DllNotification notification,
                                             PVOID context, PVOID* cookie);

VOID CALLBACK onDllNotification(ULONG reason, const void*, PVOID) {
  if (reason == kDllLoaded) dllLoads.fetch_add(1);
}

// ntdll's LdrRegisterDllNotification, once; without it every look searches for every runtime.
void countDllLoads() {
  static bool asked = false;
  if (asked) return;
  asked = true;
  const auto registerNotification = reinterpret_cast<RegisterDllNotification>(
      reinterpret_cast<ProcAddress>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"),
                                                   "LdrRegisterDllNotification")));
  PVOID cookie = nullptr;
  dllLoadsCounted = registerNotification != nullptr &&
                    registerNotification(0, onDllNotification, nullptr, &cookie) >= 0;
}

// The C runtimes loaded now, each passed to use. A runtime missing at the last look is looked
// up again only when a DLL has loaded since.
template <typename Use>
void forEachLoadedRuntime(Use use) {
  static bool looked = false;
  static bool lookAgain = false;
  static unsigned long loadsAtLastLook = 0;
  static bool missing[sizeof kCRuntimes / sizeof kCRuntimes[0]] = {};
  // Read before the look: a load during it makes the next look a whole one.
  const unsigned long loads = dllLoads.load();
  const bool anyLoaded = !looked || !dllLoadsCounted || loads != loadsAtLastLook;
  const bool whole = anyLoaded || lookAgain;
  // A DLL that another thread is loading is told of before the lookup can find it: the look
  // after one that saw a load is whole too.
  lookAgain = anyLoaded;
  for (std::size_t i = 0; i < sizeof kCRuntimes / sizeof kCRuntimes[0]; ++i) {
    if (missing[i] && !whole) continue;
    const HMODULE runtime = GetModuleHandleW(kCRuntimes[i]);
    missing[i] = runtime == nullptr;
    if (runtime != nullptr) use(runtime);
  }
  looked = true;
  loadsAtLastLook = loads;
}

template <typename Function>
Function runtimeFunction(HMODULE runtime, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<ProcAddress>(GetProcAddress(runtime, name)));
}

// Points one C runtime's descriptor 1 at the null device; false when it could not.
bool silenceRuntime(HMODULE runtime) {
  const auto open = runtimeFunction<int(__cdecl*)(const char*, int, ...)>(runtime, "_open");
  const auto dup2 = runtimeFunction<int(__cdecl*)(int, int)>(runtime, "_dup2");
  const auto close = runtimeFunction<int(__cdecl*)(int)>(runtime, "_close");
  if (open == nullptr || dup2 == nullptr || close == nullptr) return false;
  const int null = open("NUL", _O_WRONLY | _O_BINARY);
  if (null < 0) return false;
  if (null == 1) return true;
  const bool moved = dup2(null, 1) == 0;
  close(null);
  return moved;
}

// Every C runtime up now (the UCRT may start before main: Windows' own DLLs bring it) has
// recorded the original handle as its descriptor 1. Each is pointed at the null device, and the
// original handle is never closed: their _dup2 cannot close it, so its value is never handed to
// a file that a driver opens later. Runtimes that start later take the null device from the
// process's handle.
bool silenceStdout() {
  std::fflush(stdout);
  const HANDLE original = GetStdHandle(STD_OUTPUT_HANDLE);
  const bool hasOriginal = original != nullptr && original != INVALID_HANDLE_VALUE;
  if (!hasOriginal || !DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(),
                                       &keptStdout, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    keptStdout = INVALID_HANDLE_VALUE;
  }
  if (hasOriginal) {
    SetHandleInformation(original, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE);
  }
  bool silenced = true;
  for (const wchar_t* name : kCRuntimes) {
    const HMODULE runtime = GetModuleHandleW(name);
    if (runtime != nullptr) silenced = silenceRuntime(runtime) && silenced;
  }
  // ...and the process's handle, which DLLs loaded later and their own runtimes pick up.
  return silenced &&
         SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1))) != FALSE;
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
// runtime DLL keeps its own. Each one that is loaded takes the probe's handler, and neither
// writes its abort message nor hands the abort to Windows Error Reporting, where it exports the
// switch (the UCRT's abort fails fast, beyond any handler, when its table has none).
void catchAborts() {
  std::signal(SIGABRT, onAbort);
  countDllLoads();
  forEachLoadedRuntime([](HMODULE runtime) {
    const auto setHandler = runtimeFunction<SignalFunction>(runtime, "signal");
    if (setHandler != nullptr) setHandler(SIGABRT, onAbort);
    const auto setAbortBehavior = runtimeFunction<SetAbortBehavior>(runtime, "_set_abort_behavior");
    if (setAbortBehavior != nullptr) setAbortBehavior(0, kWriteAbortMessage | kCallReportFault);
  });
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

using ShutdownInProgress = BOOLEAN(NTAPI*)();
ShutdownInProgress processIsEnding = nullptr;  // ntdll's RtlDllShutdownInProgress
DWORD mainThread = 0;
std::atomic<DWORD> exitSlot{FLS_OUT_OF_INDEXES};
int exitSlotValue;  // any non-null value: the callback runs only for a slot that holds one

// Runs when a thread that holds the slot ends. ExitProcess (and exit, _exit of any C runtime)
// ends every other thread first, then runs the calling thread's callback before any DLL hears
// of the detach. The main thread's end is always an exit of the run; another thread's only when
// the process is shutting down, not when it simply returns.
void WINAPI onThreadExit(void*) {
  if (GetCurrentThreadId() != mainThread &&
      (processIsEnding == nullptr || processIsEnding() == FALSE)) {
    return;
  }
  endWith(reportExit(false));
}

void holdExitSlot() {
  const DWORD slot = exitSlot.load();
  if (slot != FLS_OUT_OF_INDEXES) FlsSetValue(slot, &exitSlotValue);
}

void catchExits() {
  mainThread = GetCurrentThreadId();
  processIsEnding = runtimeFunction<ShutdownInProgress>(GetModuleHandleW(L"ntdll.dll"),
                                                        "RtlDllShutdownInProgress");
  exitSlot = FlsAlloc(onThreadExit);
  holdExitSlot();
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

// Every thread that a runtime starts gets room for the report as the main thread has (at most a
// quarter of its stack, so that a small one keeps room to work), and its exit is watched.
void NTAPI onThreadStart(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_ATTACH) return;
  ULONG_PTR low = 0, high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  const ULONG_PTR quarter = (high - low) / 4;
  ULONG stackGuarantee = quarter < kStackGuarantee ? static_cast<ULONG>(quarter) : kStackGuarantee;
  SetThreadStackGuarantee(&stackGuarantee);
  holdExitSlot();
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
