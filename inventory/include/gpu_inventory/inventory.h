#pragma once
// The five probes run as child processes and their answers joined by adapter LUID.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device_kinds.h"
#include "graphics_settings.h"
#include "probe_documents.h"
#include "version.h"

namespace gpu_inventory {

// The variable that makes the Khronos Vulkan loader skip every implicit layer, and its value.
inline constexpr const char* layersDisableVariable = "VK_LOADER_LAYERS_DISABLE";
inline constexpr const char* allImplicitLayers = "~implicit~";

struct InventoryOptions {
  std::chrono::milliseconds timeout{30000};  // for each probe run
  bool sequential = false;                   // one child at a time, else at most four
  // When quarry neither answers nor fails to start, run it once more with every implicit
  // Vulkan layer disabled (a broken overlay or capture layer can crash or hang any instance).
  bool retryQuarryWithoutImplicitLayers = true;
  // The program whose graphics settings are read: the full path of its executable (UTF-8),
  // made full and long before it is looked up (readGraphicsSettings), so "C:/...", ".." and
  // 8.3 names find the value Windows keeps under the long path.
  // None: this process's own executable; empty: no program (only the global setting is read).
  std::optional<std::string> program{};
  // When tansy's run over every adapter crashes, times out or prints no valid answer, run it
  // once per adapter of fennel's (a driver that crashes or hangs while a device is created then
  // costs only its own adapter's capabilities). Not after its error document: without a DXGI
  // factory or the null device each run per adapter would fail the same way.
  bool retryTansyPerAdapter = true;
};

struct InventoryVulkanDevice {
  DeviceKind kind = DeviceKind::native;
  VulkanDevice device;
};

struct AdapterInventory {
  FennelAdapter adapter;
  AdapterKind kind = AdapterKind::hardware;
  // sorrel's adapter with this LUID, when sorrel answered and listed it.
  std::optional<SorrelAdapter> state;
  std::vector<InventoryVulkanDevice> vulkanDevices;  // every device with this LUID, in vkIndex order
  // The vkIndex to use: the first native device, else the first translation one, never a
  // software one; none when there is none.
  std::optional<std::uint32_t> preferredVulkanDevice;
  BrindleRun brindle;                     // brindle run for this LUID
  std::optional<DeviceKind> openclKind;   // when brindle answered with a match
  // tansy's adapter with this LUID: from the run over every adapter when it answered, else from
  // this adapter's own run; none when that run did not answer or did not list the LUID.
  std::optional<TansyAdapter> capabilities;
};

// Which quarry run the Vulkan devices come from.
enum class VulkanSource { none, quarry, quarryWithoutImplicitLayers };
const char* vulkanSourceName(VulkanSource source);  // nullptr for none

// Where an adapter order comes from: Windows' preference, as sorrel read it, or the inventory's
// own rule when sorrel did not give a whole one.
enum class OrderSource { windows, rule };
const char* orderSourceName(OrderSource source);  // "windows", "rule"

// The adapters in two orders of preference, each listing every one once by its position in
// Inventory::adapters (fennel's order); adapters of kind software come last in both.
struct AdapterOrder {
  std::vector<std::uint32_t> highPerformance;
  std::vector<std::uint32_t> minimumPower;
  OrderSource from = OrderSource::rule;
};

struct Inventory {
  FennelRun fennel;
  QuarryRun quarry;
  // The second run, with implicit layers disabled, when there was one.
  std::optional<QuarryRun> quarryWithoutImplicitLayers;
  VulkanSource vulkanFrom = VulkanSource::none;
  SorrelRun sorrel;
  TansyRun tansy;  // the run over every adapter
  // One run per adapter of fennel's, in its order, when there were such runs.
  std::optional<std::vector<TansyRun>> tansyPerAdapter;
  AdapterOrder order;                                     // adapterOrder(*this), made by the join
  GraphicsSettings graphicsSettings;                      // for InventoryOptions::program
  std::optional<std::uint32_t> highPerformanceAdapter;    // highPerformanceAdapterOf(*this), made by the join
  std::optional<std::uint32_t> chosenAdapter;             // chosenAdapterOf(*this), made by the join
  std::vector<AdapterInventory> adapters;                 // in fennel's order, when fennel answered
  std::vector<ComputeAdapter> computeAdapters;            // tansy's, when its run over every adapter answered
  std::vector<InventoryVulkanDevice> otherVulkanDevices;  // the devices that no adapter claims
};

// The dedicated video memory that no process uses: fennel's dedicatedVideoMemory less sorrel's
// dedicatedUsage, 0 when the usage is larger; none when the usage is unknown.
std::optional<std::uint64_t> freeDedicatedMemory(const AdapterInventory& entry);

// The adapters in order of preference. From Windows when sorrel answered and gave both ranks to
// every adapter of kind hardware, no rank twice within one order: by rank, adapters without one
// after, in fennel's order. Otherwise by the rule: for high performance, adapters that are not
// integrated first, then more dedicated memory first, then fennel's order; for minimum power,
// integrated ones first, then fennel's order. Either way adapters of kind software come last.
AdapterOrder adapterOrder(const Inventory& inventory);

// The position in Inventory::adapters of the GPU that the user made Windows' high-performance one
// (GraphicsSettings::highPerformanceAdapter): the one adapter with its vendor and device ids;
// none when the settings name none, or no adapter or more than one has them.
std::optional<std::uint32_t> highPerformanceAdapterOf(const Inventory& inventory);

// The position in Inventory::adapters of the GPU that the user chose for the program in Windows'
// graphics settings: for highPerformance highPerformanceAdapterOf(inventory) when there is one,
// else the first of order.highPerformance; for minimumPower the first of order.minimumPower;
// for specificAdapter the one adapter with the vendor and device ids it names (none when no
// adapter, or more than one, has them); none otherwise.
std::optional<std::uint32_t> chosenAdapterOf(const Inventory& inventory);

// The preferred Vulkan device of an adapter, or nullptr: a pointer into the entry.
const VulkanDevice* preferredVulkanDevice(const AdapterInventory& entry);
const VulkanDevice* preferredVulkanDevice(const AdapterInventory&& entry) = delete;

// How a probe is run: runProbe on Windows; a caller or a test may give its own. It is called
// with a full path and, unless the inventory is sequential, from several threads at once.
using ProbeRunner = std::function<ChildRun(const ProbeRequest& request)>;

// Runs fennel.exe, quarry.exe, sorrel.exe and tansy.exe from the folder together, then brindle.exe
// for each adapter as soon as fennel has answered (and quarry once more without implicit layers
// when it ran and did not answer; and tansy once per adapter, once fennel has answered, when
// tansy crashed, timed out or printed no valid answer; unless the options say not to), reads the program's graphics settings (one
// registry key) and joins the answers. The folder is made a full path once,
// before the first run, so the current directory plays no part after that: give the folder
// where you put the probes (thisExecutableFolder() when they ship beside your program), never
// a relative one that someone else's download folder could satisfy. An exception from the
// runner, or any other, reaches the caller once every run already going has ended; no run
// starts after it.
Inventory takeInventory(const std::string& folder, const InventoryOptions& options = {},
                        ProbeRunner runner = runProbe);

// The join alone: brindleRuns holds one run per adapter of fennel's, in its order; an adapter
// without one has a brindle run whose outcome is notRun, and without a sorrel run (outcome
// notRun) no adapter has a state. The graphics settings are kept as given. The Vulkan devices come from quarry when it answered, else
// from the run without implicit layers when that one answered. Each adapter's capabilities come
// from tansy when it answered, else from its own run in tansyPerAdapter (one per adapter, in
// fennel's order) when given; the compute adapters only from tansy. tansyPerAdapter is left
// out unless tansy crashed, timed out or was garbled, and it holds one run for each of
// fennel's adapters.
Inventory joinInventory(FennelRun fennel, QuarryRun quarry, std::vector<BrindleRun> brindleRuns,
                        std::optional<QuarryRun> quarryWithoutImplicitLayers = std::nullopt,
                        SorrelRun sorrel = {}, GraphicsSettings graphicsSettings = {}, TansyRun tansy = {},
                        std::optional<std::vector<TansyRun>> tansyPerAdapter = std::nullopt);

// brindle's arguments for one adapter; tansy's for one adapter are the same.
std::vector<std::string> brindleArguments(const FennelAdapter& adapter);

// The folder of the running program's executable (UTF-8), empty when the system cannot say.
// Windows only.
std::string thisExecutableFolder();

}  // namespace gpu_inventory
