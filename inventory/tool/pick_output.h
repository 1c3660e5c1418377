#pragma once
// The pick written out: its object in the document, and the lines that open the table.

#include <string>

#include <nlohmann/json.hpp>

#include "gpu_inventory/pick.h"

namespace gpu_inventory {

// {"prefer", "userChoice", "needs", "adapter", "because", "candidates"}: the request as made,
// then the pick.
nlohmann::ordered_json pickObject(const PickRequest& request, const Pick& pick);

// The pick in one line (the adapter and why it stands first, or that none meets the needs),
// then a line for each hardware adapter passed over, its reasons in words.
std::string pickLines(const Inventory& inventory, const PickRequest& request, const Pick& pick);

}  // namespace gpu_inventory
