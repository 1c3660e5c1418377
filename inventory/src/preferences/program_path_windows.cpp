#include "preferences/program_path.h"

#include <windows.h>
#include <tlhelp32.h>

#include <optional>

#include "gpu_inventory/graphics_settings.h"
#include "win32/utf16.h"
#include "win32/win32_handle.h"

namespace gpu_inventory {
namespace {

// The process's executable as a Win32 path, as Windows names it (long names, whatever the
// process was started with); empty when it cannot be read.
std::string imagePathOf(HANDLE process) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    auto length = static_cast<DWORD>(path.size());
    if (QueryFullProcessImageNameW(process, 0, &path[0], &length)) {
      path.resize(length);
      return utf8Of(path);
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// The id of the process that started this one, 0 when it cannot be found.
DWORD parentId() {
  const Win32Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
  }
  return 0;
}

bool createdAt(HANDLE process, FILETIME& created) {
  FILETIME exited{}, kernel{}, user{};
  return GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
}

// A path from a call that answers as GetFullPathNameW and GetLongPathNameW do: its length when
// it fit, else the size it needs with its NUL, 0 on failure. None on failure, or when the
// answer keeps growing (a folder on the way renamed meanwhile).
template <typename Ask>
std::optional<std::wstring> pathFrom(Ask ask) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = ask(&path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
  return std::nullopt;
}

}  // namespace

std::string longFullPath(const std::string& path) {
  const std::string plain = withoutDevicePrefix(path);
  if (!isFullWindowsPath(plain)) return path;
  const std::wstring given = utf16Of(plain);
  const std::optional<std::wstring> full = pathFrom([&](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(given.c_str(), size, buffer, nullptr);
  });
  // A DOS device's name ("C:\x\nul.exe" on Windows 10 and Wine) comes back as "\\.\nul", which
  // names no program: the path stays as given.
  if (!full || full->compare(0, 4, L"\\\\.\\") == 0) return plain;
  // Only an 8.3 name holds '~': no other path is asked of the file system, which for a share
  // whose server is gone can take many seconds. Fails when the file, or a folder on its way,
  // does not exist: the full path is then as near as can be told.
  if (full->find(L'~') == std::wstring::npos) return utf8Of(*full);
  const std::optional<std::wstring> longer = pathFrom([&](wchar_t* buffer, DWORD size) {
    return GetLongPathNameW(full->c_str(), buffer, size);
  });
  return utf8Of(longer ? *longer : *full);
}

std::string thisExecutablePath() { return imagePathOf(GetCurrentProcess()); }

std::string parentExecutable() {
  const DWORD id = parentId();
  if (id == 0) return {};
  const Win32Handle parent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
  if (!parent || WaitForSingleObject(parent.get(), 0) != WAIT_TIMEOUT) return {};  // gone
  // A parent is older than its child; a younger process took the id of one that ended. Held
  // open now, the id cannot pass to another process before the name is read.
  FILETIME parentCreated{}, selfCreated{};
  if (!createdAt(parent.get(), parentCreated) || !createdAt(GetCurrentProcess(), selfCreated) ||
      CompareFileTime(&parentCreated, &selfCreated) > 0) {
    return {};
  }
  return imagePathOf(parent.get());
}

}  // namespace gpu_inventory
