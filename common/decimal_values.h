#pragma once
// The LUID parts that a probe takes on its command line (--luid-low, --luid-high), as decimal
// text: the low part unsigned, the high part signed, as the documents print them.

#include <cstdint>

// Conversions that never fail: white space, one sign, digits up to the first non-digit;
// out-of-range magnitudes saturate.
std::uint32_t toUnsigned32(const char* text);
std::int32_t toSigned32(const char* text);
