#include "pick_output.h"

#include "table_text.h"

namespace gpu_inventory {
namespace {

using Json = nlohmann::ordered_json;

std::string joined(const std::vector<std::string>& texts) {
  std::string text;
  for (const std::string& each : texts) text += (text.empty() ? "" : ", ") + each;
  return text;
}

const char* orderWords(PreferredOrder order) {
  return order == PreferredOrder::minimumPower ? "minimum-power" : "high-performance";
}

// The executable's name from the settings' full path; "the program" when it is unknown.
std::string programName(const Inventory& inventory) {
  const std::optional<std::string>& program = inventory.graphicsSettings.program;
  if (!program || program->empty()) return "the program";
  return program->substr(program->find_last_of("\\/") + 1);
}

std::string whyFirst(const Inventory& inventory, const PickRequest& request, PickedBecause because) {
  switch (because) {
    case PickedBecause::userChoice:
      return "the GPU chosen for " + programName(inventory) + " in Windows' graphics settings";
    case PickedBecause::windowsOrder:
      return std::string("first in Windows' ") + orderWords(request.prefer) + " order";
    case PickedBecause::ruleOrder:
      break;
  }
  return std::string("first in the inventory's ") + orderWords(request.prefer) +
         " order (its rule, not Windows' preference)";
}

// An amount rounded down (what an adapter has) or up (what is needed), so that a shortfall never
// reads as enough: "3.9 GiB", "512 MiB", "3 KiB", "100 bytes".
std::string amountText(std::uint64_t bytes, bool up) {
  const auto rounded = [&](unsigned shift) {
    const std::uint64_t whole = bytes >> shift, rest = bytes & ((1ull << shift) - 1);
    return whole + (up && rest != 0 ? 1 : 0);
  };
  if (bytes < (1ull << 10)) return std::to_string(bytes) + " bytes";
  if (bytes < (1ull << 20)) return std::to_string(rounded(10)) + " KiB";
  if (bytes < (1ull << 30)) return std::to_string(rounded(20)) + " MiB";
  // Tenths of a GiB: the rest is below 2^30, so ten times it fits.
  std::uint64_t whole = bytes >> 30;
  const std::uint64_t tenths = (bytes & ((1ull << 30) - 1)) * 10;
  std::uint64_t tenth = tenths >> 30;
  if (up && (tenths & ((1ull << 30) - 1)) != 0 && ++tenth == 10) {
    tenth = 0;
    ++whole;
  }
  return std::to_string(whole) + "." + std::to_string(tenth) + " GiB";
}

std::string levelBelow(const char* api, const std::optional<std::string>& level,
                       const std::optional<Direct3dNeed>& need) {
  const std::string needed = need && need->level ? featureLevelText(*need->level) : "?";
  return std::string(api) + " at " + level.value_or("?") + ", below " + needed;
}

std::string reasonWords(const AdapterInventory& entry, const Needs& needs, PassedOver reason) {
  const TansyAdapter* capabilities = entry.capabilities ? &*entry.capabilities : nullptr;
  switch (reason) {
    case PassedOver::software: return "a software adapter (the CPU draws), never picked";
    case PassedOver::integrated: return "an integrated GPU, not a discrete one";
    case PassedOver::notEnoughMemory:
      return amountText(memoryForProgram(entry), false) + " of memory for a program, less than the " +
             amountText(needs.memory.value_or(0), true) + " needed";
    case PassedOver::capabilitiesUnknown: return "its Direct3D devices are unknown: tansy did not answer for it";
    case PassedOver::noDirect3d11Device: return "no Direct3D 11 device";
    case PassedOver::direct3d11LevelBelow:
      return levelBelow("Direct3D 11", capabilities && capabilities->d3d11 ? capabilities->d3d11->featureLevel
                                                                            : std::nullopt,
                        needs.direct3d11);
    case PassedOver::noDirect3d12Device: return "no Direct3D 12 device";
    case PassedOver::direct3d12LevelBelow:
      return levelBelow("Direct3D 12", capabilities && capabilities->d3d12 ? capabilities->d3d12->featureLevel
                                                                            : std::nullopt,
                        needs.direct3d12);
    case PassedOver::shaderModelBelow: {
      const std::string needed = needs.shaderModel ? shaderModelText(*needs.shaderModel) : "?";
      const std::optional<std::string> model =
          capabilities && capabilities->d3d12 ? capabilities->d3d12->shaderModel : std::nullopt;
      return model ? "shader model " + *model + ", below " + needed : "shader model unknown, " + needed + " needed";
    }
    case PassedOver::noVulkanDevice: return "no Vulkan device";
    case PassedOver::noOpenclDevice: return "no OpenCL device";
  }
  return passedOverName(reason);
}

}  // namespace

Json pickObject(const PickRequest& request, const Pick& pick) {
  Json object;
  object["prefer"] = preferredOrderName(request.prefer);
  object["userChoice"] = request.honourUserChoice;
  object["needs"] = Json::array();
  for (const std::string& need : needTexts(request.needs)) object["needs"].push_back(need);
  object["adapter"] = pick.adapter ? Json(*pick.adapter) : Json(nullptr);
  object["because"] = pick.because ? Json(pickedBecauseName(*pick.because)) : Json(nullptr);
  Json& candidates = object["candidates"] = Json::array();
  for (const Candidate& candidate : pick.candidates) {
    Json each;
    each["adapter"] = candidate.adapter;
    each["eligible"] = candidate.eligible();
    each["reasons"] = Json::array();
    for (PassedOver reason : candidate.reasons) each["reasons"].push_back(passedOverName(reason));
    candidates.push_back(std::move(each));
  }
  return object;
}

std::string pickLines(const Inventory& inventory, const PickRequest& request, const Pick& pick) {
  const std::string needs = joined(needTexts(request.needs));
  std::string text = "Pick: ";
  if (pick.adapter && pick.because) {
    text += adapterText(inventory, *pick.adapter) + ": " + whyFirst(inventory, request, *pick.because);
    if (!needs.empty()) {
      text += (*pick.because == PickedBecause::userChoice ? ", which meets the needs " : " that meets the needs ") +
              needs;
    }
  } else if (pick.candidates.empty()) {
    text += "none: no adapter to pick from";
  } else {
    text += needs.empty() ? "none: no hardware adapter" : "none: no adapter meets the needs " + needs;
  }
  text = oneLine(text) + "\n";
  for (const Candidate& candidate : pick.candidates) {
    // A software adapter is never picked, and the table marks it: passed over for no need.
    if (candidate.eligible() || candidate.adapter >= inventory.adapters.size() ||
        inventory.adapters[candidate.adapter].kind == AdapterKind::software) {
      continue;
    }
    std::string line = "Passed over: " + adapterText(inventory, candidate.adapter) + ": ";
    for (std::size_t i = 0; i < candidate.reasons.size(); ++i) {
      line += (i == 0 ? "" : "; ") +
              reasonWords(inventory.adapters[candidate.adapter], request.needs, candidate.reasons[i]);
    }
    text += oneLine(line) + "\n";
  }
  return text;
}

}  // namespace gpu_inventory
