#include "preferences/program_path.h"

namespace gpu_inventory {
namespace {

bool letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool isFullWindowsPath(const std::string& path) {
  // Windows takes '/' for '\' in a path: "C:/a/b.exe" is as full as "C:\a\b.exe".
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && letter(path[0]) && path[1] == ':' && separator(path[2])) return true;
  return path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
}

std::string withoutDevicePrefix(const std::string& path) {
  if (path.size() < 4 || (path.compare(0, 4, "\\\\?\\") != 0 && path.compare(0, 4, "\\\\.\\") != 0)) {
    return path;
  }
  const std::string rest = path.substr(4);
  if (rest.size() >= 3 && letter(rest[0]) && rest[1] == ':' && rest[2] == '\\') return rest;
  const bool unc = rest.size() > 4 && (rest[0] | 0x20) == 'u' && (rest[1] | 0x20) == 'n' && (rest[2] | 0x20) == 'c' &&
                   rest[3] == '\\';
  return unc ? "\\\\" + rest.substr(4) : path;
}

}  // namespace gpu_inventory
