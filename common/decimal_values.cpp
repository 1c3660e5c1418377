#include "decimal_values.h"

namespace {

struct ScannedNumber {
  bool negative;
  std::uint64_t magnitude;  // saturated just above 2^32, so it cannot overflow
};

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

ScannedNumber scanNumber(const char* text) {
  constexpr std::uint64_t kCap = 0x100000000ULL + 1;
  ScannedNumber number{false, 0};
  const char* p = text;
  while (isSpace(*p)) ++p;
  if (*p == '+' || *p == '-') {
    number.negative = (*p == '-');
    ++p;
  }
  for (; *p >= '0' && *p <= '9'; ++p) {
    number.magnitude = number.magnitude * 10 + static_cast<std::uint64_t>(*p - '0');
    if (number.magnitude > kCap) number.magnitude = kCap;
  }
  return number;
}

}  // namespace

std::uint32_t toUnsigned32(const char* text) {
  const ScannedNumber number = scanNumber(text);
  if (number.magnitude > 0xFFFFFFFFULL) return 0xFFFFFFFFu;
  const auto value = static_cast<std::uint32_t>(number.magnitude);
  return number.negative ? 0u - value : value;
}

std::int32_t toSigned32(const char* text) {
  const ScannedNumber number = scanNumber(text);
  if (number.negative) {
    if (number.magnitude >= 0x80000000ULL) return INT32_MIN;
    return -static_cast<std::int32_t>(number.magnitude);
  }
  if (number.magnitude > 0x7FFFFFFFULL) return INT32_MAX;
  return static_cast<std::int32_t>(number.magnitude);
}
