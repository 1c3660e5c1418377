// inventory.exe: the probes run from one folder, their answers joined and printed.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "gpu_inventory/inventory.h"
#include "inventory_output.h"
#include "preferences/program_path.h"
#include "progress_line.h"
#include "tool_options.h"
#include "win32/utf16.h"

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

// The line on standard error that names the run still awaited, when that is a console: a ticker
// thread over the board that the runner keeps. finish() stops it at once, joins it and clears
// the line, so nothing of it is left when standard output is written.
class ConsoleProgress {
 public:
  explicit ConsoleProgress(bool wanted) {
    DWORD mode = 0;
    if (!wanted || !GetConsoleMode(console_, &mode)) return;  // a pipe, a file, the null device
    try {
      ticker_ = std::thread([this] {
        try {
          board_.tick([this](const std::string& line) { show(line); });
        } catch (...) {
          // Out of memory: no more progress; finish() still clears the line.
        }
      });
    } catch (...) {
      // No thread: no progress.
    }
  }
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;
  ~ConsoleProgress() { finish(); }

  ProbeRunner runner() {
    return ticker_.joinable() ? runnerOnBoard(board_, runProbe) : ProbeRunner(runProbe);
  }

  void finish() noexcept {
    board_.stop();
    if (!ticker_.joinable()) return;
    try {
      ticker_.join();
    } catch (...) {
      return;  // cannot happen: joined once, from another thread
    }
    show("");
  }

 private:
  // Cut to the console's width as it is now; a failed write only loses the line.
  void show(const std::string& line) noexcept {
    try {
      CONSOLE_SCREEN_BUFFER_INFO info{};
      const std::size_t columns = GetConsoleScreenBufferInfo(console_, &info) && info.dwSize.X > 0
                                      ? static_cast<std::size_t>(info.dwSize.X)
                                      : 80;
      const std::string text = line_.rewrite(line, columns);
      if (!text.empty()) writeAll(console_, text);
    } catch (...) {
    }
  }

  const HANDLE console_ = GetStdHandle(STD_ERROR_HANDLE);
  ProgressBoard board_;
  ConsoleLine line_;  // the ticker's until it is joined, then finish()'s
  std::thread ticker_;
};

// The columns a line has before it wraps or runs out of sight on the console that the handle
// writes to: its window's width, or its buffer's where that is less; 0 for a pipe, a file or
// the null device, where a line never wraps.
std::size_t consoleColumns(HANDLE handle) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(handle, &info)) return 0;
  const int width = std::min(info.srWindow.Right - info.srWindow.Left + 1, static_cast<int>(info.dwSize.X));
  return width > 0 ? static_cast<std::size_t>(width) : 0;
}

int run(const std::vector<std::string>& arguments) {
  const ToolOptions options = parseToolOptions(arguments);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!options.usageError.empty()) {
    writeAll(GetStdHandle(STD_ERROR_HANDLE), "inventory: " + options.usageError + "\n" + toolUsage);
    return 2;
  }
  if (options.help) return writeAll(output, toolUsage) ? 0 : 1;
  if (options.version) {
    return writeAll(output, std::string("inventory ") + libraryVersion + "\n") ? 0 : 1;
  }

  // Whose graphics settings: by default those of the program that runs inventory.exe, the
  // one that will act on the answer; none when that cannot be told.
  InventoryOptions inventoryOptions = options.inventory;
  if (!inventoryOptions.program) inventoryOptions.program = parentExecutable();
  ConsoleProgress progress(!options.json);
  const Inventory inventory =
      takeInventory(options.bin.empty() ? thisExecutableFolder() : options.bin, inventoryOptions,
                    progress.runner());
  progress.finish();
  const std::string text = options.json ? inventoryDocument(inventory, options.pick)
                                         : inventoryTable(inventory, options.pick, consoleColumns(output));
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
    // Out of memory: said on standard error, never a half-written document (without threads
    // the probes run one at a time).
    writeAll(GetStdHandle(STD_ERROR_HANDLE), std::string("inventory: ") + error.what() + "\n");
    return 1;
  }
}
