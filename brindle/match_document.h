#pragma once
// What both matches share: the counters of the no-match document, the selector and the
// match document.

#include <cstdint>
#include <string>

struct MatchCounters {
  std::uint32_t platformCount = 0;
  std::uint32_t d3d11SharingPlatforms = 0;
  std::uint32_t luidExtDevices = 0;
};

// "<platform name>:GPU:<device name>", whatever the device's type.
std::string makeSelector(const std::string& platformName, const std::string& deviceName);

void printMatchDocument(const std::string& selector, const std::string& platformName,
                        const std::string& deviceName, std::uint32_t deviceIndex,
                        const char* method);

void printNoMatchDocument(const MatchCounters& counters);
