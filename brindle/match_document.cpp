#include "match_document.h"

#include "json_output.h"
#include "output_guard.h"

std::string makeSelector(const std::string& platformName, const std::string& deviceName) {
  return platformName + ":GPU:" + deviceName;
}

void printMatchDocument(const std::string& selector, const std::string& platformName,
                        const std::string& deviceName, std::uint32_t deviceIndex,
                        const char* method) {
  std::string document;
  appendFormatted(
      document,
      "{\"schema\":1,\"matched\":true,\"selector\":\"%s\",\"platform\":\"%s\",\"device\":\"%s\","
      "\"deviceIndex\":%u,\"method\":\"%s\"}\n",
      jsonEscape(selector).c_str(), jsonEscape(platformName).c_str(),
      jsonEscape(deviceName).c_str(), static_cast<unsigned>(deviceIndex), method);
  emitDocument(document, 0);
}

void printNoMatchDocument(const MatchCounters& counters) {
  std::string document;
  appendFormatted(document,
                  "{\"schema\":1,\"matched\":false,\"reason\":\"no_match\",\"platformCount\":%u,"
                  "\"d3d11SharingPlatforms\":%u,\"luidExtDevices\":%u}\n",
                  static_cast<unsigned>(counters.platformCount),
                  static_cast<unsigned>(counters.d3d11SharingPlatforms),
                  static_cast<unsigned>(counters.luidExtDevices));
  emitDocument(document, 0);
}
