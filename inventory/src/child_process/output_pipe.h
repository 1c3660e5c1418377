#pragma once
// The pipe that carries a child's standard output to us. Windows only.

#include <cstdint>

#include "win32/win32_handle.h"

namespace gpu_inventory {

struct OutputPipe {
  Win32Handle readEnd;   // ours, overlapped, so that it can be read with a timeout
  Win32Handle writeEnd;  // the child's, inheritable
};

// A named pipe that only the current user may open (the process token's user alone in its
// access list), named by 128 random bits, with one more name when the first is taken already;
// 0 or the Win32 error.
std::uint32_t openOutputPipe(OutputPipe& pipe);

}  // namespace gpu_inventory
