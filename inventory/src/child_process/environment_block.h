#pragma once
// A child's environment: the one it would inherit, with variables added.

#include <string>
#include <string_view>
#include <vector>

#include "gpu_inventory/probe_run.h"

namespace gpu_inventory {

// Why runProbe refuses the additions (nullptr when it takes them): a name that is empty or
// holds '=' or a NUL, or a value that holds a NUL, would make another variable than the one
// asked for.
const char* environmentProblem(const std::vector<EnvironmentVariable>& additions);

// Compares two names without regard to case: below, at or above zero.
using NameOrder = int (*)(std::wstring_view a, std::wstring_view b);

// Names compared with the case of ASCII letters ignored, every other code unit as it is.
int compareIgnoringAsciiCase(std::wstring_view a, std::wstring_view b);

// The block that CreateProcessW takes: the inherited "NAME=value" entries with the additions,
// an addition replacing every entry whose name the order finds equal, sorted by name in that
// order (entries of one name keep theirs), each entry ended by a NUL and the block by one more.
// An inherited entry that starts with '=' (a drive's current directory: "=C:=C:\work") is named
// up to its second '='.
std::wstring environmentBlock(const std::vector<std::wstring>& inherited,
                              const std::vector<std::pair<std::wstring, std::wstring>>& additions,
                              NameOrder order);

}  // namespace gpu_inventory
