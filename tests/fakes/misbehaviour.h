#pragma once
// What a misbehaving runtime does to the process that loads it, for the test-only DLLs:
// it writes to standard output, or it crashes. Each is switched on by a variable of the
// test's environment. Test code only.

#include <windows.h>

#include <cstdio>
#include <string>

inline std::string testSetting(const char* name) {
  char value[64];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// "printf": through the C runtime, without a line feed, so that it waits in the buffer;
// "writefile": straight to the process's standard-output handle.
inline void chatter(const char* variable, const char* where) {
  const std::string how = testSetting(variable);
  const std::string text = std::string("chatter ") + where;
  if (how == "printf") {
    std::printf("%s ", text.c_str());
  } else if (how == "writefile") {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
  }
}

// An access violation, when the variable names this moment.
inline void crashAt(const char* variable, const char* moment) {
  if (testSetting(variable) != moment) return;
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}
