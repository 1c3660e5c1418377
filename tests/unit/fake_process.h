#pragma once
// A fake of the process's standard output, crash and exit handling: the document lands in
// memory, the fault "write the document" fails the write (a closed output, a full disk), the
// fault "open the null device" fails the guard, and what the run asked for is recorded.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform_api.h"

namespace fake_process {

struct Process {
  std::string written;     // what reached the kept standard output
  bool silenced = false;   // the run pointed the process's standard output elsewhere
  bool crashesCaught = false;
  bool exitsCaught = false;
  // For each install of the crash handlers, the platform call last seen before it, and how
  // many calls had been seen then.
  std::vector<std::string> crashHandlersInstalledAfter;
  std::vector<std::size_t> crashHandlersInstalledAtCall;
  int endedWith = -1;      // the exit code the run ended the process with
  bool awaitedEnd = false;  // the run left the end to a report under way
  std::atomic<bool> reportWaited{false};  // a report waited for a document being written
  // Runs inside the write, after its first half has landed: a crash partway through.
  std::function<void()> duringWrite;
};

Process& process();
void reset();  // also disarms any fault
ProcessApi api();

}  // namespace fake_process
