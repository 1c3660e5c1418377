#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "adapter_state.h"
#include "sorrel_platform.h"

// The LUID that a "\GPU Adapter Memory" counter instance names: "luid_0x<high>_0x<low>_phys_<n>",
// eight hexadecimal digits per part. Nothing for any other name.
struct InstanceLuid {
  std::uint32_t lowPart = 0;
  std::int32_t highPart = 0;
};
std::optional<InstanceLuid> luidOfInstance(std::u16string_view name);

// Gives each adapter the dedicated and shared memory in use by all processes, from one
// collection of both counters, summed over the instances that name its LUID. Adapters keep
// none when the counters are unavailable or no instance names them.
void readMemoryUsage(const CounterApi& counters, std::vector<AdapterState>& adapters);
