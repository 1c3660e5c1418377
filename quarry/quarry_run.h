#pragma once

#include "quarry_platform.h"

// quarry's whole run: prints the device document or an error document and returns the
// exit code (0 or 1).
int runQuarry(const QuarryPlatform& platform);
