// The needs as inventory.exe spells them, read and written back; and the names the document
// gives to the pick's enumerations.
#include <cstdint>

#include "gpu_inventory/pick.h"

namespace gpu_inventory {
namespace {

struct NamedLevel {
  const char* name;
  FeatureLevel level;
};

constexpr NamedLevel namedLevels[] = {
    {"9_1", FeatureLevel::level9_1},   {"9_2", FeatureLevel::level9_2},   {"9_3", FeatureLevel::level9_3},
    {"10_0", FeatureLevel::level10_0}, {"10_1", FeatureLevel::level10_1}, {"11_0", FeatureLevel::level11_0},
    {"11_1", FeatureLevel::level11_1}, {"12_0", FeatureLevel::level12_0}, {"12_1", FeatureLevel::level12_1},
    {"12_2", FeatureLevel::level12_2},
};

std::optional<FeatureLevel> namedLevel(const std::string& text) {
  for (const NamedLevel& named : namedLevels) {
    if (text == named.name) return named.level;
  }
  return std::nullopt;
}

// A level by name within [lowest, highest]; a problem otherwise.
bool readLevel(const std::string& need, const std::string& text, FeatureLevel lowest, FeatureLevel highest,
               std::optional<FeatureLevel>& level, std::string& problem) {
  level = namedLevel(text);
  if (level && *level >= lowest && *level <= highest) return true;
  problem = need + " needs a feature level from " + featureLevelText(lowest) + " to " + featureLevelText(highest) +
            ", not \"" + text + "\"";
  return false;
}

// "5.1", "6.0" to "6.9".
bool readShaderModel(const std::string& text, ShaderModel& model, std::string& problem) {
  const bool known = text == "5.1" || (text.size() == 3 && text[0] == '6' && text[1] == '.' && text[2] >= '0' &&
                                       text[2] <= '9');
  if (!known) {
    problem = "shader-model needs a model of 5.1 or 6.0 to 6.9, not \"" + text + "\"";
    return false;
  }
  model = {static_cast<std::uint32_t>(text[0] - '0'), static_cast<std::uint32_t>(text[2] - '0')};
  return true;
}

// "4294967296", "4096MiB", "4GiB": a whole number of bytes, KiB, MiB or GiB, at least one byte
// and within 64 bits.
bool readSize(const std::string& text, std::uint64_t& bytes, std::string& problem) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  const std::string unit = text.substr(digits);
  unsigned shift = 0;
  if (unit == "KiB") shift = 10;
  else if (unit == "MiB") shift = 20;
  else if (unit == "GiB") shift = 30;
  else if (!unit.empty()) digits = 0;
  std::uint64_t number = 0;
  bool fits = digits > 0;
  for (std::size_t i = 0; fits && i < digits; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    fits = number <= (UINT64_MAX - digit) / 10;
    number = number * 10 + digit;
  }
  fits = fits && number > 0 && number <= (UINT64_MAX >> shift);
  if (!fits) {
    problem = "memory needs a size: a whole number of bytes from 1, or of KiB, MiB or GiB (4GiB), not \"" +
              text + "\"";
    return false;
  }
  bytes = number << shift;
  return true;
}

bool named(bool given, const std::string& name, std::string& problem) {
  if (given) problem = "the need " + name + " is named twice";
  return given;
}

}  // namespace

std::optional<std::uint32_t> featureLevelValue(const std::string& text) {
  if (const std::optional<FeatureLevel> level = namedLevel(text)) return static_cast<std::uint32_t>(*level);
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned long long value = std::stoull(text);
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

bool addNeed(Needs& needs, const std::string& text, std::string& problem) {
  const std::size_t equals = text.find('=');
  const std::string name = text.substr(0, equals);
  const bool hasValue = equals != std::string::npos;
  const std::string value = hasValue ? text.substr(equals + 1) : std::string();
  const auto noValue = [&] {
    if (hasValue) problem = "the need " + name + " takes no value";
    return !hasValue;
  };
  if (name == "discrete") {
    if (named(needs.discrete, name, problem) || !noValue()) return false;
    needs.discrete = true;
    return true;
  }
  if (name == "vulkan") {
    if (named(needs.vulkan, name, problem) || !noValue()) return false;
    needs.vulkan = true;
    return true;
  }
  if (name == "opencl") {
    if (named(needs.opencl, name, problem) || !noValue()) return false;
    needs.opencl = true;
    return true;
  }
  if (name == "memory") {
    std::uint64_t bytes = 0;
    if (named(needs.memory.has_value(), name, problem) || !readSize(value, bytes, problem)) return false;
    needs.memory = bytes;
    return true;
  }
  if (name == "d3d11" || name == "d3d12") {
    const bool eleven = name == "d3d11";
    std::optional<Direct3dNeed>& need = eleven ? needs.direct3d11 : needs.direct3d12;
    if (named(need.has_value(), name, problem)) return false;
    Direct3dNeed made;
    if (hasValue && !readLevel(name, value, eleven ? FeatureLevel::level9_1 : FeatureLevel::level11_0,
                               eleven ? FeatureLevel::level12_1 : FeatureLevel::level12_2, made.level, problem)) {
      return false;
    }
    need = made;
    return true;
  }
  if (name == "shader-model") {
    ShaderModel model;
    if (named(needs.shaderModel.has_value(), name, problem) || !readShaderModel(value, model, problem)) return false;
    needs.shaderModel = model;
    return true;
  }
  problem = "unknown need: " + text +
            " (discrete, memory=SIZE, d3d11[=LEVEL], d3d12[=LEVEL], shader-model=M, vulkan, opencl)";
  return false;
}

std::vector<std::string> needTexts(const Needs& needs) {
  std::vector<std::string> texts;
  const auto direct3d = [&](const char* name, const std::optional<Direct3dNeed>& need) {
    if (!need) return;
    texts.push_back(need->level ? std::string(name) + "=" + featureLevelText(*need->level) : std::string(name));
  };
  if (needs.discrete) texts.emplace_back("discrete");
  if (needs.memory) texts.push_back("memory=" + std::to_string(*needs.memory));
  direct3d("d3d11", needs.direct3d11);
  direct3d("d3d12", needs.direct3d12);
  if (needs.shaderModel) texts.push_back("shader-model=" + shaderModelText(*needs.shaderModel));
  if (needs.vulkan) texts.emplace_back("vulkan");
  if (needs.opencl) texts.emplace_back("opencl");
  return texts;
}

const char* preferredOrderName(PreferredOrder order) {
  return order == PreferredOrder::minimumPower ? "minimumPower" : "highPerformance";
}

const char* passedOverName(PassedOver reason) {
  switch (reason) {
    case PassedOver::software: return "software";
    case PassedOver::integrated: return "integrated";
    case PassedOver::notEnoughMemory: return "notEnoughMemory";
    case PassedOver::capabilitiesUnknown: return "capabilitiesUnknown";
    case PassedOver::noDirect3d11Device: return "noDirect3d11Device";
    case PassedOver::direct3d11LevelBelow: return "direct3d11LevelBelow";
    case PassedOver::noDirect3d12Device: return "noDirect3d12Device";
    case PassedOver::direct3d12LevelBelow: return "direct3d12LevelBelow";
    case PassedOver::shaderModelBelow: return "shaderModelBelow";
    case PassedOver::noVulkanDevice: return "noVulkanDevice";
    case PassedOver::noOpenclDevice: return "noOpenclDevice";
  }
  return "software";
}

const char* pickedBecauseName(PickedBecause because) {
  switch (because) {
    case PickedBecause::userChoice: return "userChoice";
    case PickedBecause::windowsOrder: return "windowsOrder";
    case PickedBecause::ruleOrder: return "ruleOrder";
  }
  return "ruleOrder";
}

std::string featureLevelText(FeatureLevel level) {
  for (const NamedLevel& named : namedLevels) {
    if (named.level == level) return named.name;
  }
  return std::to_string(static_cast<std::uint32_t>(level));
}

std::string shaderModelText(ShaderModel model) {
  return std::to_string(model.major) + "." + std::to_string(model.minor);
}

}  // namespace gpu_inventory
