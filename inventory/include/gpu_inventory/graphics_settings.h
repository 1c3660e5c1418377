#pragma once
// What the user chose for one program in Windows' graphics settings (Settings, System, Display,
// Graphics), as Windows keeps it under the key
// HKEY_CURRENT_USER\Software\Microsoft\DirectX\UserGpuPreferences. The choice decides which
// adapter comes first in that program's own DXGI and Vulkan lists: a program that picks a GPU
// for the user should pick the one the user chose.
// Windows and other programs write these values and do not document them: whatever they hold,
// reading them never fails.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace gpu_inventory {

// unspecified: "Let Windows decide", or a value that names no GpuPreference and no
// SpecificAdapter at all (Windows 11 keeps other settings of a program there, such as
// SwapEffectUpgradeEnable). minimumPower: "Power saving". highPerformance: "High performance".
// specificAdapter: one GPU named by its ids (Windows 11). other: a value that names a
// GpuPreference or SpecificAdapter that cannot be read (another number, a malformed token, two
// that disagree), a value past maxSettingCharacters whose whole tokens before the cut name no
// choice (the rest is not read), or one that is not a string.
enum class GpuPreference { unspecified, minimumPower, highPerformance, specificAdapter, other };

const char* preferenceName(GpuPreference preference);  // "unspecified", ... as in the document

// A GPU as the settings name it: its PCI vendor, device and subsystem ids.
struct PciIds {
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  std::uint32_t subsystemId = 0;
};

inline bool operator==(const PciIds& a, const PciIds& b) {
  return a.vendorId == b.vendorId && a.deviceId == b.deviceId && a.subsystemId == b.subsystemId;
}
inline bool operator!=(const PciIds& a, const PciIds& b) { return !(a == b); }

// A value is read no further than this many characters.
inline constexpr std::size_t maxSettingCharacters = 4096;

struct GraphicsSettings {
  std::optional<std::string> program;       // the executable's path as looked up (UTF-8); none: unknown
  std::optional<GpuPreference> preference;  // none: Windows holds no setting for the program
  std::optional<std::string> setting;       // the program's value as read, when it is a string
  std::optional<PciIds> specificAdapter;    // the GPU it names, when preference is specificAdapter
  std::optional<std::string> globalSetting; // DirectXUserGlobalSettings as read, when a string
  // Its HighPerfAdapter: the GPU the user made Windows' high-performance one.
  std::optional<PciIds> highPerformanceAdapter;
};

// Reads the settings for the executable at this full path (UTF-8), and the global one; an empty
// path reads only the global one. The path is first made full and long, as Windows names the
// value ("." and ".." resolved, '/' made '\', 8.3 names made long when the file exists), and
// program is that path. Windows only: elsewhere there is nothing to read.
GraphicsSettings readGraphicsSettings(const std::string& program);

// The full path of the running program's executable (UTF-8), empty when the system cannot say.
// Windows only.
std::string thisExecutablePath();

}  // namespace gpu_inventory
