// What the library asks of Windows, on the systems where it is built only to test its portable
// part: there is nothing to ask, so every answer is none and a path stays as given.
#include "preferences/graphics_settings.h"
#include "gpu_inventory/this_process.h"
#include "preferences/program_path.h"

namespace gpu_inventory {

std::optional<std::vector<AdapterLuid>> dxgiOrderInThisProcess() noexcept { return std::nullopt; }

std::string thisExecutablePath() { return {}; }

std::string longFullPath(const std::string& path) { return path; }

GraphicsSettings readGraphicsSettings(const std::string& program) {
  return graphicsSettingsOf(program.empty() ? std::nullopt : std::optional<std::string>(program), {}, {});
}

}  // namespace gpu_inventory
