#include "tansy_document.h"

#include "json_output.h"
#include "tansy_platform.h"

namespace {

struct NamedLevel {
  std::uint32_t level;
  const char* name;
};
constexpr NamedLevel kLevelNames[] = {
    {kLevel9_1, "9_1"},   {kLevel9_2, "9_2"},   {kLevel9_3, "9_3"},   {kLevel10_0, "10_0"},
    {kLevel10_1, "10_1"}, {kLevel11_0, "11_0"}, {kLevel11_1, "11_1"}, {kLevel12_0, "12_0"},
    {kLevel12_1, "12_1"}, {kLevel12_2, "12_2"},
};

void appendHresult(std::string& out, HResult result) {
  appendFormatted(out, "\"0x%08X\"", static_cast<unsigned>(result));
}

void appendString(std::string& out, const std::string& text) {
  out += '"';
  out += jsonEscape(text);
  out += '"';
}

template <typename Value, typename Append>
void appendOptional(std::string& out, const std::optional<Value>& value, Append append) {
  if (value) {
    append(*value);
  } else {
    out += "null";
  }
}

void appendBool(std::string& out, const std::optional<bool>& value) {
  appendOptional(out, value, [&](bool v) { out += jsonBool(v); });
}

void appendUnsigned(std::string& out, const std::optional<std::uint64_t>& value) {
  appendOptional(out, value, [&](std::uint64_t v) {
    appendFormatted(out, "%llu", static_cast<unsigned long long>(v));
  });
}

void appendLevel(std::string& out, const std::optional<std::uint32_t>& level) {
  appendOptional(out, level, [&](std::uint32_t v) { appendString(out, featureLevelName(v)); });
}

void appendD3d11(std::string& out, const D3d11Capabilities& d3d11) {
  out += "{\"result\":";
  appendHresult(out, d3d11.result);
  out += ",\"featureLevel\":";
  appendLevel(out, d3d11.featureLevel);
  out += '}';
}

void appendD3d12(std::string& out, const D3d12Capabilities& d3d12) {
  out += "{\"result\":";
  appendHresult(out, d3d12.result);
  out += ",\"featureLevel\":";
  appendLevel(out, d3d12.featureLevel);
  out += ",\"shaderModel\":";
  appendOptional(out, d3d12.shaderModel, [&](std::uint32_t model) {
    appendFormatted(out, "\"%u.%u\"", (model >> 4) & 0xFu, model & 0xFu);
  });
  out += ",\"resourceBindingTier\":";
  appendUnsigned(out, d3d12.resourceBindingTier);
  out += ",\"uma\":";
  appendBool(out, d3d12.uma);
  out += ",\"cacheCoherentUma\":";
  appendBool(out, d3d12.cacheCoherentUma);
  out += ",\"native16BitShaderOps\":";
  appendBool(out, d3d12.native16BitShaderOps);
  out += ",\"waveOps\":";
  appendBool(out, d3d12.waveOps);
  out += '}';
}

void appendLuid(std::string& out, std::uint32_t lowPart, std::int32_t highPart) {
  appendFormatted(out, "\"luidLowPart\":%u,\"luidHighPart\":%d", static_cast<unsigned>(lowPart),
                  static_cast<int>(highPart));
}

void appendAdapter(std::string& out, const AdapterCapabilities& adapter) {
  out += '{';
  appendLuid(out, adapter.luidLowPart, adapter.luidHighPart);
  appendFormatted(out, ",\"dxgiOrdinal\":%u,\"software\":%s,\"d3d11\":",
                  static_cast<unsigned>(adapter.dxgiOrdinal), jsonBool(adapter.software));
  appendOptional(out, adapter.d3d11, [&](const D3d11Capabilities& d) { appendD3d11(out, d); });
  out += ",\"d3d12\":";
  appendOptional(out, adapter.d3d12, [&](const D3d12Capabilities& d) { appendD3d12(out, d); });
  out += '}';
}

const char* hardwareTypeName(HardwareType type) {
  switch (type) {
    case HardwareType::npu: return "\"npu\"";
    case HardwareType::computeAccelerator: return "\"computeAccelerator\"";
    case HardwareType::mediaAccelerator: return "\"mediaAccelerator\"";
    case HardwareType::gpu: return "\"gpu\"";
    case HardwareType::unknown: break;
  }
  return "null";
}

void appendComputeDevice(std::string& out, const ComputeDevice& device) {
  out += "{\"result\":";
  appendHresult(out, device.result);
  out += ",\"featureLevel\":";
  appendOptional(out, device.featureLevel, [&](std::uint32_t level) {
    out += level == kLevel1_0Core ? "\"1_0_core\"" : "\"1_0_generic\"";
  });
  out += '}';
}

void appendComputeAdapter(std::string& out, const ComputeAdapter& adapter) {
  out += '{';
  appendLuid(out, adapter.luidLowPart, adapter.luidHighPart);
  out += ",\"name\":";
  appendString(out, adapter.name);
  out += ",\"vendorId\":";
  appendUnsigned(out, adapter.vendorId);
  out += ",\"deviceId\":";
  appendUnsigned(out, adapter.deviceId);
  out += ",\"hardware\":";
  appendBool(out, adapter.hardware);
  out += ",\"hardwareType\":";
  out += hardwareTypeName(adapter.hardwareType);
  appendFormatted(out, ",\"coreCompute\":%s,\"genericMl\":%s,\"dedicatedAdapterMemory\":",
                  jsonBool(adapter.coreCompute), jsonBool(adapter.genericMl));
  appendUnsigned(out, adapter.dedicatedAdapterMemory);
  out += ",\"driverVersion\":";
  appendOptional(out, adapter.driverVersion, [&](std::uint64_t version) {
    appendFormatted(out, "\"%u.%u.%u.%u\"", static_cast<unsigned>((version >> 48) & 0xFFFF),
                    static_cast<unsigned>((version >> 32) & 0xFFFF),
                    static_cast<unsigned>((version >> 16) & 0xFFFF),
                    static_cast<unsigned>(version & 0xFFFF));
  });
  out += ",\"d3d12\":";
  appendOptional(out, adapter.d3d12, [&](const ComputeDevice& d) { appendComputeDevice(out, d); });
  out += '}';
}

template <typename Item, typename Append>
void appendList(std::string& out, const std::vector<Item>& items, Append append) {
  out += '[';
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    append(out, items[i]);
  }
  out += ']';
}

}  // namespace

std::string featureLevelName(std::uint32_t level) {
  for (const NamedLevel& named : kLevelNames) {
    if (named.level == level) return named.name;
  }
  return std::to_string(level);
}

std::string tansyDocument(bool dxcoreAvailable, const std::vector<AdapterCapabilities>& adapters,
                          const std::vector<ComputeAdapter>& computeAdapters) {
  std::string out = "{\"schema\":1,\"dxcoreAvailable\":";
  out += jsonBool(dxcoreAvailable);
  out += ",\"adapters\":";
  appendList(out, adapters, appendAdapter);
  out += ",\"computeAdapters\":";
  appendList(out, computeAdapters, appendComputeAdapter);
  out += "}\n";
  return out;
}
