#include "table_text.h"

#include <cstdio>

namespace gpu_inventory {

std::string adapterText(const Inventory& inventory, std::uint32_t position) {
  if (position >= inventory.adapters.size()) return "?";  // an inventory made by hand
  const FennelAdapter& a = inventory.adapters[position].adapter;
  return a.name + " (" + std::to_string(a.luidLowPart) + ":" + std::to_string(a.luidHighPart) + ")";
}

std::string memoryText(std::uint64_t bytes) {
  char text[32];
  if (bytes >= (1ull << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1ull << 30));
  } else {
    std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
  }
  return text;
}

std::string oneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

std::size_t columns(const std::string& text) {
  std::size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

}  // namespace gpu_inventory
