#pragma once
// Second match: the LUID that each GPU device with cl_khr_device_uuid reports, compared
// with the LUID from the command line.

#include <cstdint>
#include <vector>

#include "match_document.h"
#include "opencl_runtime.h"

// Prints the match document and returns true for the first device, in platform order
// and then list order, whose LUID equals the given one; returns false otherwise.
bool matchByLuid(std::uint32_t lowPart, std::int32_t highPart,
                 const std::vector<cl_platform_id>& platforms, const OpenClRuntime& runtime,
                 MatchCounters& counters);
