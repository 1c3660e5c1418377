#include "child_process/command_line.h"

namespace gpu_inventory {
namespace {

// One argument: as it is when nothing in it needs quoting, else quoted, with the backslashes
// that precede a quote (or the closing quote) doubled and each quote escaped.
void appendArgument(std::string& line, const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      line.append(2 * backslashes + 1, '\\');
    } else {
      line.append(backslashes, '\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, '\\');
  line += '"';
}

}  // namespace

std::string windowsCommandLine(const std::string& executable,
                               const std::vector<std::string>& arguments) {
  // The program name is read up to the closing quote, with no escapes: a path holds no
  // quotes, and quoting it always keeps a path with spaces whole.
  std::string line = "\"";
  for (char c : executable) {
    if (c != '"') line += c;
  }
  line += '"';
  for (const std::string& argument : arguments) {
    line += ' ';
    appendArgument(line, argument);
  }
  return line;
}

}  // namespace gpu_inventory
