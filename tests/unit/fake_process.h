#pragma once
// A fake of the process's standard output and crash handling: the document lands in memory,
// the fault "write the document" fails the write (a closed output, a full disk), and what
// the run asked for is recorded.

#include <string>

#include "platform_api.h"

namespace fake_process {

struct Process {
  std::string written;     // what reached the kept standard output
  bool silenced = false;   // the run pointed the process's standard output elsewhere
  bool crashesCaught = false;
};

Process& process();
void reset();  // also disarms any fault
ProcessApi api();

}  // namespace fake_process
