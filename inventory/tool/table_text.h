#pragma once
// Texts that the table's parts share: an adapter by name and LUID, an amount of memory, one
// line of a driver's text, its width on a console.

#include <cstdint>
#include <string>

#include "gpu_inventory/inventory.h"

namespace gpu_inventory {

// "NVIDIA GeForce RTX 4070 (69178:0)"; "?" for a position outside the inventory.
std::string adapterText(const Inventory& inventory, std::uint32_t position);

// "6.0 GiB" from 1 GiB up, else "512 MiB".
std::string memoryText(std::uint64_t bytes);

// A driver's name may hold a line feed or another control character: in a table it is a space.
std::string oneLine(std::string text);

// Display columns of a UTF-8 text: one per code point (a wide CJK character or an emoji, which
// takes two cells on a console, is counted as one).
std::size_t columns(const std::string& text);

}  // namespace gpu_inventory
