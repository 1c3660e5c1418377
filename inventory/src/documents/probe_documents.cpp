#include "gpu_inventory/probe_documents.h"

#include <cstdio>
#include <functional>

#include "documents/document_fields.h"
#include "documents/strict_json.h"

namespace gpu_inventory {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::uint64_t int32Max = 2147483647u;  // the largest index

const char* const driverIds[] = {
    "AMD_PROPRIETARY", "AMD_OPEN_SOURCE", "MESA_RADV", "NVIDIA_PROPRIETARY",
    "INTEL_PROPRIETARY_WINDOWS", "INTEL_OPEN_SOURCE_MESA", "IMAGINATION_PROPRIETARY",
    "QUALCOMM_PROPRIETARY", "ARM_PROPRIETARY", "GOOGLE_SWIFTSHADER", "GGP_PROPRIETARY",
    "BROADCOM_PROPRIETARY", "MESA_LLVMPIPE", "MOLTENVK", "COREAVI_PROPRIETARY",
    "JUICE_PROPRIETARY", "VERISILICON_PROPRIETARY", "MESA_TURNIP", "MESA_V3DV", "MESA_PANVK",
    "SAMSUNG_PROPRIETARY", "MESA_VENUS", "MESA_DOZEN", "MESA_NVK",
    "IMAGINATION_OPEN_SOURCE_MESA", "MESA_AGXV"};

[[noreturn]] void reject(const std::string& what) { throw DocumentError(what); }

std::string at(const std::string& list, std::size_t index) {
  return list + "[" + std::to_string(index) + "]";
}

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "1.3.277": between minParts and maxParts numbers joined by dots.
bool isDottedNumbers(const std::string& text, std::size_t minParts, std::size_t maxParts) {
  std::size_t parts = 0, start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    if (!allDigits(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start))) {
      return false;
    }
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts >= minParts && parts <= maxParts;
}

bool isDriverId(const std::string& text) {
  for (const char* known : driverIds) {
    if (text == known) return true;
  }
  const std::string prefix = "UNKNOWN(";
  if (text.size() < prefix.size() + 2 || text.compare(0, prefix.size(), prefix) != 0 ||
      text.back() != ')') {
    return false;
  }
  std::string number = text.substr(prefix.size(), text.size() - prefix.size() - 1);
  if (!number.empty() && number[0] == '-') number.erase(0, 1);
  return allDigits(number);
}

std::string exitCodeText(std::uint32_t code) {
  if (code < 0x10000) return std::to_string(code);
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

// An exit status that Windows gives a process ended by an exception: every status of error
// severity (0xC0000005, 0xC0000409, a C++ exception's 0xE06D7363) and a breakpoint.
bool isExceptionStatus(std::uint32_t code) { return code >= 0xC0000000u || code == 0x80000003u; }

struct Shape {
  std::uint64_t schema;
  bool errorHasMatched;  // brindle's error documents also say "matched":false
  bool hasUsageError;    // brindle's usage document: invalid_args with exit code 2
  std::size_t maxKeys;   // the most keys that any object of the probe's schema has
};

constexpr std::size_t maxDepth = 32;

// The output as one document of the probe's schema number, or a DocumentError saying why not.
Json documentOf(const std::string& output, const Shape& shape) {
  if (output.empty()) reject("no output");
  if (output.back() != '\n') reject("the output does not end in a line feed");
  if (output.find('\n') != output.size() - 1) reject("the output is more than one line");
  if (output.find('\r') != std::string::npos) reject("a carriage return in the output");
  Json document = parseStrictJson(repairUtf8(output.substr(0, output.size() - 1)),
                                  {maxDepth, shape.maxKeys, maxListEntries});
  requireObject(document, "");
  const std::uint64_t number = readUnsigned(document, "schema", "", UINT64_MAX);
  if (number != shape.schema) {
    reject("schema " + std::to_string(number) + ", not " + std::to_string(shape.schema));
  }
  return document;
}

// An error document; brindle's also says "matched":false. Codes are not a closed list here:
// a newer probe may add some.
ProbeError readError(const Json& document, bool withMatched) {
  if (withMatched) {
    allowOnlyKeys(document, {"schema", "matched", "error"}, "");
    if (readBool(document, "matched", "")) reject("matched: true in an error document");
  } else {
    allowOnlyKeys(document, {"schema", "error"}, "");
  }
  const Json& error = requireObject(requireKey(document, "error", ""), "error");
  allowOnlyKeys(error, {"code", "message"}, "error");
  ProbeError read{readString(error, "code", "error"), readString(error, "message", "error")};
  if (read.code.empty()) reject("error.code: empty");
  return read;
}

void readAdapters(const Json& document, FennelRun& fennel) {
  allowOnlyKeys(document, {"schema", "dxcoreAvailable", "adapters"}, "");
  fennel.dxcoreAvailable = readBool(document, "dxcoreAvailable", "");
  const Json& adapters = requireKey(document, "adapters", "");
  if (!adapters.is_array()) reject("adapters: not an array");
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const std::string path = at("adapters", i);
    const Json& item = requireObject(adapters[i], path);
    allowOnlyKeys(item, {"index", "name", "vendorId", "deviceId", "dedicatedVideoMemory",
                         "luidLowPart", "luidHighPart", "isIntegratedGpu"}, path);
    FennelAdapter adapter;
    adapter.index = static_cast<std::uint32_t>(readUnsigned(item, "index", path, int32Max));
    adapter.name = readString(item, "name", path);
    adapter.vendorId = readUint32(item, "vendorId", path);
    adapter.deviceId = readUint32(item, "deviceId", path);
    adapter.dedicatedVideoMemory = readUnsigned(item, "dedicatedVideoMemory", path, UINT64_MAX);
    adapter.luidLowPart = readUint32(item, "luidLowPart", path);
    adapter.luidHighPart = readInt32(item, "luidHighPart", path);
    adapter.isIntegratedGpu = readBool(item, "isIntegratedGpu", path);
    // A LUID names one adapter: listed twice, each would claim every device of the other, and
    // the inventory would grow with the square of the list.
    for (std::size_t j = 0; j < fennel.adapters.size(); ++j) {
      if (fennel.adapters[j].luidLowPart == adapter.luidLowPart &&
          fennel.adapters[j].luidHighPart == adapter.luidHighPart) {
        reject(path + ": the LUID of " + at("adapters", j));
      }
    }
    adapter.asPrinted = item;
    fennel.adapters.push_back(std::move(adapter));
  }
}

std::optional<std::string> optionalText(const Json& item, const char* key, const std::string& path) {
  if (!item.contains(key)) return std::nullopt;
  std::string text = readString(item, key, path);
  if (text.empty()) reject(path + "." + key + ": empty");
  return text;
}

VulkanDevice readDevice(const Json& item, const std::string& path) {
  requireObject(item, path);
  allowOnlyKeys(item, {"vkIndex", "name", "vendorId", "deviceId", "deviceLuidValid", "luidLowPart",
                       "luidHighPart", "apiVersion", "driverVersionRaw", "driverVersionFormatted",
                       "driverId", "driverName", "driverInfo"}, path);
  VulkanDevice device;
  device.vkIndex = static_cast<std::uint32_t>(readUnsigned(item, "vkIndex", path, int32Max));
  device.name = readString(item, "name", path);
  device.vendorId = readUint32(item, "vendorId", path);
  device.deviceId = readUint32(item, "deviceId", path);
  device.deviceLuidValid = readBool(item, "deviceLuidValid", path);
  if (device.deviceLuidValid) {
    device.luidLowPart = readUint32(item, "luidLowPart", path);
    device.luidHighPart = readInt32(item, "luidHighPart", path);
  } else if (item.contains("luidLowPart") || item.contains("luidHighPart")) {
    reject(path + ": a LUID that is not marked valid");
  }
  device.apiVersion = readString(item, "apiVersion", path);
  if (!isDottedNumbers(device.apiVersion, 3, 3)) reject(path + ".apiVersion: not major.minor.patch");
  device.driverVersionRaw = readUint32(item, "driverVersionRaw", path);
  device.driverVersionFormatted = readString(item, "driverVersionFormatted", path);
  if (!isDottedNumbers(device.driverVersionFormatted, 2, 4)) {
    reject(path + ".driverVersionFormatted: not two to four numbers");
  }
  if (item.contains("driverId")) {
    device.driverId = readString(item, "driverId", path);
    if (!isDriverId(*device.driverId)) reject(path + ".driverId: unknown");
  }
  device.driverName = optionalText(item, "driverName", path);
  device.driverInfo = optionalText(item, "driverInfo", path);
  device.asPrinted = item;
  return device;
}

void readDevices(const Json& document, QuarryRun& quarry) {
  allowOnlyKeys(document, {"schema", "devices"}, "");
  const Json& devices = requireKey(document, "devices", "");
  if (!devices.is_array()) reject("devices: not an array");
  for (std::size_t i = 0; i < devices.size(); ++i) {
    VulkanDevice device = readDevice(devices[i], at("devices", i));
    // A vkIndex names one device: listed twice, the index an adapter prefers could name another.
    for (std::size_t j = 0; j < quarry.devices.size(); ++j) {
      if (quarry.devices[j].vkIndex == device.vkIndex) reject(at("devices", i) + ": the vkIndex of " + at("devices", j));
    }
    quarry.devices.push_back(std::move(device));
  }
}

void readBrindleAnswer(const Json& document, BrindleAnswer& answer) {
  answer.matched = readBool(document, "matched", "");
  if (answer.matched) {
    allowOnlyKeys(document, {"schema", "matched", "selector", "platform", "device", "deviceIndex",
                             "method"}, "");
    answer.selector = readString(document, "selector", "");
    answer.platform = readString(document, "platform", "");
    answer.device = readString(document, "device", "");
    answer.deviceIndex = readUint32(document, "deviceIndex", "");
    answer.method = readString(document, "method", "");
    if (answer.method != "d3d11_sharing" && answer.method != "luid") reject("method: unknown");
    return;
  }
  allowOnlyKeys(document, {"schema", "matched", "reason", "platformCount", "d3d11SharingPlatforms",
                           "luidExtDevices"}, "");
  answer.reason = readString(document, "reason", "");
  answer.platformCount = readUint32(document, "platformCount", "");
  answer.d3d11SharingPlatforms = readUint32(document, "d3d11SharingPlatforms", "");
  answer.luidExtDevices = readUint32(document, "luidExtDevices", "");
  if (answer.reason == "no_platforms") {
    if (answer.platformCount != 0 || answer.d3d11SharingPlatforms != 0 || answer.luidExtDevices != 0) {
      reject("no_platforms with counters above 0");
    }
  } else if (answer.reason != "no_match") {
    reject("reason: unknown");
  }
}

// "32.0.15.6094": four numbers from 0 to 65535, without leading zeros.
bool isDriverVersion(const std::string& text) {
  std::size_t parts = 0, start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!allDigits(part) || part.size() > 5 || (part.size() > 1 && part[0] == '0')) return false;
    unsigned long value = 0;
    for (char c : part) value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 65535) return false;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

SorrelAdapter readSorrelAdapter(const Json& item, const std::string& path) {
  requireObject(item, path);
  allowOnlyKeys(item, {"luidLowPart", "luidHighPart", "dxgiOrdinal", "highPerformanceRank",
                       "minimumPowerRank", "outputs", "dedicatedSystemMemory", "sharedSystemMemory",
                       "localBudget", "nonLocalBudget", "dedicatedUsage", "sharedUsage", "pciBus",
                       "pciDevice", "pciFunction", "driverVersion"}, path);
  SorrelAdapter adapter;
  adapter.luidLowPart = readUint32(item, "luidLowPart", path);
  adapter.luidHighPart = readInt32(item, "luidHighPart", path);
  adapter.dxgiOrdinal = readUint32(item, "dxgiOrdinal", path);
  const auto uint32OrNull = [&](const char* key) -> std::optional<std::uint32_t> {
    const auto value = readUnsignedOrNull(item, key, path, 0xFFFFFFFFu);
    if (!value) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
  };
  adapter.highPerformanceRank = uint32OrNull("highPerformanceRank");
  adapter.minimumPowerRank = uint32OrNull("minimumPowerRank");
  adapter.outputs = readUint32(item, "outputs", path);
  adapter.dedicatedSystemMemory = readUnsigned(item, "dedicatedSystemMemory", path, UINT64_MAX);
  adapter.sharedSystemMemory = readUnsigned(item, "sharedSystemMemory", path, UINT64_MAX);
  adapter.localBudget = readUnsignedOrNull(item, "localBudget", path, UINT64_MAX);
  adapter.nonLocalBudget = readUnsignedOrNull(item, "nonLocalBudget", path, UINT64_MAX);
  adapter.dedicatedUsage = readUnsignedOrNull(item, "dedicatedUsage", path, UINT64_MAX);
  adapter.sharedUsage = readUnsignedOrNull(item, "sharedUsage", path, UINT64_MAX);
  adapter.pciBus = uint32OrNull("pciBus");
  const auto device = readUnsignedOrNull(item, "pciDevice", path, 0xFFFF);
  const auto function = readUnsignedOrNull(item, "pciFunction", path, 0xFFFF);
  if (adapter.pciBus.has_value() != device.has_value() || device.has_value() != function.has_value()) {
    reject(path + ": a PCI location in part");
  }
  if (device) adapter.pciDevice = static_cast<std::uint16_t>(*device);
  if (function) adapter.pciFunction = static_cast<std::uint16_t>(*function);
  if (!requireKey(item, "driverVersion", path).is_null()) {
    adapter.driverVersion = readString(item, "driverVersion", path);
    if (!isDriverVersion(*adapter.driverVersion)) {
      reject(path + ".driverVersion: not four numbers from 0 to 65535");
    }
  }
  adapter.asPrinted = item;
  return adapter;
}

void readSorrelAdapters(const Json& document, SorrelRun& sorrel) {
  allowOnlyKeys(document, {"schema", "adapters"}, "");
  const Json& adapters = requireKey(document, "adapters", "");
  if (!adapters.is_array()) reject("adapters: not an array");
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const std::string path = at("adapters", i);
    SorrelAdapter adapter = readSorrelAdapter(adapters[i], path);
    // As for fennel: a LUID names one adapter.
    for (std::size_t j = 0; j < sorrel.adapters.size(); ++j) {
      if (sorrel.adapters[j].luidLowPart == adapter.luidLowPart &&
          sorrel.adapters[j].luidHighPart == adapter.luidHighPart) {
        reject(path + ": the LUID of " + at("adapters", j));
      }
    }
    sorrel.adapters.push_back(std::move(adapter));
  }
}

// "0x887A0004": 0x and eight upper-case hexadecimal digits.
bool isHresult(const std::string& text) {
  if (text.size() != 10 || text.compare(0, 2, "0x") != 0) return false;
  for (std::size_t i = 2; i < text.size(); ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// An HRESULT whose severity bit is clear.
bool succeeded(const std::string& hresult) { return hresult[2] >= '0' && hresult[2] <= '7'; }

// "9_1" to "12_2" by name, another level as its number in decimal.
bool isFeatureLevel(const std::string& text) {
  for (const char* name : {"9_1", "9_2", "9_3", "10_0", "10_1", "11_0", "11_1", "12_0", "12_1", "12_2"}) {
    if (text == name) return true;
  }
  return allDigits(text) && text.size() <= 10 && (text == "0" || text[0] != '0');
}

// "5.1" or "6.0" to "6.9".
bool isShaderModel(const std::string& text) {
  return text == "5.1" || (text.size() == 3 && text[0] == '6' && text[1] == '.' && text[2] >= '0' && text[2] <= '9');
}

std::optional<std::string> stringOrNull(const Json& item, const char* key, const std::string& path) {
  if (requireKey(item, key, path).is_null()) return std::nullopt;
  return readString(item, key, path);
}

std::optional<bool> boolOrNull(const Json& item, const char* key, const std::string& path) {
  if (requireKey(item, key, path).is_null()) return std::nullopt;
  return readBool(item, key, path);
}

std::optional<std::uint32_t> uint32OrNull(const Json& item, const char* key, const std::string& path) {
  const auto value = readUnsignedOrNull(item, key, path, 0xFFFFFFFFu);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::string readHresult(const Json& item, const std::string& path) {
  std::string result = readString(item, "result", path);
  if (!isHresult(result)) reject(path + ".result: not 0x and eight hexadecimal digits");
  return result;
}

// A level is only had with a device: a failed result with one contradicts itself.
void requireDeviceResult(const std::string& result, const std::optional<std::string>& level, const std::string& path) {
  if (level && !succeeded(result)) reject(path + ": a feature level with a failed result");
}

D3d11Capabilities readD3d11(const Json& value, const std::string& path) {
  requireObject(value, path);
  allowOnlyKeys(value, {"result", "featureLevel"}, path);
  D3d11Capabilities d3d11;
  d3d11.result = readHresult(value, path);
  d3d11.featureLevel = stringOrNull(value, "featureLevel", path);
  if (d3d11.featureLevel && !isFeatureLevel(*d3d11.featureLevel)) reject(path + ".featureLevel: unknown");
  requireDeviceResult(d3d11.result, d3d11.featureLevel, path);
  return d3d11;
}

D3d12Capabilities readD3d12(const Json& value, const std::string& path) {
  requireObject(value, path);
  allowOnlyKeys(value, {"result", "featureLevel", "shaderModel", "resourceBindingTier", "uma", "cacheCoherentUma",
                        "native16BitShaderOps", "waveOps"}, path);
  D3d12Capabilities d3d12;
  d3d12.result = readHresult(value, path);
  d3d12.featureLevel = stringOrNull(value, "featureLevel", path);
  if (d3d12.featureLevel && !isFeatureLevel(*d3d12.featureLevel)) reject(path + ".featureLevel: unknown");
  d3d12.shaderModel = stringOrNull(value, "shaderModel", path);
  if (d3d12.shaderModel && !isShaderModel(*d3d12.shaderModel)) reject(path + ".shaderModel: not 5.1 to 6.9");
  d3d12.resourceBindingTier = uint32OrNull(value, "resourceBindingTier", path);
  d3d12.uma = boolOrNull(value, "uma", path);
  d3d12.cacheCoherentUma = boolOrNull(value, "cacheCoherentUma", path);
  d3d12.native16BitShaderOps = boolOrNull(value, "native16BitShaderOps", path);
  d3d12.waveOps = boolOrNull(value, "waveOps", path);
  const bool anyAnswer = d3d12.featureLevel || d3d12.shaderModel || d3d12.resourceBindingTier || d3d12.uma ||
                         d3d12.cacheCoherentUma || d3d12.native16BitShaderOps || d3d12.waveOps;
  if (anyAnswer && !succeeded(d3d12.result)) reject(path + ": an answer without a device");
  return d3d12;
}

TansyAdapter readTansyAdapter(const Json& item, const std::string& path) {
  requireObject(item, path);
  allowOnlyKeys(item, {"luidLowPart", "luidHighPart", "dxgiOrdinal", "software", "d3d11", "d3d12"}, path);
  TansyAdapter adapter;
  adapter.luidLowPart = readUint32(item, "luidLowPart", path);
  adapter.luidHighPart = readInt32(item, "luidHighPart", path);
  adapter.dxgiOrdinal = readUint32(item, "dxgiOrdinal", path);
  adapter.software = readBool(item, "software", path);
  const Json& d3d11 = requireKey(item, "d3d11", path);
  if (!d3d11.is_null()) adapter.d3d11 = readD3d11(d3d11, path + ".d3d11");
  const Json& d3d12 = requireKey(item, "d3d12", path);
  if (!d3d12.is_null()) adapter.d3d12 = readD3d12(d3d12, path + ".d3d12");
  adapter.asPrinted = item;
  return adapter;
}

ComputeD3d12 readComputeD3d12(const Json& value, const std::string& path) {
  requireObject(value, path);
  allowOnlyKeys(value, {"result", "featureLevel"}, path);
  ComputeD3d12 d3d12;
  d3d12.result = readHresult(value, path);
  d3d12.featureLevel = stringOrNull(value, "featureLevel", path);
  if (d3d12.featureLevel && *d3d12.featureLevel != "1_0_core" && *d3d12.featureLevel != "1_0_generic") {
    reject(path + ".featureLevel: not 1_0_core or 1_0_generic");
  }
  requireDeviceResult(d3d12.result, d3d12.featureLevel, path);
  return d3d12;
}

ComputeAdapter readComputeAdapter(const Json& item, const std::string& path) {
  requireObject(item, path);
  allowOnlyKeys(item, {"luidLowPart", "luidHighPart", "name", "vendorId", "deviceId", "hardware", "hardwareType",
                       "coreCompute", "genericMl", "dedicatedAdapterMemory", "driverVersion", "d3d12"}, path);
  ComputeAdapter adapter;
  adapter.luidLowPart = readUint32(item, "luidLowPart", path);
  adapter.luidHighPart = readInt32(item, "luidHighPart", path);
  adapter.name = readString(item, "name", path);
  adapter.vendorId = uint32OrNull(item, "vendorId", path);
  adapter.deviceId = uint32OrNull(item, "deviceId", path);
  adapter.hardware = boolOrNull(item, "hardware", path);
  adapter.hardwareType = stringOrNull(item, "hardwareType", path);
  if (adapter.hardwareType && *adapter.hardwareType != "npu" && *adapter.hardwareType != "computeAccelerator" &&
      *adapter.hardwareType != "mediaAccelerator" && *adapter.hardwareType != "gpu") {
    reject(path + ".hardwareType: unknown");
  }
  adapter.coreCompute = readBool(item, "coreCompute", path);
  adapter.genericMl = readBool(item, "genericMl", path);
  adapter.dedicatedAdapterMemory = readUnsignedOrNull(item, "dedicatedAdapterMemory", path, UINT64_MAX);
  adapter.driverVersion = stringOrNull(item, "driverVersion", path);
  if (adapter.driverVersion && !isDriverVersion(*adapter.driverVersion)) {
    reject(path + ".driverVersion: not four numbers from 0 to 65535");
  }
  const Json& d3d12 = requireKey(item, "d3d12", path);
  if (!d3d12.is_null()) adapter.d3d12 = readComputeD3d12(d3d12, path + ".d3d12");
  adapter.asPrinted = item;
  return adapter;
}

// One of tansy's lists; as for fennel, a LUID names one adapter.
template <typename Item, typename Read>
std::vector<Item> readLuidList(const Json& document, const char* key, Read read) {
  const Json& list = requireKey(document, key, "");
  if (!list.is_array()) reject(std::string(key) + ": not an array");
  std::vector<Item> items;
  for (std::size_t i = 0; i < list.size(); ++i) {
    Item item = read(list[i], at(key, i));
    for (std::size_t j = 0; j < items.size(); ++j) {
      if (items[j].luidLowPart == item.luidLowPart && items[j].luidHighPart == item.luidHighPart) {
        reject(at(key, i) + ": the LUID of " + at(key, j));
      }
    }
    items.push_back(std::move(item));
  }
  return items;
}

void readTansyLists(const Json& document, TansyRun& tansy) {
  allowOnlyKeys(document, {"schema", "dxcoreAvailable", "adapters", "computeAdapters"}, "");
  tansy.dxcoreAvailable = readBool(document, "dxcoreAvailable", "");
  tansy.adapters = readLuidList<TansyAdapter>(document, "adapters", readTansyAdapter);
  tansy.computeAdapters = readLuidList<ComputeAdapter>(document, "computeAdapters", readComputeAdapter);
  if (!tansy.dxcoreAvailable && !tansy.computeAdapters.empty()) reject("computeAdapters: listed without DXCore");
}

// The verdict on one run, given how the probe's result document is read.
ProbeRun judge(const ChildRun& child, const Shape& shape,
               const std::function<void(const Json&)>& readResult) {
  ProbeRun run;
  run.seconds = child.seconds;
  if (!child.started) {
    run.outcome = Outcome::couldNotStart;
    run.problem = child.startProblem + " (error " + std::to_string(child.startError) + ")";
    return run;
  }
  if (child.overflowed) {
    run.outcome = Outcome::garbled;
    run.problem = "more than 1 MiB on standard output";
    return run;
  }
  if (child.watchError != 0) {
    // The run could not be followed to its end: what was read is not known to be the whole.
    run.outcome = Outcome::garbled;
    run.problem = child.watchProblem + " (error " + std::to_string(child.watchError) + ")";
    return run;
  }
  // A run ended at its limit has no exit code of its own, whatever a runner says.
  if (!child.timedOut) run.exitCode = child.exitCode;

  std::string documentProblem;
  std::uint32_t impliedExit = 0;
  bool crashReport = false;
  try {
    Json document = documentOf(child.output, shape);
    if (document.contains("error")) {
      run.error = readError(document, shape.errorHasMatched);
      crashReport = run.error->code == "platform_crashed" || run.error->code == "platform_exited";
      impliedExit = shape.hasUsageError && run.error->code == "invalid_args" ? 2 : 1;
    } else {
      readResult(document);
    }
    run.document = std::move(document);
  } catch (const DocumentError& error) {
    documentProblem = error.what();
    run.error.reset();
  }
  const bool hasDocument = !run.document.is_null();

  // A whole document printed before the limit is the answer, however the run then ended, as
  // when a crash during the release after it leaves the document's exit code.
  run.endedAtLimit = child.timedOut && hasDocument;
  if (child.timedOut && !hasDocument) {
    run.outcome = Outcome::timedOut;
    run.problem = "no answer within " + secondsText(child.timeoutSeconds);
  } else if (!hasDocument) {
    const std::uint32_t code = child.exitCode.value_or(0);
    if (isExceptionStatus(code)) {
      run.outcome = Outcome::crashed;
      run.problem = "ended by exception " + exitCodeText(code) + " without a document";
    } else {
      run.outcome = Outcome::garbled;
      run.problem = "no document (" + documentProblem + "), exit code " + exitCodeText(code);
    }
  } else if (!child.timedOut && child.exitCode != impliedExit) {
    run.outcome = Outcome::garbled;
    run.problem = "exit code " + exitCodeText(child.exitCode.value_or(0)) + " with " +
                  (run.error ? "an error document (exit code " + std::to_string(impliedExit) + ")"
                             : std::string("a result document (exit code 0)"));
  } else if (run.error) {
    run.outcome = crashReport ? Outcome::crashed : Outcome::failed;
    run.problem = run.error->code + ": " + run.error->message;
  } else {
    run.outcome = Outcome::answered;
  }
  return run;
}

}  // namespace

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::notRun: return "notRun";
    case Outcome::answered: return "answered";
    case Outcome::failed: return "failed";
    case Outcome::crashed: return "crashed";
    case Outcome::timedOut: return "timedOut";
    case Outcome::couldNotStart: return "couldNotStart";
    case Outcome::garbled: return "garbled";
  }
  return "garbled";
}

FennelRun readFennelRun(const ChildRun& child) {
  FennelRun fennel;
  fennel.run = judge(child, {1, false, false, 8}, [&](const Json& d) { readAdapters(d, fennel); });
  if (fennel.run.outcome != Outcome::answered) fennel.adapters.clear();
  return fennel;
}

QuarryRun readQuarryRun(const ChildRun& child) {
  QuarryRun quarry;
  quarry.run = judge(child, {2, false, false, 13}, [&](const Json& d) { readDevices(d, quarry); });
  if (quarry.run.outcome != Outcome::answered) quarry.devices.clear();
  return quarry;
}

BrindleRun readBrindleRun(const ChildRun& child) {
  BrindleRun brindle;
  brindle.run = judge(child, {1, true, true, 7}, [&](const Json& d) { readBrindleAnswer(d, brindle.answer); });
  if (brindle.run.outcome != Outcome::answered) brindle.answer = BrindleAnswer{};
  return brindle;
}

SorrelRun readSorrelRun(const ChildRun& child) {
  SorrelRun sorrel;
  sorrel.run = judge(child, {1, false, false, 16}, [&](const Json& d) { readSorrelAdapters(d, sorrel); });
  if (sorrel.run.outcome != Outcome::answered) sorrel.adapters.clear();
  return sorrel;
}

TansyRun readTansyRun(const ChildRun& child) {
  TansyRun tansy;
  tansy.run = judge(child, {1, false, true, 12}, [&](const Json& d) { readTansyLists(d, tansy); });
  if (tansy.run.outcome != Outcome::answered) {
    tansy.dxcoreAvailable = false;
    tansy.adapters.clear();
    tansy.computeAdapters.clear();
  }
  return tansy;
}

}  // namespace gpu_inventory
