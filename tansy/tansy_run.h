#pragma once

#include "tansy_platform.h"

// The whole run of tansy.exe: its document on standard output; returns the exit code.
int runTansy(int argc, const char* const* argv, const TansyPlatform& platform);
