#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define PROBES_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define PROBES_LEAK_CHECK 1
#endif
#endif

#include "output_guard.h"
#include "platform_api.h"

namespace {

int keptStdout = -1;  // the original standard output, for the document alone

bool writeAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool silenceStdout() {
  std::fflush(stdout);
  keptStdout = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  // A parent that closed its end makes the write fail (exit 1) instead of killing the probe.
  signal(SIGPIPE, SIG_IGN);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return false;
  if (null == STDOUT_FILENO) return true;
  const bool moved = dup2(null, STDOUT_FILENO) == STDOUT_FILENO;
  close(null);
  return moved;
}

bool writeStdout(const char* bytes, std::size_t length) {
  return keptStdout >= 0 && writeAll(keptStdout, bytes, length);
}

// Writes the report's document, if it has one, and ends the process with its exit code.
[[noreturn]] void endWith(const FatalReport& report) {
  if (!report.first) {
    for (;;) pause();  // another thread ends the process
  }
  if (report.length > 0 && keptStdout >= 0) writeAll(keptStdout, report.bytes, report.length);
  _exit(report.exitCode);
}

void onFatalSignal(int signalNumber) {
  endWith(reportCrash("signal", static_cast<std::uint32_t>(signalNumber), false));
}

// std::terminate, reported as the abort it would have become, without the default handler's
// allocation and message on standard error.
[[noreturn]] void onTerminate() {
  endWith(reportCrash("signal", static_cast<std::uint32_t>(SIGABRT), false));
}

// exit() from any thread: the run's own end never calls it (endProcess).
void onExit() { endWith(reportExit(true)); }

// A crash from a stack overflow still needs a stack to report on. Only the main thread has
// this one: an overflow in a thread that a driver started ends the process without a report.
alignas(16) char alternateStack[64 * 1024];

void catchCrashes() {
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = onFatalSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_ONSTACK;
  for (const int fatal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) sigaction(fatal, &action, nullptr);
  std::set_terminate(onTerminate);
}

void catchExits() {
  static bool registered = false;
  if (!registered) registered = std::atexit(onExit) == 0;
}

std::uint64_t currentThread() { return static_cast<std::uint64_t>(gettid()); }

void yieldToOthers() {
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
}

void awaitEnd() {
  for (;;) pause();
}

// The document decides the exit code: _exit, so that no destructor of a driver still loaded
// and no exit handler runs after it. A sanitized build checks for leaks first, as its exit
// would have, with the default abort so that a leak fails the run rather than becoming a
// report.
void endProcess(int exitCode) {
#ifdef PROBES_LEAK_CHECK
  signal(SIGABRT, SIG_DFL);
  __lsan_do_leak_check();
#endif
  _exit(exitCode);
}

}  // namespace

ProcessApi posixProcessApi() {
  return {silenceStdout, writeStdout,   catchCrashes, catchExits,
          currentThread, yieldToOthers, awaitEnd,     endProcess};
}
