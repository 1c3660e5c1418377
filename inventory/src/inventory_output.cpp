#include "inventory_output.h"

#include <cmath>
#include <cstdio>

namespace gpu_inventory {
namespace {

using Json = nlohmann::ordered_json;

Json runObject(const ProbeRun& run) {
  Json object;
  object["outcome"] = outcomeName(run.outcome);
  object["exitCode"] = run.exitCode ? Json(*run.exitCode) : Json(nullptr);
  object["seconds"] = std::round(run.seconds * 1000) / 1000;
  if (run.outcome != Outcome::answered) object["problem"] = run.problem;
  if (!run.document.is_null()) object["document"] = run.document;
  return object;
}

Json deviceList(const std::vector<VulkanDevice>& devices) {
  Json list = Json::array();
  for (const VulkanDevice& device : devices) list.push_back(device.asPrinted);
  return list;
}

// Display columns of a UTF-8 text: one per code point.
std::size_t columns(const std::string& text) {
  std::size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
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

std::string memoryText(std::uint64_t bytes) {
  char text[32];
  if (bytes >= (1ull << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1ull << 30));
  } else {
    std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
  }
  return text;
}

std::string vulkanCell(const Inventory& inventory, const AdapterInventory& entry) {
  if (inventory.quarry.run.outcome != Outcome::answered) return whyNot("quarry", inventory.quarry.run);
  std::string cell;
  for (const VulkanDevice& device : entry.vulkanDevices) {
    cell += (cell.empty() ? "#" : "; #") + std::to_string(device.vkIndex) + " " + device.name;
  }
  if (!cell.empty()) return cell;
  const std::vector<VulkanDevice>& devices = inventory.quarry.devices;
  std::uint32_t withLuid = 0;
  for (const VulkanDevice& device : devices) withLuid += device.deviceLuidValid;
  const auto total = static_cast<std::uint32_t>(devices.size());
  if (total == 0) return "no Vulkan device with this LUID: quarry lists no Vulkan device";
  return "no Vulkan device with this LUID: " + counted(total, "Vulkan device") +
         (withLuid == 0 ? ", none with a valid LUID"
                        : ", " + std::to_string(withLuid) + " with a valid LUID, none this one");
}

std::string openclCell(const BrindleRun& brindle) {
  if (brindle.run.outcome != Outcome::answered) return whyNot("brindle", brindle.run);
  const BrindleAnswer& a = brindle.answer;
  if (a.matched) {
    return a.platform + " / " + a.device + " (#" + std::to_string(a.deviceIndex) + ", by " +
           a.method + ")";
  }
  if (a.reason == "no_platforms") return "no OpenCL platform on this machine";
  return "no OpenCL device for this adapter: " + counted(a.platformCount, "platform") + ", " +
         std::to_string(a.d3d11SharingPlatforms) + " with Direct3D 11 sharing, " +
         counted(a.luidExtDevices, "GPU device") + " with a LUID";
}

// A driver's name may hold a line feed or another control character: in a table it is a space.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

std::string tableOf(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], columns(row[i]));
  }
  std::string text;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (std::size_t i = 0; i < rows[r].size(); ++i) {
      const std::string cell = r == 1 ? std::string(widths[i], '-') : oneLine(rows[r][i]);
      line += (i == 0 ? "" : "  ") + cell + std::string(widths[i] - columns(cell), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  }
  return text;
}

}  // namespace

std::string inventoryDocument(const Inventory& inventory) {
  Json document;
  document["schema"] = 1;
  document["fennel"] = runObject(inventory.fennel.run);
  document["quarry"] = runObject(inventory.quarry.run);
  document["adapters"] = Json::array();
  for (const AdapterInventory& entry : inventory.adapters) {
    Json adapter;
    adapter["adapter"] = entry.adapter.asPrinted;
    adapter["vulkanDevices"] = deviceList(entry.vulkanDevices);
    adapter["brindle"] = runObject(entry.brindle.run);
    document["adapters"].push_back(std::move(adapter));
  }
  document["otherVulkanDevices"] = deviceList(inventory.otherVulkanDevices);
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string inventoryTable(const Inventory& inventory) {
  std::string text;
  if (inventory.fennel.run.outcome != Outcome::answered) {
    text += "DXGI adapters unknown: " + oneLine(whyNot("fennel", inventory.fennel.run)) + "\n";
  } else if (inventory.adapters.empty()) {
    text += "DXGI lists no hardware adapter.\n";
  } else {
    std::vector<std::vector<std::string>> rows = {
        {"DXGI adapter", "LUID", "Memory", "Integrated", "Vulkan device", "OpenCL device"}, {}};
    rows[1].resize(rows[0].size());
    for (const AdapterInventory& entry : inventory.adapters) {
      const FennelAdapter& a = entry.adapter;
      rows.push_back({a.name, std::to_string(a.luidLowPart) + ":" + std::to_string(a.luidHighPart),
                      memoryText(a.dedicatedVideoMemory), a.isIntegratedGpu ? "yes" : "no",
                      vulkanCell(inventory, entry), openclCell(entry.brindle)});
    }
    text += tableOf(rows);
  }
  if (inventory.quarry.run.outcome != Outcome::answered && inventory.adapters.empty()) {
    text += "Vulkan: " + oneLine(whyNot("quarry", inventory.quarry.run)) + "\n";
  }
  for (const VulkanDevice& device : inventory.otherVulkanDevices) {
    text += "Vulkan device of no DXGI adapter: #" + std::to_string(device.vkIndex) + " " +
            oneLine(device.name) + (device.deviceLuidValid ? "" : " (no LUID)") + "\n";
  }
  return text;
}

}  // namespace gpu_inventory
