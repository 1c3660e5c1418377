#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

void silenceStdout() {
  std::fflush(stdout);
  keptStdout = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0 && null != STDOUT_FILENO) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  // A parent that closed its end makes the write fail (exit 1) instead of killing the probe.
  signal(SIGPIPE, SIG_IGN);
}

bool writeStdout(const char* bytes, std::size_t length) {
  // Chatter still in a stdio buffer goes to the null device now, never after the document.
  std::fflush(stdout);
  return keptStdout >= 0 && writeAll(keptStdout, bytes, length);
}

// Writes the report's document, if it has one, and ends the process with its exit code.
[[noreturn]] void endWith(const FatalReport& report) {
  if (!report.first) {
    for (;;) pause();  // another thread is reporting and ends the process
  }
  if (report.length > 0 && keptStdout >= 0) writeAll(keptStdout, report.bytes, report.length);
  _exit(report.exitCode);
}

void onFatalSignal(int signalNumber) {
  endWith(reportCrash("signal", static_cast<std::uint32_t>(signalNumber), false));
}

// exit() from any thread, before the run's own end.
void onExit() {
  const FatalReport report = reportExit();
  if (report.runEnded) return;  // the run's own exit goes on, the sanitizers' leak check too
  endWith(report);
}

// A crash from a stack overflow still needs a stack to report on.
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
}

void catchExits() {
  static bool registered = false;
  if (!registered) registered = std::atexit(onExit) == 0;
}

// main returns and the exit goes on: the exit handler sees that the run has ended.
void endProcess(int) {}

}  // namespace

ProcessApi posixProcessApi() {
  return {silenceStdout, writeStdout, catchCrashes, catchExits, endProcess};
}
