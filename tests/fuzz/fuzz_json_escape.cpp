// jsonEscape over arbitrary bytes: the output, in quotes, is always one well-formed JSON
// string token, and for UTF-8 input it decodes back to exactly the input.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "json_output.h"

const char errorFormat[] = "{\"code\":\"%s\",\"message\":\"%s\"}\n";

namespace {

// A JSON string body: no raw control byte, no raw quote, only the escapes JSON knows.
bool isStringContent(const std::string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == '"') return false;
    if (c != '\\') continue;
    if (++i == s.size()) return false;
    switch (s[i]) {
      case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': break;
      case 'u':
        if (i + 4 >= s.size()) return false;
        for (int k = 1; k <= 4; ++k) {
          if (!std::isxdigit(static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]))) return false;
        }
        i += 4;
        break;
      default: return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string escaped = jsonEscape(input);
  if (!isStringContent(escaped)) std::abort();
  if (escaped.find('\0') != std::string::npos) std::abort();
  if (isUtf8(input)) {
    const auto parsed = nlohmann::json::parse("\"" + escaped + "\"", nullptr, false);
    if (parsed.is_discarded() || parsed.get<std::string>() != input) std::abort();
  }
  return 0;
}
