// A test-only stand-in for a probe, for the programs that run probes. What it does comes from
// "--fake <mode>" on its command line or, when it runs under a probe's name (fennel.exe...),
// from the variable FAKE_PROBE_<NAME> (FAKE_PROBE_FENNEL...):
//   say <exit> <text>   prints the text and a line feed, exits with <exit>
//   say-without-layers <text>
//                       as a Vulkan loader with a broken implicit layer: prints the text and a
//                       line feed and exits with 0 when VK_LOADER_LAYERS_DISABLE is
//                       "~implicit~", else crashes as "crash" does
//   say-hang <text>     prints the text and a line feed, then never ends
//   say-spawn <text>    starts a grandchild that holds standard output open and never ends,
//                       prints the text and a line feed, exits with 0
//   spawn-hang          starts such a grandchild, then never ends
//   hang                never ends
//   crash               an access violation with no handler, before any output
//   flood               2 MiB on standard output, exit 0
//   junk                a line that is not JSON, exit 0
//   silent              nothing at all, exit 0
//   per-luid <low> <text>
//                       as a probe that examines one adapter at a time, given
//                       "--luid-low L --luid-high H": prints the text with each {low} and {high}
//                       made L and H and a line feed, exit 0; crashes as "crash" does without a
//                       LUID, or when L is <low> (a driver that crashes on that adapter)
// and, as a program that runs inventory.exe (its parent) does:
//   --fake run <command line>
//                       starts the rest of its own command line as it stands (the first token
//                       the executable) with its standard handles, waits for it and exits with
//                       its exit code
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

void say(const std::string& text) {
  const std::string line = text + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
            nullptr);
}

[[noreturn]] void crash() {
  SetUnhandledExceptionFilter(nullptr);
  *static_cast<volatile int*>(nullptr) = 1;
  for (;;) Sleep(INFINITE);
}

[[noreturn]] void hang() {
  for (;;) Sleep(INFINITE);
}

// Starts the command line with this process's standard handles; ends this one with exit code
// 98 when it cannot. The thread's handle is closed, the process's returned.
HANDLE start(const wchar_t* executable, std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(executable, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ExitProcess(98);
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

void spawnGrandchild() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  CloseHandle(start(self, std::wstring(L"\"") + self + L"\" --fake hang"));
}

// The command line after "--fake run ", as given (UTF-16, quotes kept), run to its end.
int runRest() {
  const std::wstring line = GetCommandLineW();
  const std::wstring marker = L" --fake run ";
  const std::size_t at = line.find(marker);
  if (at == std::wstring::npos) return 97;
  const HANDLE child = start(nullptr, line.substr(at + marker.size()));
  DWORD code = 96;
  if (WaitForSingleObject(child, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(child, &code)) code = 96;
  CloseHandle(child);
  return static_cast<int>(code);
}

// The mode: the command line's, else the variable named after this executable.
std::string modeOf(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--fake") {
    std::string mode = argv[2];
    for (int i = 3; i < argc; ++i) mode += std::string(" ") + argv[i];
    return mode;
  }
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string name = self;
  name = name.substr(name.find_last_of("\\/") + 1);
  name = name.substr(0, name.find('.'));
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  const char* mode = std::getenv(("FAKE_PROBE_" + name).c_str());
  return mode != nullptr ? mode : "";
}

}  // namespace

// The text with every {name} made value.
std::string filled(std::string text, const std::string& name, const std::string& value) {
  const std::string field = "{" + name + "}";
  for (std::size_t at = text.find(field); at != std::string::npos; at = text.find(field, at + value.size())) {
    text.replace(at, field.size(), value);
  }
  return text;
}

// The value after the option on the command line, or nullptr.
const char* optionValue(int argc, char** argv, const std::string& option) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == option) return argv[i + 1];
  }
  return nullptr;
}

int main(int argc, char** argv) {
  const std::string mode = modeOf(argc, argv);
  const std::size_t space = mode.find(' ');
  const std::string action = mode.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : mode.substr(space + 1);
  if (action == "run") return runRest();
  if (action == "say") {
    const std::size_t split = rest.find(' ');
    say(split == std::string::npos ? "" : rest.substr(split + 1));
    return static_cast<int>(std::strtoul(rest.c_str(), nullptr, 0));
  }
  if (action == "say-hang") {
    say(rest);
    hang();
  }
  if (action == "say-spawn") {
    spawnGrandchild();
    say(rest);
    return 0;
  }
  if (action == "spawn-hang") {
    spawnGrandchild();
    hang();
  }
  if (action == "hang") hang();
  if (action == "crash") crash();
  if (action == "say-without-layers") {
    const char* disabled = std::getenv("VK_LOADER_LAYERS_DISABLE");
    if (disabled == nullptr || std::string(disabled) != "~implicit~") crash();
    say(rest);
    return 0;
  }
  if (action == "flood") {
    const std::string block(64 * 1024, 'x');
    for (int i = 0; i < 32; ++i) say(block);
    return 0;
  }
  if (action == "junk") {
    say("this is not a document");
    return 0;
  }
  if (action == "silent") return 0;
  if (action == "per-luid") {
    const char* low = optionValue(argc, argv, "--luid-low");
    const char* high = optionValue(argc, argv, "--luid-high");
    const std::size_t split = rest.find(' ');
    if (low == nullptr || high == nullptr || rest.substr(0, split) == low) crash();
    say(filled(filled(split == std::string::npos ? "" : rest.substr(split + 1), "low", low), "high", high));
    return 0;
  }
  return 99;  // no mode: a mistake in the test
}
