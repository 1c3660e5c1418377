#pragma once
// Whose graphics settings the inventory reports: a program named by its executable's full path.

#include <string>

namespace gpu_inventory {

// The full path of the executable of the process that started this one (UTF-8), when that can
// be told safely: empty when that process has ended, or when a process younger than this one
// now has its id (the parent ended and its id was given again). Windows only.
std::string parentExecutable();

// Whether the text is a full Windows path: a drive letter, ':' and '\', or a UNC path.
bool isFullWindowsPath(const std::string& path);

}  // namespace gpu_inventory
