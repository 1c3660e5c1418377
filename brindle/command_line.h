#pragma once
// brindle's command line: --luid-low <uint32> --luid-high <int32>, --help, -h.

#include <cstdint>

struct LuidArguments {
  std::uint32_t lowPart = 0;
  std::int32_t highPart = 0;
  bool lowGiven = false;
  bool highGiven = false;
  bool helpRequested = false;  // the scan stopped at --help or -h
};

// Scans argv[1..argc-1] once, left to right; unknown arguments are ignored.
LuidArguments scanCommandLine(int argc, const char* const* argv);

// Decimal conversions that never fail: white space, one sign, digits up to the first
// non-digit; out-of-range magnitudes saturate.
std::uint32_t toUnsigned32(const char* text);
std::int32_t toSigned32(const char* text);
