#pragma once
// The inventory written out: one JSON document (schemas/inventory.schema.json) for programs,
// or one table for people, each opening with the pick. Both end in a single line feed.

#include <cstddef>
#include <string>

#include "gpu_inventory/inventory.h"
#include "gpu_inventory/pick.h"

namespace gpu_inventory {

// Each with the pick that the request makes.
std::string inventoryDocument(const Inventory& inventory, const PickRequest& request = {});
// consoleColumns: the width of the console window it is written to; 0 for a file or a pipe.
// A table as wide as the window or wider is written as one block per adapter, a line per
// column.
std::string inventoryTable(const Inventory& inventory, const PickRequest& request = {},
                           std::size_t consoleColumns = 0);

}  // namespace gpu_inventory
