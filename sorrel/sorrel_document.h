#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "adapter_state.h"

// The user-mode driver version as "a.b.c.d": four 16-bit numbers from the high word of the
// high part to the low word of the low part.
std::string driverVersionText(std::uint64_t version);

// The document of a run that listed the adapters: one line, ending in a line feed.
std::string adapterDocument(const std::vector<AdapterState>& adapters);
