#pragma once
// The adapters in the order that the calling process itself sees. An adapter's position is not
// the machine's but each process's: Windows puts first, in every program's own
// IDXGIFactory1::EnumAdapters1, the GPU that the user's graphics setting for that program, or
// its NvOptimusEnablement and AmdPowerXpressRequestHighPerformance exports, ask for. The probes'
// positions (sorrel's dxgiOrdinal, quarry's vkIndex) are those of a program with neither; a
// program that must hand a DXGI index to a runtime needs its own, found here by LUID.
//
// It reads System32's DXGI, never a dxgi.dll that a program or an overlay placed beside the
// executable (a wrapper, an injector's proxy): a process whose own DXGI calls reach such a
// copy sees the order that copy makes, which may differ from the one given here.
//
// Cost: this loads dxgi.dll into the calling process (from System32, by its full path), creates
// one DXGI factory and reads each adapter's description: what one factory costs on the system
// (a quarter of a second a call under Wine). Call it when picking,
// not in a loop. Nothing else is created, no COM is needed, everything is released, and
// dxgi.dll is unloaded again unless the process had it loaded already.

#include <cstdint>
#include <optional>
#include <vector>

#include "inventory.h"

namespace gpu_inventory {

struct AdapterLuid {
  std::uint32_t lowPart = 0;
  std::int32_t highPart = 0;
};

inline bool operator==(const AdapterLuid& a, const AdapterLuid& b) {
  return a.lowPart == b.lowPart && a.highPart == b.highPart;
}
inline bool operator!=(const AdapterLuid& a, const AdapterLuid& b) { return !(a == b); }

inline AdapterLuid luidOf(const FennelAdapter& adapter) {
  return {adapter.luidLowPart, adapter.luidHighPart};
}

// Every adapter's LUID in this process's EnumAdapters1 order, software adapters included, so
// that an adapter's position here is its DXGI index in this process; an adapter whose
// description cannot be read holds {0, 0}, which names no adapter. None when DXGI cannot be
// used. Never throws. Windows only (elsewhere: none).
std::optional<std::vector<AdapterLuid>> dxgiOrderInThisProcess() noexcept;

// The position of the LUID in such an order; none when it is not there ({0, 0} never is).
std::optional<std::uint32_t> positionOf(AdapterLuid luid, const std::vector<AdapterLuid>& order) noexcept;

// The position of the entry's adapter in this process's EnumAdapters1 order: the DXGI index
// that a runtime in this process takes for it. None when the adapter is not listed here or DXGI
// cannot be used. Never throws. Windows only (elsewhere: none).
std::optional<std::uint32_t> dxgiOrdinalInThisProcess(const AdapterInventory& entry) noexcept;

}  // namespace gpu_inventory
