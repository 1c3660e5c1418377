#pragma once
// One adapter for a program's needs, picked from a taken inventory, with the reason each other
// adapter was passed over. The pick reads only the inventory's own fields: no probe runs again.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inventory.h"

namespace gpu_inventory {

// Direct3D feature levels as the D3D_FEATURE_LEVEL values they name.
enum class FeatureLevel : std::uint32_t {
  level9_1 = 0x9100,
  level9_2 = 0x9200,
  level9_3 = 0x9300,
  level10_0 = 0xa000,
  level10_1 = 0xa100,
  level11_0 = 0xb000,
  level11_1 = 0xb100,
  level12_0 = 0xc000,
  level12_1 = 0xc100,
  level12_2 = 0xc200,
};

struct ShaderModel {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

// A device of one Direct3D version, at this level or above when one is given.
struct Direct3dNeed {
  std::optional<FeatureLevel> level;
};

// What the program needs of its adapter; each need left out is not asked.
struct Needs {
  bool discrete = false;                // not an integrated GPU
  std::optional<std::uint64_t> memory;  // at least this many bytes that the program can have
  std::optional<Direct3dNeed> direct3d11;
  std::optional<Direct3dNeed> direct3d12;
  std::optional<ShaderModel> shaderModel;  // a Direct3D 12 device with this model or a later one
  bool vulkan = false;                     // a Vulkan device (preferredVulkanDevice)
  bool opencl = false;                     // an OpenCL device (openclKind)
};

enum class PreferredOrder { highPerformance, minimumPower };

struct PickRequest {
  PreferredOrder prefer = PreferredOrder::highPerformance;
  // The GPU that the user chose for the program in Windows' graphics settings first.
  bool honourUserChoice = true;
  Needs needs;
};

// Why a candidate was passed over, in the order a candidate lists them. capabilitiesUnknown: a
// Direct3D need was asked and tansy did not answer for the adapter (not known is not "no").
enum class PassedOver {
  software,
  integrated,
  notEnoughMemory,
  capabilitiesUnknown,
  noDirect3d11Device,
  direct3d11LevelBelow,
  noDirect3d12Device,
  direct3d12LevelBelow,
  shaderModelBelow,
  noVulkanDevice,
  noOpenclDevice,
};

// Why the picked adapter stands first: the user chose it for the program; it comes first in
// Windows' order of preference; it comes first in the inventory's own rule (sorrel gave no
// whole order).
enum class PickedBecause { userChoice, windowsOrder, ruleOrder };

struct Candidate {
  std::uint32_t adapter = 0;         // its position in Inventory::adapters
  std::vector<PassedOver> reasons;   // none: it meets every need
  bool eligible() const { return reasons.empty(); }
};

struct Pick {
  std::optional<std::uint32_t> adapter;   // the first eligible candidate; none when none is
  std::optional<PickedBecause> because;   // none exactly when adapter is none
  std::vector<Candidate> candidates;      // every adapter once, in the order considered
};

// Considers the user's choice first (when the request honours it and the inventory has one),
// then the preferred order: every entry of inventory.adapters exactly once. Throws nothing but
// std::bad_alloc.
Pick pickAdapter(const Inventory& inventory, const PickRequest& request = {});

// The entry the pick names, or nullptr: a pointer into the inventory.
const AdapterInventory* pickedEntry(const Inventory& inventory, const Pick& pick);
const AdapterInventory* pickedEntry(const Inventory&& inventory, const Pick& pick) = delete;

// The memory a program can have on the adapter, as the memory need compares it: where its
// memory is the system's (the Direct3D 12 device's UMA, else isIntegratedGpu), what Windows
// lets one process use of both its segments (sorrel's localBudget plus nonLocalBudget); else
// the dedicated memory no process uses; dedicatedVideoMemory where a value it takes is unknown.
std::uint64_t memoryForProgram(const AdapterInventory& entry);

// A Direct3D feature level as tansy prints it ("12_1", or a number in decimal) as its value;
// none when the text is neither.
std::optional<std::uint32_t> featureLevelValue(const std::string& text);

// Needs as inventory.exe spells them: "discrete", "memory=SIZE" (bytes, or with KiB, MiB or GiB,
// powers of 1024), "d3d11", "d3d11=LEVEL" (9_1 to 12_1), "d3d12", "d3d12=LEVEL" (11_0 to
// 12_2), "shader-model=M" (5.1, 6.0 to 6.9), "vulkan", "opencl". Adds one to needs; false, with
// the reason in problem, for a need not among these, a malformed value, a level or model out of
// its range, or a need that needs already has.
bool addNeed(Needs& needs, const std::string& text, std::string& problem);

// The needs spelled as addNeed reads them, in the order above; memory in bytes.
std::vector<std::string> needTexts(const Needs& needs);

const char* preferredOrderName(PreferredOrder order);  // "highPerformance", "minimumPower"
const char* passedOverName(PassedOver reason);         // "software", ... as listed above
const char* pickedBecauseName(PickedBecause because);  // "userChoice", "windowsOrder", "ruleOrder"
std::string featureLevelText(FeatureLevel level);      // "12_0"
std::string shaderModelText(ShaderModel model);        // "6.2"

}  // namespace gpu_inventory
