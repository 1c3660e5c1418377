// Every rule that says what kind of device an answer names, as data: the first rule that fits
// decides, and a device that no rule fits is native (hardware for an adapter).
#include "gpu_inventory/device_kinds.h"

#include <optional>
#include <string_view>

namespace gpu_inventory {
namespace {

// The Microsoft Basic Render Driver (WARP): vendor 0x1414, device 0x8C, a CPU rasterizer.
constexpr std::uint32_t microsoftVendor = 0x1414;
constexpr std::uint32_t basicRenderDevice = 0x8C;

// Each field that is set must fit; a rule with none set never fits.
struct VulkanKindRule {
  DeviceKind kind;
  const char* driverId;  // nullptr: any
  std::optional<std::uint32_t> vendorId;
  std::optional<std::uint32_t> deviceId;
  const char* nameStartWithoutDriverId;  // no driverId, and the name begins so; nullptr: any
};

constexpr std::nullopt_t anyId = std::nullopt;

const VulkanKindRule vulkanKindRules[] = {
    // Mesa's llvmpipe (lavapipe): the CPU draws.
    {DeviceKind::software, "MESA_LLVMPIPE", anyId, anyId, nullptr},
    // Google's SwiftShader: the CPU draws.
    {DeviceKind::software, "GOOGLE_SWIFTSHADER", anyId, anyId, nullptr},
    // Mesa's vendor id for CPU devices, whatever driver id comes with it.
    {DeviceKind::software, nullptr, 0x10005u, anyId, nullptr},
    // The Basic Render Driver, whichever driver offers it (Dozen lists it as an adapter).
    {DeviceKind::software, nullptr, microsoftVendor, basicRenderDevice, nullptr},
    // Dozen: Mesa's Vulkan on Direct3D 12, a second view of an adapter with its own driver.
    {DeviceKind::translation, "MESA_DOZEN", anyId, anyId, nullptr},
    // Dozen from before it reported a driver id names each device after its adapter so.
    {DeviceKind::translation, nullptr, anyId, anyId, "Microsoft Direct3D12 ("},
};

bool fits(const VulkanKindRule& rule, const VulkanDevice& device) {
  const bool anyField = rule.driverId || rule.vendorId || rule.deviceId || rule.nameStartWithoutDriverId;
  if (!anyField) return false;
  if (rule.driverId && device.driverId != rule.driverId) return false;
  if (rule.vendorId && device.vendorId != *rule.vendorId) return false;
  if (rule.deviceId && device.deviceId != *rule.deviceId) return false;
  if (rule.nameStartWithoutDriverId &&
      (device.driverId || std::string_view(device.name).rfind(rule.nameStartWithoutDriverId, 0) != 0)) {
    return false;
  }
  return true;
}

struct OpenClKindRule {
  DeviceKind kind;
  const char* platform;  // the matched platform's name, exactly
};

const OpenClKindRule openClKindRules[] = {
    // Microsoft's OpenCL on Direct3D 12, a second view of an adapter with its own driver.
    {DeviceKind::translation, "OpenCLOn12"},
};

struct AdapterKindRule {
  AdapterKind kind;
  std::uint32_t vendorId;
  std::uint32_t deviceId;
};

const AdapterKindRule adapterKindRules[] = {
    // The Basic Render Driver, which some virtual machines and remote sessions list without
    // DXGI's software flag.
    {AdapterKind::software, microsoftVendor, basicRenderDevice},
};

}  // namespace

const char* kindName(DeviceKind kind) {
  switch (kind) {
    case DeviceKind::native: return "native";
    case DeviceKind::translation: return "translation";
    case DeviceKind::software: return "software";
  }
  return "native";
}

const char* kindName(AdapterKind kind) {
  return kind == AdapterKind::software ? "software" : "hardware";
}

DeviceKind kindOfVulkanDevice(const VulkanDevice& device) {
  for (const VulkanKindRule& rule : vulkanKindRules) {
    if (fits(rule, device)) return rule.kind;
  }
  return DeviceKind::native;
}

DeviceKind kindOfOpenClMatch(const BrindleAnswer& match) {
  for (const OpenClKindRule& rule : openClKindRules) {
    if (match.platform == rule.platform) return rule.kind;
  }
  return DeviceKind::native;
}

AdapterKind kindOfAdapter(const FennelAdapter& adapter) {
  for (const AdapterKindRule& rule : adapterKindRules) {
    if (adapter.vendorId == rule.vendorId && adapter.deviceId == rule.deviceId) return rule.kind;
  }
  return AdapterKind::hardware;
}

}  // namespace gpu_inventory
