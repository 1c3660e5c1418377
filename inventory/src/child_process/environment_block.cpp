#include "child_process/environment_block.h"

#include <algorithm>

namespace gpu_inventory {
namespace {

std::wstring_view nameOf(std::wstring_view entry) {
  const std::size_t equals = entry.find(L'=', 1);
  return entry.substr(0, equals == std::wstring_view::npos ? entry.size() : equals);
}

wchar_t upperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

const char* environmentProblem(const std::vector<EnvironmentVariable>& additions) {
  for (const EnvironmentVariable& variable : additions) {
    if (variable.name.empty() || variable.name.find_first_of(std::string("=\0", 2)) != std::string::npos ||
        variable.value.find('\0') != std::string::npos) {
      return "an environment variable with an empty name, or a '=' or NUL where none may be";
    }
  }
  return nullptr;
}

int compareIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const wchar_t x = upperAscii(a[i]), y = upperAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::wstring environmentBlock(const std::vector<std::wstring>& inherited,
                              const std::vector<std::pair<std::wstring, std::wstring>>& additions,
                              NameOrder order) {
  std::vector<std::wstring> entries;
  entries.reserve(inherited.size() + additions.size());
  for (const std::wstring& entry : inherited) {
    if (!entry.empty()) entries.push_back(entry);
  }
  for (const auto& [name, value] : additions) {
    // Also an earlier addition of the same name: the later one wins, as setting it twice would.
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&, &name = name](const std::wstring& e) { return order(nameOf(e), name) == 0; }),
                  entries.end());
    entries.push_back(name + L"=" + value);
  }
  std::stable_sort(entries.begin(), entries.end(), [&](const std::wstring& a, const std::wstring& b) {
    return order(nameOf(a), nameOf(b)) < 0;
  });
  std::wstring block;
  for (const std::wstring& entry : entries) block += entry + L'\0';
  block += L'\0';
  if (entries.empty()) block += L'\0';  // an empty block is still two NULs
  return block;
}

}  // namespace gpu_inventory
