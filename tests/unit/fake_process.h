#pragma once
// A fake of the process's standard output and crash handling: the document lands in memory,
// a write can be made to fail, and what the run asked for is recorded.

#include <string>

#include "platform_api.h"

namespace fake_process {

struct Process {
  std::string written;     // what reached the kept standard output
  bool silenced = false;   // the run pointed the process's standard output elsewhere
  bool crashesCaught = false;
  bool writesFail = false;  // as with a closed standard output or a full disk
};

Process& process();
void reset();
ProcessApi api();

}  // namespace fake_process
