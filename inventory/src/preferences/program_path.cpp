#include "preferences/program_path.h"

namespace gpu_inventory {

bool isFullWindowsPath(const std::string& path) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  // Windows takes '/' for '\' in a path: "C:/a/b.exe" is as full as "C:\a\b.exe".
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && letter(path[0]) && path[1] == ':' && separator(path[2])) return true;
  return path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
}

}  // namespace gpu_inventory
