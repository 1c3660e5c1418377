#pragma once

#include <vector>

#include "adapter_state.h"
#include "sorrel_platform.h"

// Gives each adapter the PCI location of the present display-class device whose GPU LUID
// property is the adapter's LUID: the first such device on the PCI bus whose bus number and
// address both answer. Adapters without one (virtual and remote adapters) keep none.
void locateAdapters(const DeviceApi& devices, std::vector<AdapterState>& adapters);
