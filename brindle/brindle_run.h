#pragma once

#include "brindle_platform.h"

// brindle's whole run: prints one document and returns the exit code (0, 1 or 2).
int runBrindle(int argc, const char* const* argv, const BrindlePlatform& platform);
