#pragma once
// What kind of device each answer names, read from what the probes print: a program should use
// a native driver before a translation layer's second view of the same adapter, and never a
// software rasterizer when it wants a GPU.

#include "probe_documents.h"

namespace gpu_inventory {

// native: the adapter's own driver. translation: a layer that exposes the adapter again through
// another API (Vulkan or OpenCL on Direct3D 12). software: the CPU draws.
enum class DeviceKind { native, translation, software };
// software: the Microsoft Basic Render Driver, even when DXGI does not flag it as software.
enum class AdapterKind { hardware, software };

const char* kindName(DeviceKind kind);   // "native", "translation", "software"
const char* kindName(AdapterKind kind);  // "hardware", "software"

DeviceKind kindOfVulkanDevice(const VulkanDevice& device);
DeviceKind kindOfOpenClMatch(const BrindleAnswer& match);  // native or translation
AdapterKind kindOfAdapter(const FennelAdapter& adapter);

}  // namespace gpu_inventory
