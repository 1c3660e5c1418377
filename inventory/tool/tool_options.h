#pragma once
// inventory.exe's command line.

#include <string>
#include <vector>

#include "gpu_inventory/inventory.h"
#include "gpu_inventory/pick.h"

namespace gpu_inventory {

struct ToolOptions {
  std::string bin;  // empty: the folder of inventory.exe
  InventoryOptions inventory;  // program: none unless --program gave one
  PickRequest pick;
  bool json = false;
  bool help = false;
  bool version = false;
  std::string usageError;  // set when the command line is wrong
};

extern const char* const toolUsage;

// The arguments after the program's name, as UTF-8.
ToolOptions parseToolOptions(const std::vector<std::string>& arguments);

}  // namespace gpu_inventory
