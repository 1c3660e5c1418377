#pragma once
// tansy's command line: nothing (every adapter), or --luid-low <uint32> --luid-high <int32>
// (the one adapter with that LUID). Anything else is a usage error.

#include "capabilities.h"

struct TansyArguments {
  bool valid = true;
  LuidFilter filter;
};

TansyArguments scanTansyCommandLine(int argc, const char* const* argv);
