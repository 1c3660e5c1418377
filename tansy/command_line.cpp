#include "command_line.h"

#include <cstring>

#include "decimal_values.h"

TansyArguments scanTansyCommandLine(int argc, const char* const* argv) {
  TansyArguments args;
  bool lowGiven = false;
  bool highGiven = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc && argv[i + 1] != nullptr;
    // The value after an option is taken whatever it looks like; the last one given counts.
    if (arg != nullptr && std::strcmp(arg, "--luid-low") == 0 && hasValue) {
      args.filter.lowPart = toUnsigned32(argv[++i]);
      lowGiven = true;
    } else if (arg != nullptr && std::strcmp(arg, "--luid-high") == 0 && hasValue) {
      args.filter.highPart = toSigned32(argv[++i]);
      highGiven = true;
    } else {
      args.valid = false;  // --help, an unknown argument, an option without its value
      return args;
    }
  }
  args.valid = lowGiven == highGiven;
  args.filter.given = lowGiven && highGiven;
  return args;
}
