// inventory.exe: the probes run from one folder, their answers joined and printed.
#include <windows.h>

#include <string>
#include <vector>

#include "inventory_output.h"
#include "tool_options.h"
#include "utf16.h"

namespace {

// The folder that holds this .exe, where the probes ship beside it.
std::string ownFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return ".";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return utf8Of(path.substr(0, path.find_last_of(L"\\/")));
}

// To a console as UTF-16, whatever its code page; to a pipe or a file as the UTF-8 bytes, line
// feeds untouched. False when not all of it could be written.
bool writeAll(HANDLE handle, const std::string& text) {
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = utf16Of(text);
    DWORD written = 0;
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
           written == wide.size();
  }
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                   nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(utf8Of(argv[i]));
  const ToolOptions options = parseToolOptions(arguments);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!options.usageError.empty()) {
    writeAll(GetStdHandle(STD_ERROR_HANDLE), "inventory: " + options.usageError + "\n" + toolUsage);
    return 2;
  }
  if (options.help) return writeAll(output, toolUsage) ? 0 : 1;

  const Inventory inventory =
      takeInventory(options.bin.empty() ? ownFolder() : options.bin, options.inventory);
  const std::string text = options.json ? inventoryDocument(inventory) : inventoryTable(inventory);
  if (!writeAll(output, text)) return 1;
  return inventory.fennel.run.outcome == Outcome::answered ? 0 : 1;
}
