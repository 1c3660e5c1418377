#include "child_process/full_path.h"

#include <windows.h>

#include "gpu_inventory/inventory.h"
#include "win32/utf16.h"

namespace gpu_inventory {

std::string fullFolderPath(const std::string& folder) {
  const std::wstring wide = utf16Of(folder);
  std::wstring full(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length == 0) return folder;
    if (length < full.size()) {
      full.resize(length);
      return utf8Of(full);
    }
    full.resize(length);  // the size it needs, with its terminating zero
  }
  return folder;  // the current directory kept changing while it was read
}

std::string thisExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return {};  // longer than any Windows path
    path.resize(path.size() * 2);
  }
  // With its separator: "D:" alone would be drive D's current directory, not its root.
  return folderOf(utf8Of(path));
}

}  // namespace gpu_inventory
