#pragma once
// The command line that Windows hands a child: one string that CommandLineToArgvW (and every
// C runtime's start-up code) splits back into exactly the executable and the arguments given.

#include <string>
#include <vector>

namespace gpu_inventory {

std::string windowsCommandLine(const std::string& executable,
                               const std::vector<std::string>& arguments);

}  // namespace gpu_inventory
