#include "inventory_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "pick_output.h"
#include "table_text.h"

namespace gpu_inventory {
namespace {

using Json = nlohmann::ordered_json;

Json runObject(const ProbeRun& run) {
  Json object;
  object["outcome"] = outcomeName(run.outcome);
  object["exitCode"] = run.exitCode ? Json(*run.exitCode) : Json(nullptr);
  object["seconds"] = std::round(run.seconds * 1000) / 1000;
  if (run.endedAtLimit) object["endedAtLimit"] = true;
  if (run.outcome != Outcome::answered) object["problem"] = run.problem;
  if (!run.document.is_null()) object["document"] = run.document;
  return object;
}

Json deviceList(const std::vector<InventoryVulkanDevice>& devices) {
  Json list = Json::array();
  for (const InventoryVulkanDevice& entry : devices) {
    Json device;
    device["kind"] = kindName(entry.kind);
    device["device"] = entry.device.asPrinted;
    list.push_back(std::move(device));
  }
  return list;
}

Json orNull(const char* text) { return text ? Json(text) : Json(nullptr); }

template <typename Value>
Json orNull(const std::optional<Value>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json settingsObject(const Inventory& inventory) {
  const GraphicsSettings& settings = inventory.graphicsSettings;
  Json object;
  object["program"] = orNull(settings.program);
  object["preference"] = settings.preference ? Json(preferenceName(*settings.preference)) : Json(nullptr);
  object["setting"] = orNull(settings.setting);
  object["globalSetting"] = orNull(settings.globalSetting);
  object["highPerformanceAdapter"] = orNull(inventory.highPerformanceAdapter);
  object["chosenAdapter"] = orNull(inventory.chosenAdapter);
  return object;
}

Json positions(const std::vector<std::uint32_t>& list) {
  Json array = Json::array();
  for (std::uint32_t position : list) array.push_back(position);
  return array;
}

std::string counted(std::uint32_t number, const char* noun) {
  return std::to_string(number) + " " + noun + (number == 1 ? "" : "s");
}

const char* outcomeWords(Outcome outcome) {
  switch (outcome) {
    case Outcome::notRun: return "was not run";
    case Outcome::answered: return "answered";
    case Outcome::failed: return "failed";
    case Outcome::crashed: return "crashed";
    case Outcome::timedOut: return "timed out";
    case Outcome::couldNotStart: return "could not start";
    case Outcome::garbled: return "printed no valid answer";
  }
  return "printed no valid answer";
}

std::string whyNot(const char* probe, const ProbeRun& run) {
  return std::string(probe) + " " + outcomeWords(run.outcome) + ": " + run.problem;
}

// Bytes in GiB with one decimal.
std::string gibText(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1ull << 30));
  return text;
}

// "5.2 of 6.0 GiB free", or "88 of 128 MiB free" in the unit of the memory column; nothing when
// the usage is unknown.
std::string freeText(const AdapterInventory& entry) {
  const std::optional<std::uint64_t> free = freeDedicatedMemory(entry);
  if (!free) return "";
  const std::uint64_t total = entry.adapter.dedicatedVideoMemory;
  if (total < (1ull << 30)) return std::to_string(*free >> 20) + " of " + std::to_string(total >> 20) + " MiB free";
  return gibText(*free) + " of " + gibText(total) + " GiB free";
}

// "01:00.0": bus, device and function; nothing when sorrel found none.
std::string pciText(const AdapterInventory& entry) {
  if (!entry.state || !entry.state->pciBus || !entry.state->pciDevice || !entry.state->pciFunction) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%02x:%02x.%x", static_cast<unsigned>(*entry.state->pciBus),
                static_cast<unsigned>(*entry.state->pciDevice), static_cast<unsigned>(*entry.state->pciFunction));
  return text;
}

std::string displaysText(const AdapterInventory& entry) {
  return entry.state ? std::to_string(entry.state->outputs) : "";
}

std::string hexIds(const PciIds& ids) {
  char text[40];
  std::snprintf(text, sizeof text, "%04X&%04X&%08X", static_cast<unsigned>(ids.vendorId),
                static_cast<unsigned>(ids.deviceId), static_cast<unsigned>(ids.subsystemId));
  return text;
}

// "python.exe is set to High performance in Windows' graphics settings: NVIDIA ... (69178:0)";
// nothing when Windows holds no setting for the program.
std::string settingLine(const Inventory& inventory) {
  const GraphicsSettings& settings = inventory.graphicsSettings;
  if (!settings.program || !settings.preference) return "";
  const std::string program = settings.program->substr(settings.program->find_last_of("\\/") + 1);
  std::string choice;
  switch (*settings.preference) {
    case GpuPreference::unspecified: return program + " is set to Let Windows decide in Windows' graphics settings";
    case GpuPreference::minimumPower: choice = "Power saving"; break;
    case GpuPreference::highPerformance: choice = "High performance"; break;
    case GpuPreference::specificAdapter:
      choice = settings.specificAdapter ? "the GPU " + hexIds(*settings.specificAdapter) : "one GPU";
      break;
    case GpuPreference::other:
      return program + " has a setting in Windows' graphics settings that the inventory cannot read: " +
             (settings.setting ? "\"" + *settings.setting + "\"" : std::string("not a string, or past 16 MiB"));
  }
  std::string line = program + " is set to " + choice + " in Windows' graphics settings";
  if (inventory.chosenAdapter) return line + ": " + adapterText(inventory, *inventory.chosenAdapter);
  if (inventory.adapters.empty()) return line;
  return line + (*settings.preference == GpuPreference::specificAdapter ? ", which no single adapter here has" : "");
}

// A line for each run that printed its answer but had to be ended: a driver that hangs while
// the probe lets go of it.
std::string endedAtLimitLines(const Inventory& inventory) {
  std::vector<std::pair<std::string, const ProbeRun*>> runs = {
      {"fennel", &inventory.fennel.run}, {"quarry", &inventory.quarry.run}, {"sorrel", &inventory.sorrel.run}};
  if (inventory.quarryWithoutImplicitLayers) {
    runs.emplace_back("quarry without implicit layers", &inventory.quarryWithoutImplicitLayers->run);
  }
  runs.emplace_back("tansy", &inventory.tansy.run);
  for (std::size_t i = 0; i < inventory.adapters.size(); ++i) {
    const AdapterInventory& entry = inventory.adapters[i];
    runs.emplace_back("brindle on " + entry.adapter.name, &entry.brindle.run);
    if (inventory.tansyPerAdapter && i < inventory.tansyPerAdapter->size()) {
      runs.emplace_back("tansy on " + entry.adapter.name, &(*inventory.tansyPerAdapter)[i].run);
    }
  }
  std::string text;
  for (const auto& [purpose, run] : runs) {
    if (!run->endedAtLimit) continue;
    text += oneLine(purpose) + " printed its whole answer, then did not end within its time limit and was ended\n";
  }
  return text;
}

// The first adapter of each order, by name, and where the orders come from.
std::string choiceLine(const Inventory& inventory) {
  const AdapterOrder& order = inventory.order;
  if (order.highPerformance.empty() || order.minimumPower.empty()) return "";
  const auto name = [&](std::uint32_t position) { return adapterText(inventory, position); };
  std::string line = "High performance: " + name(order.highPerformance.front()) +
                     "; minimum power: " + name(order.minimumPower.front());
  if (order.from == OrderSource::windows) return line + " (Windows' preference)";
  line += " (the inventory's rule, not Windows' preference: ";
  if (inventory.sorrel.run.outcome != Outcome::answered) return line + whyNot("sorrel", inventory.sorrel.run) + ")";
  return line + "sorrel gave no whole order of the hardware adapters)";
}

// The quarry run that the devices come from, or nullptr when neither answered.
const QuarryRun* vulkanRun(const Inventory& inventory) {
  switch (inventory.vulkanFrom) {
    case VulkanSource::none: return nullptr;
    case VulkanSource::quarry: return &inventory.quarry;
    case VulkanSource::quarryWithoutImplicitLayers:  // an Inventory made by hand may lack it
      return inventory.quarryWithoutImplicitLayers ? &*inventory.quarryWithoutImplicitLayers : nullptr;
  }
  return nullptr;
}

std::string vulkanUnknown(const Inventory& inventory) {
  std::string text = whyNot("quarry", inventory.quarry.run);
  if (inventory.quarryWithoutImplicitLayers) {
    const ProbeRun& again = inventory.quarryWithoutImplicitLayers->run;
    text += "; with implicit layers disabled it " + std::string(outcomeWords(again.outcome)) +
            ": " + again.problem;
  }
  return text;
}

// " (translation)", " (software)": nothing for a native device.
std::string kindMark(DeviceKind kind) {
  return kind == DeviceKind::native ? "" : std::string(" (") + kindName(kind) + ")";
}

std::string vulkanCell(const Inventory& inventory, const AdapterInventory& entry) {
  const QuarryRun* quarry = vulkanRun(inventory);
  if (quarry == nullptr) return vulkanUnknown(inventory);
  std::string cell;
  for (const InventoryVulkanDevice& device : entry.vulkanDevices) {
    const bool preferred = entry.preferredVulkanDevice == device.device.vkIndex;
    cell += (cell.empty() ? "#" : "; #") + std::to_string(device.device.vkIndex) + " " +
            device.device.name + kindMark(device.kind) + (preferred ? " (preferred)" : "");
  }
  if (!cell.empty()) return cell;
  const std::vector<VulkanDevice>& devices = quarry->devices;
  std::uint32_t withLuid = 0;
  for (const VulkanDevice& device : devices) withLuid += device.deviceLuidValid;
  const auto total = static_cast<std::uint32_t>(devices.size());
  if (total == 0) return "no Vulkan device with this LUID: quarry lists no Vulkan device";
  return "no Vulkan device with this LUID: " + counted(total, "Vulkan device") +
         (withLuid == 0 ? ", none with a valid LUID"
                        : ", " + std::to_string(withLuid) + " with a valid LUID, none this one");
}

std::string openclCell(const AdapterInventory& entry) {
  const BrindleRun& brindle = entry.brindle;
  if (brindle.run.outcome != Outcome::answered) return whyNot("brindle", brindle.run);
  const BrindleAnswer& a = brindle.answer;
  if (a.matched) {
    return a.platform + " / " + a.device + " (#" + std::to_string(a.deviceIndex) + ", by " +
           a.method + ")" + kindMark(entry.openclKind.value_or(DeviceKind::native));
  }
  if (a.reason == "no_platforms") return "no OpenCL platform on this machine";
  return "no OpenCL device for this adapter: " + counted(a.platformCount, "platform") + ", " +
         std::to_string(a.d3d11SharingPlatforms) + " with Direct3D 11 sharing, " +
         counted(a.luidExtDevices, "GPU device") + " with a LUID";
}

// The run that an adapter's capabilities come from: tansy's over every adapter when it answered,
// else the adapter's own when there was one.
const ProbeRun& capabilitiesRun(const Inventory& inventory, std::size_t position) {
  const bool own = inventory.tansy.run.outcome != Outcome::answered && inventory.tansyPerAdapter &&
                   position < inventory.tansyPerAdapter->size();
  return own ? (*inventory.tansyPerAdapter)[position].run : inventory.tansy.run;
}

// "12_1, shader model 6.6", or why there is no Direct3D 12 device.
std::string direct3d12Cell(const Inventory& inventory, std::size_t position) {
  const AdapterInventory& entry = inventory.adapters[position];
  if (!entry.capabilities) {
    const ProbeRun& run = capabilitiesRun(inventory, position);
    if (run.outcome != Outcome::answered) return whyNot("tansy", run);
    return "tansy does not list this adapter";
  }
  if (!entry.capabilities->d3d12) return "no d3d12.dll";
  const D3d12Capabilities& d3d12 = *entry.capabilities->d3d12;
  // "0x0..." to "0x7...": a device. An inventory made by hand may hold any text.
  const bool device = d3d12.result.size() == 10 && d3d12.result.compare(0, 2, "0x") == 0 &&
                      d3d12.result[2] >= '0' && d3d12.result[2] <= '7';
  if (!device) return "no device: D3D12CreateDevice gave " + d3d12.result;
  return (d3d12.featureLevel ? *d3d12.featureLevel : std::string("feature level unknown")) + ", shader model " +
         (d3d12.shaderModel ? *d3d12.shaderModel : std::string("unknown"));
}

const char* hardwareTypeWords(const std::optional<std::string>& type) {
  if (!type) return "type unknown";
  if (*type == "npu") return "NPU";
  if (*type == "computeAccelerator") return "compute accelerator";
  if (*type == "mediaAccelerator") return "media accelerator";
  return "GPU";
}

// "NPU 70123:0 Intel(R) AI Boost, vendor 8086, Direct3D 12 at 1_0_generic": the LUID always,
// since an NPU's name is often empty.
std::string computeAdapterLine(const ComputeAdapter& adapter) {
  char vendor[16] = "unknown";
  if (adapter.vendorId) std::snprintf(vendor, sizeof vendor, "%04X", static_cast<unsigned>(*adapter.vendorId));
  std::string line = std::string("Compute-only adapter: ") + hardwareTypeWords(adapter.hardwareType) + " " +
                     std::to_string(adapter.luidLowPart) + ":" + std::to_string(adapter.luidHighPart) + " " +
                     (adapter.name.empty() ? "(no name)" : oneLine(adapter.name)) + ", vendor " + vendor + ", ";
  if (!adapter.d3d12) return line + "no d3d12.dll";
  if (!adapter.d3d12->featureLevel) return line + "no Direct3D 12 device: " + adapter.d3d12->result;
  return line + "Direct3D 12 at " + *adapter.d3d12->featureLevel;
}

// The compute-only adapters, or why they are unknown.
std::string computeAdapterLines(const Inventory& inventory) {
  const TansyRun& tansy = inventory.tansy;
  if (tansy.run.outcome != Outcome::answered) {
    return "Compute-only adapters unknown: " + oneLine(whyNot("tansy", tansy.run)) + "\n";
  }
  if (!tansy.dxcoreAvailable) return "Compute-only adapters unknown: no DXCore on this system\n";
  std::string text;
  for (const ComputeAdapter& adapter : inventory.computeAdapters) text += computeAdapterLine(adapter) + "\n";
  return text;
}

// The rows as a table: the labels, a rule, then one line an adapter.
std::string tableOf(const std::vector<std::vector<std::string>>& rows, std::size_t& widest) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], columns(row[i]));
  }
  std::string text;
  widest = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (std::size_t i = 0; i < rows[r].size(); ++i) {
      const std::string cell = r == 1 ? std::string(widths[i], '-') : oneLine(rows[r][i]);
      line += (i == 0 ? "" : "  ") + cell + std::string(widths[i] - columns(cell), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    widest = std::max(widest, columns(line));
    text += line + "\n";
  }
  return text;
}

// The same rows as one block an adapter, a line a column ("PCI: 01:00.0"), blocks apart by an
// empty line: for a console too narrow for the table, where its lines would wrap.
std::string blocksOf(const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  for (std::size_t r = 2; r < rows.size(); ++r) {
    if (r > 2) text += "\n";
    for (std::size_t i = 0; i < rows[r].size() && i < rows[0].size(); ++i) {
      std::string line = rows[0][i] + ": " + oneLine(rows[r][i]);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      text += line + "\n";
    }
  }
  return text;
}

}  // namespace

std::string inventoryDocument(const Inventory& inventory, const PickRequest& request) {
  Json document;
  document["schema"] = 2;
  document["fennel"] = runObject(inventory.fennel.run);
  document["quarry"] = runObject(inventory.quarry.run);
  if (inventory.quarryWithoutImplicitLayers) {
    document["quarryWithoutImplicitLayers"] = runObject(inventory.quarryWithoutImplicitLayers->run);
  }
  document["vulkanFrom"] = orNull(vulkanSourceName(inventory.vulkanFrom));
  document["sorrel"] = runObject(inventory.sorrel.run);
  document["tansy"] = runObject(inventory.tansy.run);
  if (inventory.tansyPerAdapter) {
    Json& runs = document["tansyPerAdapter"] = Json::array();
    for (const TansyRun& own : *inventory.tansyPerAdapter) runs.push_back(runObject(own.run));
  }
  Json& order = document["order"];
  order["highPerformance"] = positions(inventory.order.highPerformance);
  order["minimumPower"] = positions(inventory.order.minimumPower);
  order["from"] = orderSourceName(inventory.order.from);
  document["graphicsSettings"] = settingsObject(inventory);
  document["pick"] = pickObject(request, pickAdapter(inventory, request));
  document["adapters"] = Json::array();
  for (const AdapterInventory& entry : inventory.adapters) {
    Json adapter;
    adapter["adapter"] = entry.adapter.asPrinted;
    adapter["kind"] = kindName(entry.kind);
    adapter["state"] = entry.state ? entry.state->asPrinted : Json(nullptr);
    const std::optional<std::uint64_t> free = freeDedicatedMemory(entry);
    adapter["freeDedicatedMemory"] = free ? Json(*free) : Json(nullptr);
    adapter["vulkanDevices"] = deviceList(entry.vulkanDevices);
    adapter["preferredVulkanDevice"] =
        entry.preferredVulkanDevice ? Json(*entry.preferredVulkanDevice) : Json(nullptr);
    adapter["brindle"] = runObject(entry.brindle.run);
    adapter["openclKind"] = entry.openclKind ? Json(kindName(*entry.openclKind)) : Json(nullptr);
    adapter["capabilities"] = entry.capabilities ? entry.capabilities->asPrinted : Json(nullptr);
    document["adapters"].push_back(std::move(adapter));
  }
  document["computeAdapters"] = Json::array();
  for (const ComputeAdapter& adapter : inventory.computeAdapters) document["computeAdapters"].push_back(adapter.asPrinted);
  document["otherVulkanDevices"] = deviceList(inventory.otherVulkanDevices);
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string inventoryTable(const Inventory& inventory, const PickRequest& request, std::size_t consoleColumns) {
  std::string text = pickLines(inventory, request, pickAdapter(inventory, request));
  if (inventory.fennel.run.outcome != Outcome::answered) {
    text += "DXGI adapters unknown: " + oneLine(whyNot("fennel", inventory.fennel.run)) + "\n";
  } else if (inventory.adapters.empty()) {
    text += "DXGI lists no hardware adapter.\n";
  } else {
    std::vector<std::vector<std::string>> rows = {
        {"DXGI adapter", "LUID", "PCI", "Memory", "Free memory", "Integrated", "Displays", "Direct3D 12",
         "Vulkan device", "OpenCL device"}, {}};
    rows[1].resize(rows[0].size());
    for (std::size_t i = 0; i < inventory.adapters.size(); ++i) {
      const AdapterInventory& entry = inventory.adapters[i];
      const FennelAdapter& a = entry.adapter;
      const std::string software = entry.kind == AdapterKind::software ? " (software)" : "";
      rows.push_back({a.name + software, std::to_string(a.luidLowPart) + ":" + std::to_string(a.luidHighPart),
                      pciText(entry), memoryText(a.dedicatedVideoMemory), freeText(entry),
                      a.isIntegratedGpu ? "yes" : "no", displaysText(entry), direct3d12Cell(inventory, i),
                      vulkanCell(inventory, entry),
                      openclCell(entry)});
    }
    std::size_t widest = 0;
    const std::string table = tableOf(rows, widest);
    // A line as wide as the console wraps too: the cursor moves on after its last column.
    text += consoleColumns != 0 && widest >= consoleColumns ? blocksOf(rows) : table;
    const std::string choice = choiceLine(inventory);
    if (!choice.empty()) text += oneLine(choice) + "\n";
  }
  text += computeAdapterLines(inventory);
  const std::string setting = settingLine(inventory);
  if (!setting.empty()) text += oneLine(setting) + "\n";
  text += endedAtLimitLines(inventory);
  if (inventory.vulkanFrom == VulkanSource::none && inventory.adapters.empty()) {
    text += "Vulkan: " + oneLine(vulkanUnknown(inventory)) + "\n";
  }
  for (const InventoryVulkanDevice& entry : inventory.otherVulkanDevices) {
    const VulkanDevice& device = entry.device;
    std::string marks = entry.kind == DeviceKind::native ? "" : kindName(entry.kind);
    if (!device.deviceLuidValid) marks += marks.empty() ? "no LUID" : ", no LUID";
    text += "Vulkan device of no DXGI adapter: #" + std::to_string(device.vkIndex) + " " +
            oneLine(device.name) + (marks.empty() ? "" : " (" + marks + ")") + "\n";
  }
  if (inventory.vulkanFrom == VulkanSource::quarryWithoutImplicitLayers) {
    text += "Vulkan: " + oneLine(whyNot("quarry", inventory.quarry.run)) +
            "; with implicit layers disabled it answered. A Vulkan layer installed on this machine "
            "breaks Vulkan: a program can set " + layersDisableVariable + "=" + allImplicitLayers +
            " in its own environment before it creates its Vulkan instance.\n";
  }
  return text;
}

}  // namespace gpu_inventory
