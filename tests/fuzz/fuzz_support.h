#pragma once
// What the fuzz targets share: capturing what a run prints, and a UTF-8 check.

#include <cstdio>
#include <cstdlib>
#include <string>

// Runs body with standard output going to memory; returns what it printed.
template <typename Body>
std::string printedBy(Body&& body) {
  std::fflush(stdout);
  char* data = nullptr;
  std::size_t size = 0;
  FILE* memory = open_memstream(&data, &size);
  if (memory == nullptr) std::abort();
  FILE* saved = stdout;
  stdout = memory;
  body();
  std::fflush(memory);
  stdout = saved;
  std::fclose(memory);
  std::string out(data, size);
  std::free(data);
  return out;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool isUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    unsigned long cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}
