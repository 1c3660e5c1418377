#include "output_guard.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "json_output.h"

namespace {

struct GuardState {
  bool guarded = false;  // without a guard the document goes to stdout as it is
  ProcessApi process{};
  bool writeFailed = false;
  volatile std::sig_atomic_t documentStarted = 0;
  volatile std::sig_atomic_t documentExitCode = 1;
  const char* volatile part = nullptr;
  // The platform_crashed document around its message, and the room to assemble it.
  char head[192] = {};
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

// errorFormat with the code filled in, split where the message goes.
void prepareCrashDocument() {
  char marked[sizeof state.head + sizeof state.tail];
  std::snprintf(marked, sizeof marked, errorFormat, "platform_crashed", "\x01");
  const char* mark = std::strchr(marked, '\x01');
  if (mark == nullptr) return;
  const auto headLength = static_cast<std::size_t>(mark - marked);
  if (headLength >= sizeof state.head || std::strlen(mark + 1) >= sizeof state.tail) return;
  std::memcpy(state.head, marked, headLength);
  state.head[headLength] = '\0';
  std::strcpy(state.tail, mark + 1);
}

}  // namespace

void guardStdout(const ProcessApi& process) {
  state.guarded = true;
  state.process = process;
  state.writeFailed = false;
  state.documentStarted = 0;
  state.documentExitCode = 1;
  process.silenceStdout();
}

void guardCrashes(const ProcessApi& process) {
  state.part = nullptr;
  prepareCrashDocument();
  reporting.store(false);
  process.catchCrashes();
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

int exitCodeAfterDocument(int exitCode) { return state.writeFailed ? 1 : exitCode; }

CrashReport reportCrash(const char* kind, std::uint32_t code, bool hexadecimal) {
  if (reporting.exchange(true)) return {nullptr, 0, 1, false};
  if (state.documentStarted != 0) return {nullptr, 0, state.documentExitCode, true};
  std::size_t length = append(0, state.head);
  length = appendNumber(append(append(length, kind), " "), code, hexadecimal);
  const char* part = state.part;
  if (part != nullptr) length = append(append(length, " in "), part);
  length = append(length, state.tail);
  return {state.report, length, 1, true};
}
