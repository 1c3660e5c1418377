#pragma once

#include "sorrel_platform.h"

// sorrel's whole run: prints the adapter document or an error document and returns the exit
// code (0 or 1).
int runSorrel(const SorrelPlatform& platform);
