#include "tool_options.h"

#include <cmath>
#include <cstdlib>

#include "preferences/program_path.h"

namespace gpu_inventory {

const char* const toolUsage =
    "Usage: inventory [--bin FOLDER] [--timeout SECONDS] [--sequential] [--program PATH]\n"
    "                 [--prefer high-performance|minimum-power] [--need NEED]...\n"
    "                 [--ignore-user-choice] [--json]\n"
    "       inventory --version\n"
    "Runs fennel.exe, quarry.exe, sorrel.exe, tansy.exe and brindle.exe (one run per adapter)\n"
    "from FOLDER (default: the folder of inventory.exe) and joins their answers by adapter\n"
    "LUID: one table, or with --json one JSON document (schemas/inventory.schema.json). Each run\n"
    "may take SECONDS (default 30); --sequential runs one probe at a time instead of up to four\n"
    "at once. quarry runs once more, with implicit Vulkan layers disabled, when it ran and did\n"
    "not answer; tansy once per adapter when it crashed, timed out or printed no valid answer.\n"
    "It also reports the user's choice in Windows' graphics settings for the program at PATH\n"
    "(a full path; default: the program that started inventory, when it can be told).\n"
    "It picks one adapter: the first that meets every NEED, the user's choice for the program\n"
    "considered first (unless --ignore-user-choice), then Windows' order for high performance\n"
    "(default) or minimum power; each adapter passed over is listed with its reasons. A NEED is\n"
    "discrete, memory=SIZE (bytes, or with KiB, MiB or GiB), d3d11 or d3d11=LEVEL (9_1 to\n"
    "12_1), d3d12 or d3d12=LEVEL (11_0 to 12_2), shader-model=M (5.1, 6.0 to 6.9), vulkan or\n"
    "opencl; each at most once.\n"
    "Exit code 0 when fennel answered (whether or not an adapter meets the needs), 1 when it did\n"
    "not or the output could not be written, 2 for a wrong command line. Without --json, when\n"
    "standard error is a console, a line there names the run still awaited once one has taken\n"
    "2 seconds. --version prints the version of inventory.\n";

namespace {

constexpr double maxTimeoutSeconds = 86400;

// A positive decimal number of seconds ("30", "2.5"), at most a day.
bool readSeconds(const std::string& text, double& seconds) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
      text.find('.') != text.rfind('.') || text.front() == '.' || text.back() == '.') {
    return false;
  }
  seconds = std::strtod(text.c_str(), nullptr);
  return seconds >= 0.001 && seconds <= maxTimeoutSeconds;
}

}  // namespace

ToolOptions parseToolOptions(const std::vector<std::string>& arguments) {
  ToolOptions options;
  for (std::size_t i = 0; i < arguments.size() && options.usageError.empty(); ++i) {
    const std::string& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == "--help" || argument == "-h" || argument == "/?") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "--sequential") {
      options.inventory.sequential = true;
    } else if (argument == "--bin") {
      if (!hasValue || arguments[i + 1].empty()) {
        options.usageError = "--bin needs a folder";
      } else {
        options.bin = arguments[++i];
      }
    } else if (argument == "--program") {
      if (!hasValue || !isFullWindowsPath(arguments[i + 1])) {
        options.usageError = "--program needs the full path of an executable (C:\\... or \\\\server\\...)";
      } else {
        options.inventory.program = arguments[++i];
      }
    } else if (argument == "--prefer") {
      const std::string value = hasValue ? arguments[i + 1] : std::string();
      if (value != "high-performance" && value != "minimum-power") {
        options.usageError = "--prefer needs high-performance or minimum-power";
      } else {
        ++i;
        options.pick.prefer =
            value == "minimum-power" ? PreferredOrder::minimumPower : PreferredOrder::highPerformance;
      }
    } else if (argument == "--need") {
      std::string problem;
      if (!hasValue) {
        options.usageError = "--need needs a need: discrete, memory=SIZE, d3d11[=LEVEL], d3d12[=LEVEL], "
                             "shader-model=M, vulkan or opencl";
      } else if (!addNeed(options.pick.needs, arguments[++i], problem)) {
        options.usageError = "--need: " + problem;
      }
    } else if (argument == "--ignore-user-choice") {
      options.pick.honourUserChoice = false;
    } else if (argument == "--timeout") {
      double seconds = 0;
      if (!hasValue || !readSeconds(arguments[i + 1], seconds)) {
        options.usageError = "--timeout needs a number of seconds from 0.001 to 86400";
      } else {
        ++i;
        options.inventory.timeout =
            std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
      }
    } else {
      options.usageError = "unknown option: " + argument;
    }
  }
  return options;
}

}  // namespace gpu_inventory
