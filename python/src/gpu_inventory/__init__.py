"""Which GPU should this program use? The bundled inventory.exe asks DXGI, Direct3D, Vulkan and
OpenCL, joins their answers by LUID, and picks the adapter that meets the program's needs:

    import gpu_inventory
    adapter = gpu_inventory.pick(needs=["d3d12=12_0"])  # an Adapter, or None: run on the CPU

Hand on adapter.luid, never a position. Windows 10 or later, 64-bit.
"""

from ._errors import (InvalidDocument, InventoryError, InventoryNotFound, InventoryTimeout, InventoryUsageError,
                      NoAdapterList)
from ._model import Adapter, Candidate, Inventory, Luid, Pick
from ._run import pick, take_inventory, worst_case_seconds
from ._version import __version__

__all__ = [
    "Adapter", "Candidate", "InvalidDocument", "Inventory", "InventoryError", "InventoryNotFound",
    "InventoryTimeout", "InventoryUsageError", "Luid", "NoAdapterList", "Pick", "__version__", "pick",
    "take_inventory", "worst_case_seconds",
]
