#pragma once
// What a misbehaving runtime does to the process that loads it, for the test-only DLLs: it
// writes to standard output, crashes, aborts, ends the process, or installs crash handlers of
// its own. Each is switched on by a variable of the test's environment. Test code only.

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

inline std::string testSetting(const char* name) {
  char value[64];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// A function of the UCRT, which a runtime built against it has loaded.
template <typename Function>
Function ucrtFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ucrtbase.dll"), name)));
}

// "printf": through the C runtime, without a line feed, so that it waits in the buffer;
// "ucrt-write": through the UCRT's descriptor 1; "writefile": straight to the process's
// standard-output handle.
inline void chatter(const char* variable, const char* where) {
  const std::string how = testSetting(variable);
  const std::string text = std::string("chatter ") + where;
  if (how == "printf") {
    std::printf("%s ", text.c_str());
  } else if (how == "ucrt-write") {
    LoadLibraryW(L"ucrtbase.dll");
    ucrtFunction<int(__cdecl*)(int, const void*, unsigned)>("_write")(
        1, text.data(), static_cast<unsigned>(text.size()));
  } else if (how == "writefile") {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
  }
}

// At load: a runtime built against the UCRT brings it along, and one that misbehaves at the
// "end" stays loaded to the end of the process, as vulkan-1.dll does.
inline void prepareMisbehaviour(const char* variable, HINSTANCE self) {
  const std::string setting = testSetting(variable);
  if (setting.find("ucrt") != std::string::npos) LoadLibraryW(L"ucrtbase.dll");
  if (setting.find("msvcr120") != std::string::npos) LoadLibraryW(L"msvcr120.dll");
  if (setting.rfind("end", 0) == 0) {
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(self), &pinned);
  }
}

// The detach's moment: "unload" when the process frees the DLL, "end" when the process ends.
inline const char* detachMoment(LPVOID reserved) { return reserved != nullptr ? "end" : "unload"; }

// When the variable, "<moment>" or "<moment>:<how>", names this moment ("load", "unload", "end",
// and the DLL's own: "call", "query"...): "crash" (the default)
// an access violation; "exit", "_exit", "ExitProcess", "ucrt-exit" end the process with exit
// code 0; "thread-exit" starts a thread that calls ExitProcess(0) and waits for it; "abort",
// "raise" (SIGABRT), "terminate", "throw" (a C++ exception out of the runtime), "ucrt-abort",
// "msvcr120-abort" (msvcr120.dll, which the DLL loads when it is loaded).
inline void misbehaveAt(const char* variable, const char* moment) {
  const std::string setting = testSetting(variable);
  const std::string::size_type colon = setting.find(':');
  if (setting.substr(0, colon) != moment) return;
  const std::string how = colon == std::string::npos ? "crash" : setting.substr(colon + 1);
  if (how == "exit") std::exit(0);
  if (how == "_exit") _exit(0);
  if (how == "ExitProcess") ExitProcess(0);
  if (how == "ucrt-exit") ucrtFunction<void(__cdecl*)(int)>("exit")(0);
  if (how == "thread-exit") {
    const HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { ExitProcess(0); }, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
  }
  if (how == "abort") std::abort();
  if (how == "raise") std::raise(SIGABRT);
  if (how == "terminate") std::terminate();
  if (how == "throw") throw std::runtime_error("runtime failure");
  if (how == "ucrt-abort") ucrtFunction<void(__cdecl*)()>("abort")();
  if (how == "msvcr120-abort") {  // a runtime that the process had not loaded before this DLL
    reinterpret_cast<void(__cdecl*)()>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"msvcr120.dll"), "abort")))();
  }
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

// A runtime's own crash handlers: "pass" lets every crash and abort through, "exit" ends the
// process with exit code 0, "ignore" sets msvcrt's SIGSEGV, SIGILL and SIGFPE to SIG_IGN.
// Installed at load, or with the prefix "call:" in the runtime's first query call.
inline LONG WINAPI passingFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }
inline LONG WINAPI exitingFilter(EXCEPTION_POINTERS*) { ExitProcess(0); }
inline void __cdecl returningAbortHandler(int) {}
inline void __cdecl exitingAbortHandler(int) { ExitProcess(0); }

inline void installForeignHandlers(const char* variable, const char* moment = "load") {
  std::string how = testSetting(variable);
  const std::string prefix = std::string(moment) + ":";
  if (how.rfind(prefix, 0) == 0) {
    how.erase(0, prefix.size());
  } else if (how.find(':') != std::string::npos || std::string(moment) != "load") {
    return;
  }
  if (how == "pass") {
    SetUnhandledExceptionFilter(passingFilter);
    std::signal(SIGABRT, returningAbortHandler);
  } else if (how == "exit") {
    SetUnhandledExceptionFilter(exitingFilter);
    std::signal(SIGABRT, exitingAbortHandler);
  } else if (how == "ignore") {
    for (const int fault : {SIGSEGV, SIGILL, SIGFPE}) std::signal(fault, SIG_IGN);
  }
}

// The variables that switch one DLL's misbehaviour on.
struct MisbehaviourVariables {
  const char* chatter;
  const char* crash;
  const char* foreign;
};

// What the DLL does in its DllMain, when the process loads it and when it detaches.
inline void misbehaveOnAttach(const MisbehaviourVariables& variables, HINSTANCE self) {
  prepareMisbehaviour(variables.crash, self);
  installForeignHandlers(variables.foreign);
  chatter(variables.chatter, "at load");
  misbehaveAt(variables.crash, "load");
}

inline void misbehaveOnDetach(const MisbehaviourVariables& variables, LPVOID reserved) {
  chatter(variables.chatter, "at unload");
  misbehaveAt(variables.crash, detachMoment(reserved));
}
