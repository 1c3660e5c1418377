// The two values of HKEY_CURRENT_USER\Software\Microsoft\DirectX\UserGpuPreferences fetched;
// graphics_settings.cpp reads them. Value names compare without case, as Windows compares them.
#include "preferences/graphics_settings.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "preferences/program_path.h"
#include "win32/utf16.h"

namespace gpu_inventory {
namespace {

constexpr wchar_t preferencesKey[] = L"Software\\Microsoft\\DirectX\\UserGpuPreferences";
constexpr wchar_t globalValueName[] = L"DirectXUserGlobalSettings";
// Past this a value is not believed, and not read: it is reported as one that is not a string.
constexpr DWORD maxValueBytes = 16u << 20;
// Enough UTF-16 units for maxSettingCharacters characters, each at most two.
constexpr std::size_t unitsKept = 2 * maxSettingCharacters;

class OpenKey {
 public:
  OpenKey() {
    if (RegOpenKeyExW(HKEY_CURRENT_USER, preferencesKey, 0, KEY_QUERY_VALUE, &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// One value: absent when there is none or it cannot be asked for (a key deleted meanwhile, a
// name too long for the registry), other when it is not a string or too large to read.
RegistryValue fetch(HKEY key, const std::wstring& name) {
  RegistryValue value;
  std::vector<BYTE> data((unitsKept + 1) * sizeof(wchar_t));
  // The value may grow between the calls that ask its size and read it: asked a few times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    auto size = static_cast<DWORD>(data.size());
    const LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return RegistryValue{};
    value.type = RegistryValue::Type::other;
    if (status == ERROR_MORE_DATA && size <= maxValueBytes && size > data.size()) {
      data.resize(size);
      continue;
    }
    if (status != ERROR_SUCCESS || type != REG_SZ) return value;
    std::wstring text(std::min<std::size_t>(size / sizeof(wchar_t), unitsKept), L'\0');
    std::memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    value.type = RegistryValue::Type::string;
    value.text = utf8Of(text);  // cut at its first NUL by the portable reader
    return value;
  }
  return value;
}

}  // namespace

GraphicsSettings readGraphicsSettings(const std::string& given) {
  // Windows names the value by the long full path: "C:\PROGRA~1\..." or "C:/..." finds it only
  // once made so.
  const std::string program = longFullPath(given);
  const OpenKey key;
  RegistryValue setting, global;
  if (key.get() != nullptr) {
    if (!program.empty()) setting = fetch(key.get(), utf16Of(program));
    global = fetch(key.get(), globalValueName);
  }
  return graphicsSettingsOf(program.empty() ? std::nullopt : std::optional<std::string>(program), setting, global);
}

}  // namespace gpu_inventory
