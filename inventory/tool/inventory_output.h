#pragma once
// The inventory written out: one JSON document (schemas/inventory.schema.json) for programs,
// or one table for people. Both end in a single line feed.

#include <string>

#include "gpu_inventory/inventory.h"

namespace gpu_inventory {

std::string inventoryDocument(const Inventory& inventory);
std::string inventoryTable(const Inventory& inventory);

}  // namespace gpu_inventory
