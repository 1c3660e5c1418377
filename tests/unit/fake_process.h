#pragma once
// A fake of the process's standard output, crash and exit handling: the document lands in
// memory, the fault "write the document" fails the write (a closed output, a full disk), and
// what the run asked for is recorded.

#include <string>
#include <vector>

#include "platform_api.h"

namespace fake_process {

struct Process {
  std::string written;     // what reached the kept standard output
  bool silenced = false;   // the run pointed the process's standard output elsewhere
  bool crashesCaught = false;
  bool exitsCaught = false;
  // For each install of the crash handlers, the platform call last seen before it.
  std::vector<std::string> crashHandlersInstalledAfter;
  int endedWith = -1;      // the exit code the run ended the process with
};

Process& process();
void reset();  // also disarms any fault
ProcessApi api();

}  // namespace fake_process
