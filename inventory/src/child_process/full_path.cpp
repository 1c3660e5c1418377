#include "child_process/full_path.h"

namespace gpu_inventory {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const char* executablePathProblem(const std::string& path) {
  // "C:\..." or "\\server\share\...", "\\?\C:\...": never "C:probe.exe" or "\probe.exe",
  // which Windows resolves against a current directory.
  const bool driveFull = path.size() > 3 && isLetter(path[0]) && path[1] == ':' && isSeparator(path[2]);
  const bool uncFull = path.size() > 2 && isSeparator(path[0]) && isSeparator(path[1]);
  if (!driveFull && !uncFull) return "not a full path";
  // CreateProcessW would read the name only up to a NUL: "x.bat\0.exe" runs x.bat.
  if (path.find('\0') != std::string::npos) return "a NUL in the path";
  const std::size_t nameStart = path.find_last_of("\\/") + 1;
  const std::string name = path.substr(nameStart);
  static const char exe[] = ".exe";
  bool isExe = name.size() > 4 && name.find(':') == std::string::npos;  // no stream of a file
  for (std::size_t i = 0; isExe && i < 4; ++i) isExe = lower(name[name.size() - 4 + i]) == exe[i];
  return isExe ? nullptr : "not an .exe";
}

std::string folderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace gpu_inventory
