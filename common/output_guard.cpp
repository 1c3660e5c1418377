#include "output_guard.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "json_output.h"

namespace {

struct GuardState {
  bool guarded = false;  // without a guard the document goes to stdout as it is
  bool crashesGuarded = false;
  ProcessApi process{};
  bool writeFailed = false;
  volatile std::sig_atomic_t documentStarted = 0;
  volatile std::sig_atomic_t documentExitCode = 1;
  volatile std::sig_atomic_t runEnded = 0;
  volatile std::sig_atomic_t runExitCode = 1;
  const char* volatile part = nullptr;
  // The error document around its code and its message, and the room to assemble it.
  char beforeCode[160] = {};
  char beforeMessage[32] = {};
  char tail[16] = {};
  char report[320] = {};
};

GuardState state;
std::atomic<bool> reporting{false};

// Appends text to the report without the C library's formatting, within its room.
std::size_t append(std::size_t at, const char* text) {
  while (*text != '\0' && at + 1 < sizeof state.report) state.report[at++] = *text++;
  state.report[at] = '\0';
  return at;
}

std::size_t appendNumber(std::size_t at, std::uint32_t code, bool hexadecimal) {
  char digits[16];
  std::size_t n = 0;
  if (hexadecimal) {
    for (int shift = 28; shift >= 0; shift -= 4) {
      digits[n++] = "0123456789ABCDEF"[(code >> shift) & 0xFu];
    }
  } else {
    char reversed[12];
    std::size_t r = 0;
    do {
      reversed[r++] = static_cast<char>('0' + code % 10);
      code /= 10;
    } while (code != 0);
    while (r > 0) digits[n++] = reversed[--r];
  }
  digits[n] = '\0';
  return append(append(at, hexadecimal ? "0x" : ""), digits);
}

// errorFormat split where the code and the message go.
void prepareReports() {
  state.beforeCode[0] = state.beforeMessage[0] = state.tail[0] = '\0';
  char marked[sizeof state.beforeCode + sizeof state.beforeMessage + sizeof state.tail];
  std::snprintf(marked, sizeof marked, errorFormat, "\x01", "\x02");
  const char* code = std::strchr(marked, '\x01');
  const char* message = code != nullptr ? std::strchr(code, '\x02') : nullptr;
  if (message == nullptr) return;
  const auto codeAt = static_cast<std::size_t>(code - marked);
  const auto messageAt = static_cast<std::size_t>(message - code - 1);
  if (codeAt >= sizeof state.beforeCode || messageAt >= sizeof state.beforeMessage ||
      std::strlen(message + 1) >= sizeof state.tail) {
    return;
  }
  std::memcpy(state.beforeCode, marked, codeAt);
  state.beforeCode[codeAt] = '\0';
  std::memcpy(state.beforeMessage, code + 1, messageAt);
  state.beforeMessage[messageAt] = '\0';
  std::strcpy(state.tail, message + 1);
}

// The error document up to the end of its message's first word.
std::size_t startReport(const char* code, const char* firstWord) {
  return append(append(append(append(0, state.beforeCode), code), state.beforeMessage), firstWord);
}

std::size_t finishReport(std::size_t at) {
  const char* part = state.part;
  if (part != nullptr) at = append(append(at, " in "), part);
  return append(at, state.tail);
}

}  // namespace

void guardStdout(const ProcessApi& process) {
  state.guarded = true;
  state.crashesGuarded = false;
  state.process = process;
  state.writeFailed = false;
  state.documentStarted = 0;
  state.documentExitCode = 1;
  state.runEnded = 0;
  state.runExitCode = 1;
  state.part = nullptr;
  prepareReports();
  reporting.store(false);
  process.silenceStdout();
}

void guardCrashes(const ProcessApi& process) {
  state.crashesGuarded = true;
  process.catchCrashes();
}

void guardExits(const ProcessApi& process) { process.catchExits(); }

void reclaimCrashHandlers() {
  if (state.crashesGuarded) state.process.catchCrashes();
}

void enterPlatformPart(const char* part) { state.part = part; }

void emitDocument(const std::string& document, int exitCode) {
  state.documentExitCode = exitCode;
  state.documentStarted = 1;
  bool written = false;
  if (state.guarded) {
    written = state.process.writeStdout(document.data(), document.size());
  } else {
    written = std::fwrite(document.data(), 1, document.size(), stdout) == document.size() &&
              std::fflush(stdout) == 0;
  }
  if (!written) {
    state.writeFailed = true;
    state.documentExitCode = 1;
  }
}

int endRun(int exitCode) {
  const int code = state.writeFailed ? 1 : exitCode;
  state.runExitCode = code;
  state.runEnded = 1;
  if (state.guarded) state.process.endProcess(code);
  return code;
}

FatalReport reportCrash(const char* kind, std::uint32_t code, bool hexadecimal) {
  if (reporting.exchange(true)) return {nullptr, 0, 1, false, false};
  if (state.documentStarted != 0) return {nullptr, 0, state.documentExitCode, true, false};
  const std::size_t at = append(startReport("platform_crashed", kind), " ");
  const std::size_t length = finishReport(appendNumber(at, code, hexadecimal));
  return {state.report, length, 1, true, false};
}

FatalReport reportExit() {
  if (state.runEnded != 0) return {nullptr, 0, state.runExitCode, true, true};
  const int exitCode = state.documentStarted != 0 ? state.documentExitCode : 1;
  if (reporting.exchange(true)) return {nullptr, 0, exitCode, false, false};
  if (state.documentStarted != 0) return {nullptr, 0, exitCode, true, false};
  const std::size_t length = finishReport(startReport("platform_exited", "exit"));
  return {state.report, length, 1, true, false};
}
