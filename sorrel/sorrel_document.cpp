#include "sorrel_document.h"

#include <optional>

#include "json_output.h"

namespace {

template <typename Number>
std::string numberOrNull(const std::optional<Number>& value) {
  return value ? std::to_string(*value) : std::string("null");
}

void appendAdapter(std::string& out, const AdapterState& a) {
  appendFormatted(out,
                  "{\"luidLowPart\":%u,\"luidHighPart\":%d,\"dxgiOrdinal\":%u,"
                  "\"highPerformanceRank\":%s,\"minimumPowerRank\":%s,\"outputs\":%u,"
                  "\"dedicatedSystemMemory\":%llu,\"sharedSystemMemory\":%llu,",
                  static_cast<unsigned>(a.luidLowPart), static_cast<int>(a.luidHighPart),
                  static_cast<unsigned>(a.dxgiOrdinal), numberOrNull(a.highPerformanceRank).c_str(),
                  numberOrNull(a.minimumPowerRank).c_str(), static_cast<unsigned>(a.outputs),
                  static_cast<unsigned long long>(a.dedicatedSystemMemory),
                  static_cast<unsigned long long>(a.sharedSystemMemory));
  appendFormatted(out,
                  "\"localBudget\":%s,\"nonLocalBudget\":%s,\"dedicatedUsage\":%s,"
                  "\"sharedUsage\":%s,",
                  numberOrNull(a.localBudget).c_str(), numberOrNull(a.nonLocalBudget).c_str(),
                  numberOrNull(a.dedicatedUsage).c_str(), numberOrNull(a.sharedUsage).c_str());
  if (a.pci) {
    appendFormatted(out, "\"pciBus\":%u,\"pciDevice\":%u,\"pciFunction\":%u,",
                    static_cast<unsigned>(a.pci->bus), static_cast<unsigned>(a.pci->device),
                    static_cast<unsigned>(a.pci->function));
  } else {
    out += "\"pciBus\":null,\"pciDevice\":null,\"pciFunction\":null,";
  }
  if (a.driverVersion) {
    appendFormatted(out, "\"driverVersion\":\"%s\"}", driverVersionText(*a.driverVersion).c_str());
  } else {
    out += "\"driverVersion\":null}";
  }
}

}  // namespace

std::string driverVersionText(std::uint64_t version) {
  std::string text;
  appendFormatted(text, "%u.%u.%u.%u", static_cast<unsigned>(version >> 48 & 0xFFFFu),
                  static_cast<unsigned>(version >> 32 & 0xFFFFu),
                  static_cast<unsigned>(version >> 16 & 0xFFFFu),
                  static_cast<unsigned>(version & 0xFFFFu));
  return text;
}

std::string adapterDocument(const std::vector<AdapterState>& adapters) {
  std::string document = "{\"schema\":1,\"adapters\":[";
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    if (i > 0) document += ",";
    appendAdapter(document, adapters[i]);
  }
  document += "]}\n";
  return document;
}
