#include "output_guard.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "json_output.h"

namespace {

struct GuardState {
  bool guarded = false;  // without a guard the document goes to stdout as it is
  bool crashesGuarded = false;
  ProcessApi process{};
  std::atomic<const char*> part{nullptr};
  // The error document around its code and its message, and the room to assemble it.
  char beforeCode[160] = {};
  char beforeMessage[32] = {};
  char tail[16] = {};
  char report[320] = {};
};

GuardState state;

// The document's life in one word: the phase in the low two bits and, while the document is
// being written, the writing thread's identifier above them.
enum Phase : std::uint64_t { kNothingWritten = 0, kWriting = 1, kWritten = 2, kEnding = 3 };
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "claimed from signal handlers");
std::atomic<std::uint64_t> documentPhase{kNothingWritten};
std::atomic<int> documentExitCode{1};  // the written document's; read once it is written
std::atomic<int> endingExitCode{1};    // the code that the thread which claimed the end chose

std::uint64_t phaseOf(std::uint64_t word) { return word & 3u; }
std::uint64_t writingByThisThread() { return state.process.currentThread() << 2 | kWriting; }

// What a report or the run's end found when it claimed the last phase.
struct Ending {
  bool first;        // false: another thread had claimed it and ends the process
  bool written;      // the document had been written (whole, or its write had failed)
  bool begun;        // a document was being written: it may be cut
};

// Claims the last phase. A document being written by another thread is waited for where that
// thread still runs; one being written by this thread (its own crash) is left cut.
Ending claimEnd(bool waitForOtherWriter) {
  const std::uint64_t self = writingByThisThread();
  std::uint64_t seen = documentPhase.load();
  for (;;) {
    if (phaseOf(seen) == kEnding) return {false, false, false};
    if (phaseOf(seen) == kWriting && seen != self && waitForOtherWriter) {
      state.process.yieldToOthers();
      seen = documentPhase.load();
      continue;
    }
    if (documentPhase.compare_exchange_weak(seen, kEnding)) {
      return {true, phaseOf(seen) == kWritten, phaseOf(seen) == kWriting};
    }
  }
}

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
  const char* part = state.part.load();
  if (part != nullptr) at = append(append(at, " in "), part);
  return append(at, state.tail);
}

// The report for what the claim found: the error document only when nothing had been begun.
FatalReport reportFor(const Ending& ending, const char* code, const char* firstWord,
                      std::uint32_t number, bool withNumber, bool hexadecimal) {
  if (!ending.first) return {nullptr, 0, 1, false};
  if (ending.written) {
    endingExitCode = documentExitCode.load();
    return {nullptr, 0, endingExitCode.load(), true};
  }
  endingExitCode = 1;
  if (ending.begun) return {nullptr, 0, 1, true};
  std::size_t at = startReport(code, firstWord);
  if (withNumber) at = appendNumber(append(at, " "), number, hexadecimal);
  return {state.report, finishReport(at), 1, true};
}

}  // namespace

bool guardStdout(const ProcessApi& process) {
  state.guarded = true;
  state.crashesGuarded = false;
  state.process = process;
  state.part = nullptr;
  documentPhase = kNothingWritten;
  documentExitCode = 1;
  endingExitCode = 1;
  prepareReports();
  if (process.silenceStdout()) return true;
  printJsonError(kNullDeviceUnavailable, "The null device could not be opened");
  return false;
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

bool emitDocument(const std::string& document, int exitCode) {
  if (!state.guarded) {
    return std::fwrite(document.data(), 1, document.size(), stdout) == document.size() &&
           std::fflush(stdout) == 0;
  }
  // Nothing may run between the claim and the write: a crash there would leave no document.
  const std::uint64_t self = writingByThisThread();
  std::uint64_t expected = kNothingWritten;
  if (!documentPhase.compare_exchange_strong(expected, self)) return false;
  const bool written = state.process.writeStdout(document.data(), document.size());
  documentExitCode = written ? exitCode : 1;
  expected = self;
  documentPhase.compare_exchange_strong(expected, kWritten);
  return written;
}

int endRun() {
  const Ending ending = claimEnd(true);
  if (!ending.first) {
    state.process.awaitEnd();  // a report under way ends the process with its own code
    return 1;
  }
  const int code = ending.written ? documentExitCode.load() : 1;
  endingExitCode = code;
  state.process.endProcess(code);
  return code;
}

FatalReport reportCrash(const char* kind, std::uint32_t code, bool hexadecimal) {
  return reportFor(claimEnd(true), "platform_crashed", kind, code, true, hexadecimal);
}

FatalReport reportExit(bool otherThreadsRun) {
  const Ending ending = claimEnd(otherThreadsRun);
  if (!ending.first && !otherThreadsRun) {
    // The thread that claimed the end went with every other: this one ends the process, with
    // the code that thread chose.
    return {nullptr, 0, endingExitCode.load(), true};
  }
  return reportFor(ending, "platform_exited", "exit", 0, false, false);
}
