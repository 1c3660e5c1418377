#include "preferences/graphics_settings.h"

#include <cstdint>

namespace gpu_inventory {
namespace {

// A token's value given once or more: the same each time (agree), or not.
template <typename Value>
struct Given {
  bool any = false;
  bool agree = true;
  Value value{};

  void add(const Value& next) {
    if (any && !(next == value)) agree = false;
    any = true;
    value = next;
  }
  // The one value given, when it was given and every time the same.
  const Value* one() const { return any && agree ? &value : nullptr; }
};

// The text up to its first NUL (a string's end in the registry) and its first
// maxSettingCharacters characters (code points); cut says whether there was more.
std::string readAsFar(const std::string& text, bool& cut) {
  std::size_t characters = 0, end = 0;
  for (; end < text.size() && text[end] != '\0'; ++end) {
    const bool starts = (static_cast<unsigned char>(text[end]) & 0xC0) != 0x80;
    if (starts && ++characters > maxSettingCharacters) break;
  }
  cut = end < text.size() && text[end] != '\0';
  return text.substr(0, end);
}

// The tokens to parse: of a cut text only those it holds whole, up to its last ';' ("...;
// GpuPreference=21" cut after the 2 says nothing).
std::string wholeTokens(const std::string& text, bool cut) {
  if (!cut) return text;
  const std::size_t last = text.rfind(';');
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "10DE&2684&88AC1043": three fields of one to eight hexadecimal digits.
std::optional<PciIds> pciIdsOf(const std::string& text) {
  std::uint32_t fields[3] = {};
  std::size_t field = 0, digits = 0;
  for (char c : text) {
    if (c == '&') {
      if (digits == 0 || ++field == 3) return std::nullopt;
      digits = 0;
      continue;
    }
    if (!isHexDigit(c) || ++digits > 8) return std::nullopt;
    const int nibble = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    fields[field] = fields[field] << 4 | static_cast<std::uint32_t>(nibble);
  }
  if (field != 2 || digits == 0) return std::nullopt;
  return PciIds{fields[0], fields[1], fields[2]};
}

// A decimal number of at most nine digits (leading zeros aside); none otherwise.
std::optional<std::uint32_t> numberOf(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  std::size_t significant = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value != 0 || c != '0') ++significant;
    if (significant > 9) return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

// Calls take(token) for each token of "A=1;B=2;" between its ';', empty ones included.
template <typename Take>
void forEachPart(const std::string& text, Take take) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    take(text.substr(start, end - start));
    start = end + 1;
  }
}

// Calls take(name, value) for each "Name=Value" token in turn; empty tokens and tokens without
// '=' are passed over.
template <typename Take>
void forEachToken(const std::string& text, Take take) {
  forEachPart(text, [&](const std::string& token) {
    const std::size_t equals = token.find('=');
    if (equals != std::string::npos) take(token.substr(0, equals), token.substr(equals + 1));
  });
}

// The name without spaces or tabs around it, in lower case (ASCII).
std::string looseName(const std::string& token) {
  std::string name = token.substr(0, token.find('='));
  const std::size_t first = name.find_first_not_of(" \t");
  name = first == std::string::npos ? std::string() : name.substr(first, name.find_last_not_of(" \t") - first + 1);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// Whether a token names GpuPreference or SpecificAdapter however written, with '=' or without:
// a choice the value holds, though perhaps in a form that cannot be read.
bool namesAChoice(const std::string& text) {
  bool named = false;
  forEachPart(text, [&](const std::string& token) {
    const std::string name = looseName(token);
    named = named || name == "gpupreference" || name == "specificadapter";
  });
  return named;
}

// cut: the text holds only the value's whole tokens, and more followed.
GpuPreference preferenceOf(const std::string& text, bool cut, std::optional<PciIds>& specificAdapter) {
  // Windows 11 keeps other settings of a program (SwapEffectUpgradeEnable, AutoHDREnable) in
  // the same value: one that names no choice leaves the GPU to Windows.
  if (!cut && !namesAChoice(text)) return GpuPreference::unspecified;
  Given<std::optional<std::uint32_t>> preference;
  Given<std::optional<PciIds>> adapter;
  forEachToken(text, [&](const std::string& name, const std::string& value) {
    if (name == "GpuPreference") preference.add(numberOf(value));
    if (name == "SpecificAdapter") adapter.add(pciIdsOf(value));
  });
  if (const std::optional<PciIds>* named = adapter.one(); named != nullptr && named->has_value()) {
    specificAdapter = *named;
    return GpuPreference::specificAdapter;
  }
  const std::optional<std::uint32_t>* number = preference.one();
  if (number == nullptr || !number->has_value()) return GpuPreference::other;
  switch (**number) {
    case 0: return GpuPreference::unspecified;
    case 1: return GpuPreference::minimumPower;
    case 2: return GpuPreference::highPerformance;
    default: return GpuPreference::other;
  }
}

std::optional<PciIds> highPerformanceAdapterOf(const std::string& text) {
  Given<std::optional<PciIds>> adapter;
  forEachToken(text, [&](const std::string& name, const std::string& value) {
    if (name == "HighPerfAdapter") adapter.add(pciIdsOf(value));
  });
  const std::optional<PciIds>* named = adapter.one();
  return named != nullptr ? *named : std::nullopt;
}

}  // namespace

const char* preferenceName(GpuPreference preference) {
  switch (preference) {
    case GpuPreference::unspecified: return "unspecified";
    case GpuPreference::minimumPower: return "minimumPower";
    case GpuPreference::highPerformance: return "highPerformance";
    case GpuPreference::specificAdapter: return "specificAdapter";
    case GpuPreference::other: return "other";
  }
  return "other";
}

GraphicsSettings graphicsSettingsOf(std::optional<std::string> program, const RegistryValue& setting,
                                    const RegistryValue& global) {
  GraphicsSettings settings;
  settings.program = std::move(program);
  if (settings.program && setting.type != RegistryValue::Type::absent) {
    settings.preference = GpuPreference::other;
    if (setting.type == RegistryValue::Type::string) {
      bool cut = false;
      settings.setting = readAsFar(setting.text, cut);
      settings.preference = preferenceOf(wholeTokens(*settings.setting, cut), cut, settings.specificAdapter);
    }
  }
  if (global.type == RegistryValue::Type::string) {
    bool cut = false;
    settings.globalSetting = readAsFar(global.text, cut);
    settings.highPerformanceAdapter = highPerformanceAdapterOf(wholeTokens(*settings.globalSetting, cut));
  }
  return settings;
}

}  // namespace gpu_inventory
