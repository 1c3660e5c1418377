// The library runs probes on Windows; on other systems it is built to test its portable part,
// with this resolution of a folder against the current directory.
#include "child_process/full_path.h"

#include <unistd.h>

#include <vector>

namespace gpu_inventory {

std::string fullFolderPath(const std::string& folder) {
  if (!folder.empty() && folder[0] == '/') return folder;
  std::vector<char> current(4096);
  if (getcwd(current.data(), current.size()) == nullptr) return folder;
  return std::string(current.data()) + "/" + folder;
}

}  // namespace gpu_inventory
