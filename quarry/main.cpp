// quarry on Linux: lists the Vulkan physical devices with their identifiers, LUID, versions
// and driver identity. The logic is in runQuarry; this file binds the loader's functions.

#include "quarry_run.h"

namespace {

// The loader is linked; a machine without it does not start the program at all.
bool loaderLinked() { return true; }

}  // namespace

int main() {
  const QuarryPlatform platform{
      posixProcessApi(),
      loaderLinked,
      loaderVulkanApi()};
  return runQuarry(platform);
}
