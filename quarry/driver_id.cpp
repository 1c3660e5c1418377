#include <cstdio>

#include "driver_id.h"

namespace {

// Keyed by VkDriverId value minus 1.
const char* const kDriverIdNames[26] = {
    "AMD_PROPRIETARY",         "AMD_OPEN_SOURCE",
    "MESA_RADV",               "NVIDIA_PROPRIETARY",
    "INTEL_PROPRIETARY_WINDOWS", "INTEL_OPEN_SOURCE_MESA",
    "IMAGINATION_PROPRIETARY", "QUALCOMM_PROPRIETARY",
    "ARM_PROPRIETARY",         "GOOGLE_SWIFTSHADER",
    "GGP_PROPRIETARY",         "BROADCOM_PROPRIETARY",
    "MESA_LLVMPIPE",           "MOLTENVK",
    "COREAVI_PROPRIETARY",     "JUICE_PROPRIETARY",
    "VERISILICON_PROPRIETARY", "MESA_TURNIP",
    "MESA_V3DV",               "MESA_PANVK",
    "SAMSUNG_PROPRIETARY",     "MESA_VENUS",
    "MESA_DOZEN",              "MESA_NVK",
    "IMAGINATION_OPEN_SOURCE_MESA", "MESA_AGXV",
};

}  // namespace

std::string driverIdName(std::int32_t driverId) {
  const std::uint32_t position = static_cast<std::uint32_t>(driverId) - 1u;
  if (position <= 25u) return kDriverIdNames[position];
  char text[32];
  std::snprintf(text, sizeof text, "UNKNOWN(%d)", static_cast<int>(driverId));
  return text;
}
