#include "json_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "output_guard.h"

std::string jsonEscape(const char* data, std::size_t length) {
  std::string out;
  out.reserve(length + 16);
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    switch (byte) {
      case 0x22: out += "\\\""; break;
      case 0x5C: out += "\\\\"; break;
      case 0x08: out += "\\b"; break;
      case 0x0C: out += "\\f"; break;
      case 0x0A: out += "\\n"; break;
      case 0x0D: out += "\\r"; break;
      case 0x09: out += "\\t"; break;
      default:
        if (byte < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
          out += escaped;
        } else {
          out += static_cast<char>(byte);
        }
    }
  }
  return out;
}

std::string jsonEscape(const std::string& input) { return jsonEscape(input.data(), input.size()); }

void printJsonError(const char* code, const char* message) {
  const std::string escapedCode = jsonEscape(code, std::strlen(code));
  const std::string escapedMessage = jsonEscape(message, std::strlen(message));
  std::string document;
  appendFormatted(document, errorFormat, escapedCode.c_str(), escapedMessage.c_str());
  emitDocument(document, 1);
}

void appendFormatted(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed > 0) {
    const std::size_t start = out.size();
    const auto length = static_cast<std::size_t>(needed);
    out.resize(start + length + 1);
    std::vsnprintf(&out[start], length + 1, format, args);
    out.resize(start + length);
  }
  va_end(args);
}

MessageBuffer formatMessage(const char* format, ...) {
  MessageBuffer buffer{};
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer.text, sizeof buffer.text, format, args);
  va_end(args);
  return buffer;
}
