#pragma once
// brindle's command line: --luid-low <uint32> --luid-high <int32>, --help, -h.

#include <cstdint>

#include "decimal_values.h"

struct LuidArguments {
  std::uint32_t lowPart = 0;
  std::int32_t highPart = 0;
  bool lowGiven = false;
  bool highGiven = false;
  bool helpRequested = false;  // the scan stopped at --help or -h
};

// Scans argv[1..argc-1] once, left to right; unknown arguments are ignored.
LuidArguments scanCommandLine(int argc, const char* const* argv);
