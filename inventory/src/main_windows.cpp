// inventory.exe: the probes run from one folder, their answers joined and printed.
#include <windows.h>

#include <exception>
#include <string>
#include <vector>

#include "gpu_inventory/inventory.h"
#include "inventory_output.h"
#include "tool_options.h"
#include "utf16.h"

using namespace gpu_inventory;

namespace {

// To a console as UTF-16, whatever its code page; to a pipe or a file as the UTF-8 bytes, line
// feeds untouched; what a short write left is written next. False when not all of it could be
// written.
bool writeAll(HANDLE handle, const std::string& text) {
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = utf16Of(text);
    std::size_t done = 0;
    while (done < wide.size()) {
      DWORD written = 0;
      if (!WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(wide.size() - done),
                         &written, nullptr) || written == 0) {
        return false;
      }
      done += written;
    }
    return true;
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

int run(const std::vector<std::string>& arguments) {
  const ToolOptions options = parseToolOptions(arguments);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!options.usageError.empty()) {
    writeAll(GetStdHandle(STD_ERROR_HANDLE), "inventory: " + options.usageError + "\n" + toolUsage);
    return 2;
  }
  if (options.help) return writeAll(output, toolUsage) ? 0 : 1;

  const Inventory inventory =
      takeInventory(options.bin.empty() ? thisExecutableFolder() : options.bin, options.inventory);
  const std::string text = options.json ? inventoryDocument(inventory) : inventoryTable(inventory);
  if (!writeAll(output, text)) return 1;
  return inventory.fennel.run.outcome == Outcome::answered ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(utf8Of(argv[i]));
    return run(arguments);
  } catch (const std::exception& error) {
    // Out of memory or threads: said on standard error, never a half-written document.
    writeAll(GetStdHandle(STD_ERROR_HANDLE), std::string("inventory: ") + error.what() + "\n");
    return 1;
  }
}
