#include "version_format.h"

#include <cstdio>

namespace {

std::string formatted(const char* format, unsigned a, unsigned b, unsigned c = 0, unsigned d = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

}  // namespace

std::string formatApiVersion(std::uint32_t v) {
  return formatted("%u.%u.%u", v >> 22, (v >> 12) & 0x3FFu, v & 0xFFFu);
}

std::string formatDriverVersion(std::uint32_t v, std::uint32_t vendorId) {
  if (vendorId == kVendorNvidia) {
    return formatted("%u.%u.%u.%u", v >> 22, (v >> 14) & 0xFFu, (v >> 6) & 0xFFu, v & 0x3Fu);
  }
  if (vendorId == kVendorIntel) return formatted("%u.%u", v >> 14, v & 0x3FFFu);
  return formatApiVersion(v);
}
