// What the library asks of Windows, on the systems where it is built only to test its portable
// part: there is nothing to ask, so every answer is none.
#include "preferences/graphics_settings.h"
#include "gpu_inventory/this_process.h"

namespace gpu_inventory {

std::optional<std::vector<AdapterLuid>> dxgiOrderInThisProcess() noexcept { return std::nullopt; }

std::string thisExecutablePath() { return {}; }

GraphicsSettings readGraphicsSettings(const std::string& program) {
  return graphicsSettingsOf(program.empty() ? std::nullopt : std::optional<std::string>(program), {}, {});
}

}  // namespace gpu_inventory
