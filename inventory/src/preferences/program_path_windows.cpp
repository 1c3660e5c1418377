#include "preferences/program_path.h"

#include <windows.h>
#include <tlhelp32.h>

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

}  // namespace

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
