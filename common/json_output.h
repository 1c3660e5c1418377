#pragma once
// Writing the one JSON document that each probe prints on standard output.

#include <cstddef>
#include <string>

// The error document of the deliverable being built, code first, then message, ending in
// a line feed. Each probe defines it once.
extern const char errorFormat[];

// Messages that carry values are formatted into a buffer of this size; longer ones are cut.
constexpr std::size_t kMessageBufferSize = 128;

struct MessageBuffer {
  char text[kMessageBufferSize];
};

// Puts standard output into binary mode, so that a line feed is written as the single
// byte 0x0A. The first thing every entry point does.
void setBinaryStdout();

// JSON string content for a counted byte string, without the surrounding quotes.
std::string jsonEscape(const char* data, std::size_t length);
std::string jsonEscape(const std::string& input);

// Prints the deliverable's error document (exit code 1); code and message are data, never
// formats.
void printJsonError(const char* code, const char* message);

// snprintf into a 128-byte buffer: at most 127 characters, always NUL-terminated.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 1, 2)))
#endif
MessageBuffer formatMessage(const char* format, ...);

// Appends printf-formatted text to a document being built; a document is written in one
// piece once it is whole (output_guard.h).
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 2, 3)))
#endif
void appendFormatted(std::string& out, const char* format, ...);

// The bare JSON literal for a boolean.
inline const char* jsonBool(bool value) { return value ? "true" : "false"; }
