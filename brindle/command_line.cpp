#include "command_line.h"

#include <cstring>

#include "decimal_values.h"

LuidArguments scanCommandLine(int argc, const char* const* argv) {
  LuidArguments args;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr) continue;
    const bool hasValue = i + 1 < argc && argv[i + 1] != nullptr;
    if (std::strcmp(arg, "--luid-low") == 0 && hasValue) {
      args.lowPart = toUnsigned32(argv[++i]);
      args.lowGiven = true;
    } else if (std::strcmp(arg, "--luid-high") == 0 && hasValue) {
      args.highPart = toSigned32(argv[++i]);
      args.highGiven = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      args.helpRequested = true;
      return args;
    }
  }
  return args;
}
