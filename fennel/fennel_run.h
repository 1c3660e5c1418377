#pragma once

#include "fennel_platform.h"

// fennel's whole run: prints the adapter document or an error document and returns the
// exit code (0 or 1).
int runFennel(const FennelPlatform& platform);
