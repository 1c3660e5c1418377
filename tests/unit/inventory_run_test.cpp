// What runProbe accepts as an executable, and (on Windows, under Wine in the tests) what it
// refuses to start, the folder its child starts in, and who may open its output pipe; there
// also what the library reads of the registry and of this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "gpu_inventory/graphics_settings.h"
#include "gpu_inventory/this_process.h"
#include "win32/utf16.h"
#endif

#include "child_process/environment_block.h"
#include "child_process/full_path.h"
#include "gpu_inventory/probe_run.h"
#include "child_process/output_pipe.h"

namespace {

using namespace gpu_inventory;

struct PathCase {
  std::string path;
  const char* problem;  // nullptr: accepted
  const char* folder;
};

TEST(ExecutablePath, OnlyAFullPathToAnExe) {
  const std::vector<PathCase> cases = {
      {"C:\\probes\\fennel.exe", nullptr, "C:\\probes\\"},
      {"c:/probes/FENNEL.EXE", nullptr, "c:/probes/"},
      {"\\\\server\\share\\fennel.exe", nullptr, "\\\\server\\share\\"},
      {"\\\\?\\C:\\probes\\fennel.exe", nullptr, "\\\\?\\C:\\probes\\"},
      {"fennel.exe", "not a full path", ""},
      {"probes\\fennel.exe", "not a full path", "probes\\"},
      {"C:fennel.exe", "not a full path", ""},  // relative to drive C:'s current directory
      {"\\probes\\fennel.exe", "not a full path", "\\probes\\"},  // on the current drive
      {"C:\\probes\\fennel.bat", "not an .exe", "C:\\probes\\"},
      {"C:\\probes\\fennel.CMD", "not an .exe", "C:\\probes\\"},
      {"C:\\probes\\fennel.exe.bat", "not an .exe", "C:\\probes\\"},
      {"C:\\probes\\fennel.bat:x.exe", "not an .exe", "C:\\probes\\"},  // a stream of a .bat
      {"C:\\probes\\", "not an .exe", "C:\\probes\\"},
      {"C:\\probes\\.exe", "not an .exe", "C:\\probes\\"},
      {std::string("C:\\probes\\fennel.bat") + '\0' + ".exe", "a NUL in the path", "C:\\probes\\"},
      {"D:\\inventory.exe", nullptr, "D:\\"},  // at a drive's root: "D:" alone is not its root
  };
  for (const PathCase& c : cases) {
    const char* problem = executablePathProblem(c.path);
    EXPECT_EQ(std::string(problem ? problem : "accepted"), std::string(c.problem ? c.problem : "accepted"))
        << c.path;
    EXPECT_EQ(folderOf(c.path), c.folder) << c.path;
  }
}

// A block as a list of its entries.
std::vector<std::wstring> entriesOf(const std::wstring& block) {
  std::vector<std::wstring> entries;
  EXPECT_GE(block.size(), 2u);
  EXPECT_EQ(block.substr(block.size() - 2), std::wstring(2, L'\0'));
  for (std::size_t at = 0; at < block.size() && block[at] != L'\0';) {
    const std::size_t end = block.find(L'\0', at);
    entries.push_back(block.substr(at, end - at));
    at = end + 1;
  }
  return entries;
}

struct BlockCase {
  const char* label;
  std::vector<std::wstring> inherited;
  std::vector<std::pair<std::wstring, std::wstring>> additions;
  std::vector<std::wstring> entries;
};

TEST(EnvironmentBlock, AdditionsReplaceTheirNameWhateverItsCaseAndTheBlockStaysSorted) {
  const std::vector<BlockCase> cases = {
      {"added in order", {L"=C:=C:\\work", L"Path=C:\\Windows", L"windir=C:\\Windows"},
       {{L"VK_LOADER_LAYERS_DISABLE", L"~implicit~"}},
       {L"=C:=C:\\work", L"Path=C:\\Windows", L"VK_LOADER_LAYERS_DISABLE=~implicit~", L"windir=C:\\Windows"}},
      {"replaces another case", {L"A=1", L"vk_loader_layers_disable=VK_LAYER_x", L"Z=2"},
       {{L"VK_LOADER_LAYERS_DISABLE", L"~implicit~"}},
       {L"A=1", L"VK_LOADER_LAYERS_DISABLE=~implicit~", L"Z=2"}},
      // Windows sorts by the uppercase name: '_' (0x5F) after every letter.
      {"underscore after letters", {L"AB=1", L"A_B=2"}, {{L"aa", L"3"}}, {L"aa=3", L"AB=1", L"A_B=2"}},
      {"a name that is the start of another", {L"PATHEXT=.EXE", L"PATH=x"}, {{L"path", L"y"}},
       {L"path=y", L"PATHEXT=.EXE"}},
      {"the later addition wins", {}, {{L"X", L"1"}, {L"x", L"2"}}, {L"x=2"}},
      {"nothing at all", {}, {}, {}},
  };
  for (const BlockCase& c : cases) {
    EXPECT_EQ(entriesOf(environmentBlock(c.inherited, c.additions, compareIgnoringAsciiCase)), c.entries) << c.label;
  }
  const std::vector<std::pair<EnvironmentVariable, bool>> problems = {
      {{"VK_LOADER_LAYERS_DISABLE", "~implicit~"}, false}, {{"X", ""}, false}, {{"", "1"}, true},
      {{"A=B", "1"}, true}, {{std::string("A\0B", 3), "1"}, true}, {{"A", std::string("1\0B=2", 5)}, true}};
  for (const auto& [variable, refused] : problems) {
    EXPECT_EQ(environmentProblem({variable}) != nullptr, refused) << variable.name;
  }
}

#ifdef _WIN32

ProbeRequest requestOf(std::string executable, std::vector<std::string> arguments,
                       std::chrono::milliseconds timeout) {
  ProbeRequest request;
  request.executable = std::move(executable);
  request.arguments = std::move(arguments);
  request.timeout = timeout;
  return request;
}

std::string systemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return std::filesystem::path(std::wstring(folder, length)).string();
}

TEST(RunProbe, ABatchFileIsRefusedAndNeverRuns) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / "inventory run test";
  fs::create_directories(folder);
  const fs::path marker = folder / "ran.txt";
  fs::remove(marker);
  const fs::path batch = folder / "fennel.bat";
  std::ofstream(batch) << "@echo ran > \"" << marker.string() << "\"\r\n";
  for (const std::string& path : {batch.string(), std::string("fennel.bat"), std::string("cmd.exe")}) {
    const ChildRun run = runProbe(requestOf(path, {}, std::chrono::seconds(10)));
    EXPECT_FALSE(run.started) << path;
    EXPECT_EQ(run.startError, static_cast<std::uint32_t>(ERROR_BAD_PATHNAME)) << path;
    EXPECT_NE(run.startProblem.find("refused"), std::string::npos) << run.startProblem;
  }
  EXPECT_FALSE(fs::exists(marker)) << "cmd.exe ran the batch file";
}

TEST(RunProbe, TheChildStartsInItsOwnFolderAndANegativeTimeoutIsZero) {
  const std::string folder = systemFolder();
  const ChildRun run = runProbe(requestOf(folder + "\\cmd.exe", {"/c", "cd"}, std::chrono::seconds(30)));
  ASSERT_TRUE(run.started) << run.startProblem;
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  std::string printed = run.output;
  while (!printed.empty() && (printed.back() == '\n' || printed.back() == '\r')) printed.pop_back();
  EXPECT_STRCASEEQ(printed.c_str(), folder.c_str());

  const ChildRun hurried = runProbe(requestOf(folder + "\\cmd.exe", {"/c", "cd"}, std::chrono::milliseconds(-5)));
  EXPECT_TRUE(hurried.timedOut);
  EXPECT_EQ(hurried.timeoutSeconds, 0.0);
}

TEST(RunProbe, TheChildSeesTheAdditionsAndEverythingElseAsItWas) {
  SetEnvironmentVariableW(L"inventory_test_inherited", L"kept");
  SetEnvironmentVariableW(L"inventory_test_replaced", L"old");
  SetEnvironmentVariableW(L"inventory_test_\u00e9", L"old");  // replaced by its uppercase, as Windows compares
  const std::string cmd = systemFolder() + "\\cmd.exe";
  ProbeRequest request = requestOf(cmd, {"/c", "set", "inventory_test"}, std::chrono::seconds(30));
  request.environment = {{"INVENTORY_TEST_REPLACED", "new value"}, {"inventory_test_added", "~implicit~"},
                         {"INVENTORY_TEST_\xC3\x89", "new"}};
  const ChildRun run = runProbe(request);
  ASSERT_TRUE(run.started) << run.startProblem;
  // cmd.exe prints in an order of its own, and the non-ASCII name in its code page.
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < run.output.size();) {
    const std::size_t end = run.output.find("\r\n", at);
    lines.push_back(run.output.substr(at, end - at));
    at = end == std::string::npos ? run.output.size() : end + 2;
  }
  std::sort(lines.begin(), lines.end());
  ASSERT_EQ(lines.size(), 4u) << run.output;
  EXPECT_EQ(lines[0], "INVENTORY_TEST_REPLACED=new value");
  EXPECT_EQ(lines[1].substr(lines[1].find('=')), "=new") << lines[1];  // no "=old" left
  EXPECT_EQ(lines[2], "inventory_test_added=~implicit~");
  EXPECT_EQ(lines[3], "inventory_test_inherited=kept");
  // A name that would set another variable than the one asked for is refused.
  request.environment = {{"A=B", "1"}};
  const ChildRun refused = runProbe(request);
  EXPECT_FALSE(refused.started);
  EXPECT_EQ(refused.startError, static_cast<std::uint32_t>(ERROR_BAD_ENVIRONMENT));
  SetEnvironmentVariableW(L"inventory_test_inherited", nullptr);
  SetEnvironmentVariableW(L"inventory_test_replaced", nullptr);
  SetEnvironmentVariableW(L"inventory_test_\u00e9", nullptr);
}

TEST(OutputPipe, OnlyTheCurrentUserMayOpenIt) {
  OutputPipe pipe;
  ASSERT_EQ(openOutputPipe(pipe), 0u);
  ASSERT_TRUE(pipe.writeEnd);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe.readEnd.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr) << "no access list: everyone may open it";
  EXPECT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  std::vector<ULONGLONG> user(64);
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(),
                                  static_cast<DWORD>(user.size() * sizeof user[0]), &size));
  CloseHandle(token);
  const PSID own = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&allowed->SidStart), own));
  LocalFree(descriptor);
}

// The settings, in the registry of the test's prefix.
constexpr wchar_t preferencesKey[] = L"Software\\Microsoft\\DirectX\\UserGpuPreferences";

template <std::size_t size>
std::wstring withNuls(const wchar_t (&text)[size]) {
  return std::wstring(text, size - 1);
}

std::wstring repeated(const std::wstring& text, std::size_t times) {
  std::wstring all;
  for (std::size_t i = 0; i < times; ++i) all += text;
  return all;
}

struct SettingCase {
  const wchar_t* written;  // the value's name as written; nullptr: none written
  DWORD type;              // REG_DWORD: the number 2
  std::wstring data;
  std::string program;     // as read back
  std::optional<GpuPreference> preference;
  std::optional<std::string> setting;
  std::string given = {};  // the path asked for, when not program itself
};

// The file's short 8.3 path, which Windows (and Wine) makes for a long name; empty when none.
std::string shortPathOf(const std::filesystem::path& file) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetShortPathNameW(file.wstring().c_str(), path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : utf8Of(std::wstring(path, length));
}

TEST(GraphicsSettings, ReadFromTheRegistryAsWindowsKeepsIt) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, preferencesKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  // Past 4096 characters a second, different token is not read. An emoji is one character of
  // two UTF-16 units and 4 bytes of UTF-8; after a head of odd length a cut by units splits one.
  const std::string head = "GpuPreference=1;XY=";
  const std::wstring longSetting = utf16Of(head) + repeated(L"\U0001F600", 5000) + L";GpuPreference=2;";
  std::string longRead = head;
  for (std::size_t i = head.size(); i < maxSettingCharacters; ++i) longRead += "\xF0\x9F\x98\x80";
  const std::wstring global = L"HighPerfAdapter=10DE&2684&88AC1043;Pad=" + std::wstring(5000, L'x') +
                              L";HighPerfAdapter=1002&73BF&0;";
  // Windows names a program's value by its long full path: a short name, "..", '/' find it.
  namespace fs = std::filesystem;
  const fs::path longFolder = L"C:\\Inventory Test\\Long Folder Name";
  fs::create_directories(longFolder);
  const fs::path longFile = longFolder / L"long program name.exe";
  std::ofstream(longFile) << "MZ";
  // Empty where the volume makes no 8.3 names: that row then asks by the long path.
  const std::string shortPath = shortPathOf(longFile);
  if (!shortPath.empty()) {
    ASSERT_EQ(shortPath.find("Long Folder Name"), std::string::npos) << shortPath;  // a short name indeed
  }
  const std::vector<SettingCase> cases = {
      // Names compare without case: the UTF-8 path becomes the same UTF-16 name.
      {L"C:\\Inventory Test\\Gr\u00e4fik\\Upper.EXE", REG_SZ, L"GpuPreference=2;",
       "c:\\inventory test\\Gr\xC3\xA4" "fik\\upper.exe", GpuPreference::highPerformance, "GpuPreference=2;"},
      {L"C:\\Inventory Test\\nul.exe", REG_SZ, withNuls(L"GpuPreference=1;\0GpuPreference=2;"),
       "C:\\Inventory Test\\nul.exe", GpuPreference::minimumPower, "GpuPreference=1;"},
      {L"C:\\Inventory Test\\long.exe", REG_SZ, longSetting, "C:\\Inventory Test\\long.exe",
       GpuPreference::minimumPower, longRead},
      {L"C:\\Inventory Test\\dword.exe", REG_DWORD, L"", "C:\\Inventory Test\\dword.exe", GpuPreference::other,
       std::nullopt},
      {L"C:\\Inventory Test\\expand.exe", REG_EXPAND_SZ, L"GpuPreference=2;", "C:\\Inventory Test\\expand.exe",
       GpuPreference::other, std::nullopt},
      {nullptr, REG_SZ, L"", "C:\\Inventory Test\\none.exe", std::nullopt, std::nullopt},
      {nullptr, REG_SZ, L"", "", std::nullopt, std::nullopt},  // no program: only the global value
      {L"C:\\Inventory Test\\Long Folder Name\\long program name.exe", REG_SZ, L"GpuPreference=2;",
       "C:\\Inventory Test\\Long Folder Name\\long program name.exe", GpuPreference::highPerformance,
       "GpuPreference=2;", shortPath},
      {L"C:\\Inventory Test\\dots.exe", REG_SZ, L"GpuPreference=1;", "C:\\Inventory Test\\dots.exe",
       GpuPreference::minimumPower, "GpuPreference=1;", "C:\\Inventory Test\\sub\\.\\..\\dots.exe"},
      {L"C:\\Inventory Test\\slashes.exe", REG_SZ, L"GpuPreference=2;", "C:\\Inventory Test\\slashes.exe",
       GpuPreference::highPerformance, "GpuPreference=2;", "C:/Inventory Test/slashes.exe"},
      // A "\\?\" or "\\.\" prefix is not part of the name Windows keeps.
      {L"C:\\Inventory Test\\prefixed.exe", REG_SZ, L"GpuPreference=1;", "C:\\Inventory Test\\prefixed.exe",
       GpuPreference::minimumPower, "GpuPreference=1;", "\\\\?\\C:\\Inventory Test\\prefixed.exe"},
      {nullptr, REG_SZ, L"", "C:\\Inventory Test\\prefixed.exe", GpuPreference::minimumPower, "GpuPreference=1;",
       "\\\\.\\C:\\Inventory Test\\sub\\..\\prefixed.exe"},
      // Of a file that does not exist the full path alone: the short name stays.
      {nullptr, REG_SZ, L"", "C:\\INVENT~1\\absent.exe", std::nullopt, std::nullopt, "C:\\INVENT~1\\sub\\..\\absent.exe"},
  };
  const auto write = [&](const wchar_t* name, DWORD type, const std::wstring& data) {
    const DWORD two = 2;
    const auto* bytes = type == REG_DWORD ? reinterpret_cast<const BYTE*>(&two)
                                          : reinterpret_cast<const BYTE*>(data.c_str());
    const auto size = static_cast<DWORD>(type == REG_DWORD ? sizeof two : (data.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, bytes, size), ERROR_SUCCESS) << utf8Of(name);
  };
  write(L"DirectXUserGlobalSettings", REG_SZ, global);
  for (const SettingCase& c : cases) {
    if (c.written != nullptr) {
      write(c.written, c.type, c.data);
    }
  }
  for (const SettingCase& c : cases) {
    const GraphicsSettings read = readGraphicsSettings(c.given.empty() ? c.program : c.given);
    EXPECT_EQ(read.program, c.program.empty() ? std::nullopt : std::optional<std::string>(c.program)) << c.given;
    EXPECT_EQ(read.preference, c.preference) << c.program;
    // Not printed whole: the long one is 16 KiB.
    EXPECT_TRUE(read.setting == c.setting) << c.program << ": " << read.setting.value_or("none").substr(0, 40)
                                           << "..., " << read.setting.value_or("").size() << " bytes";
    EXPECT_EQ(read.globalSetting, utf8Of(global.substr(0, maxSettingCharacters))) << c.program;
    EXPECT_EQ(read.highPerformanceAdapter, std::optional<PciIds>(PciIds{0x10DE, 0x2684, 0x88AC1043})) << c.program;
  }
  for (const SettingCase& c : cases) {
    if (c.written != nullptr) {
      EXPECT_EQ(RegDeleteValueW(key, c.written), ERROR_SUCCESS) << c.program;
    }
  }
  EXPECT_EQ(RegDeleteValueW(key, L"DirectXUserGlobalSettings"), ERROR_SUCCESS);
  RegCloseKey(key);
  std::error_code ignored;
  fs::remove_all(longFolder, ignored);
  fs::remove(longFolder.parent_path(), ignored);  // when nothing else is in it
  if (disposition == REG_CREATED_NEW_KEY) {
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, preferencesKey), ERROR_SUCCESS);
  }
  const GraphicsSettings gone = readGraphicsSettings(cases[0].program);
  EXPECT_EQ(gone.preference, std::nullopt);
  EXPECT_EQ(gone.globalSetting, std::nullopt);
}

TEST(ThisProcess, DxgiIsLeftLoadedOnlyWhenItWasBefore) {
  ASSERT_EQ(GetModuleHandleW(L"dxgi.dll"), nullptr);
  const std::optional<std::vector<AdapterLuid>> order = dxgiOrderInThisProcess();
  EXPECT_EQ(GetModuleHandleW(L"dxgi.dll"), nullptr);
  // Wine passes the Unix environment on: without an X display its DXGI makes no factory.
  if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
    EXPECT_EQ(order, std::nullopt);
  }
  const HMODULE own = LoadLibraryW(L"dxgi.dll");
  ASSERT_NE(own, nullptr);
  dxgiOrderInThisProcess();
  EXPECT_EQ(GetModuleHandleW(L"dxgi.dll"), own);
  FreeLibrary(own);  // the last reference, unless the call kept one of its own
  EXPECT_EQ(GetModuleHandleW(L"dxgi.dll"), nullptr);
}

TEST(ThisProcess, ThisExecutablePathIsTheTestsOwn) {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  EXPECT_STRCASEEQ(thisExecutablePath().c_str(), utf8Of(std::wstring(own, length)).c_str());
}

#endif

}  // namespace
