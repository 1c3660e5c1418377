#pragma once
// Whose graphics settings the inventory reports: a program named by its executable's full path.

#include <string>

namespace gpu_inventory {

// The full path of the executable of the process that started this one (UTF-8), when that can
// be told safely: empty when that process has ended, or when a process younger than this one
// now has its id (the parent ended and its id was given again). Windows only.
std::string parentExecutable();

// Whether the text is a full Windows path: a drive letter, ':' and a separator, or a UNC path;
// either separator, '\' or '/'.
bool isFullWindowsPath(const std::string& path);

// The path without a "\\?\" or "\\.\" prefix, which Windows never writes where it keeps a
// program's settings: "\\?\C:\a.exe" is "C:\a.exe", "\\?\UNC\srv\s\a.exe" is
// "\\srv\s\a.exe"; any other path as given.
std::string withoutDevicePrefix(const std::string& path);

// The path made full and long, as Windows names a program where it keeps its settings: without
// a "\\?\" prefix, "." and ".." resolved, '/' made '\', short 8.3 names made long when the file
// exists. A path that is not full comes back as given, never resolved against a current
// directory, as does one that cannot be resolved. Windows only: elsewhere as given.
std::string longFullPath(const std::string& path);

}  // namespace gpu_inventory
