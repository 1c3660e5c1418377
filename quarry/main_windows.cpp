// quarry.exe: lists the Vulkan physical devices with their identifiers, LUID, versions and
// driver identity. The logic is in runQuarry; this file binds the Windows calls and the
// loader's functions.
//
// vulkan-1.dll comes with GPU drivers, not with Windows, so it is delay-loaded: the program
// starts on a machine without it and says so in its document. The module loaded here, from
// the executable's folder or System32 only, is the one the delay-load helper then binds.

#include <windows.h>

#include "quarry_run.h"
#include "reclaiming.h"

namespace {

bool loadVulkanLoader() {
  return LoadLibraryExW(L"vulkan-1.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != nullptr;
}

}  // namespace

int main() {
  const QuarryPlatform platform{
      windowsProcessApi(),
      reclaiming<loadVulkanLoader>,
      loaderVulkanApi()};
  return runQuarry(platform);
}
