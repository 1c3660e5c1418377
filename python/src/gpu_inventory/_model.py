"""The inventory as Python values: each adapter by its LUID, what the pick chose and why."""

from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Tuple

from ._explain import explain_pick


@dataclass(frozen=True)
class Luid:
    """An adapter's LUID, the number every API gives the same adapter until the next restart:
    low is unsigned 32-bit, high signed 32-bit. int() is the signed 64-bit value as Windows
    holds it (LUID as a LONGLONG, high * 2**32 + low); str() is "low:high"."""

    low: int
    high: int

    def __int__(self) -> int:
        return (self.high << 32) | self.low

    def __str__(self) -> str:
        return "%d:%d" % (self.low, self.high)

    @classmethod
    def from_int(cls, value: int) -> "Luid":
        """The LUID of a signed 64-bit value, as a runtime that takes one as an integer gives it."""
        if not -(1 << 63) <= value < (1 << 63):
            raise ValueError("a LUID is a signed 64-bit value, not %d" % value)
        return cls(value & 0xFFFFFFFF, value >> 32)


@dataclass(frozen=True)
class Adapter:
    """One DXGI adapter of the inventory, with what each probe said of it; entry is the
    document's entry, whole. None is unknown: its probe did not answer, or had no answer."""

    position: int  # in Inventory.adapters and the document's "adapters": this answer's, no API's index
    name: str
    luid: Luid
    vendor_id: int
    device_id: int
    integrated: bool
    software: bool
    dedicated_memory: int
    free_memory: Optional[int]
    pci_location: Optional[Tuple[int, int, int]]  # (bus, device, function)
    direct3d12_feature_level: Optional[str]  # "12_1", as tansy prints it
    shader_model: Optional[str]  # "6.6"
    vulkan_device: Optional[int]  # the preferred vkIndex, in a Vulkan instance of quarry's
    opencl: Optional[str]  # "native" or "translation"
    entry: Dict[str, Any] = field(repr=False, compare=False)


@dataclass(frozen=True)
class Candidate:
    """An adapter as the pick considered it: eligible when no reason passed it over."""

    adapter: Adapter
    eligible: bool
    reasons: Tuple[str, ...]  # the document's names: "integrated", "shaderModelBelow"...


@dataclass(frozen=True)
class Pick:
    """The adapter to use, the first candidate that meets every need, or None; because is
    "userChoice", "windowsOrder" or "ruleOrder" (None with no adapter); candidates in the order
    considered."""

    adapter: Optional[Adapter]
    because: Optional[str]
    candidates: Tuple[Candidate, ...]
    prefer: str  # "highPerformance" or "minimumPower"
    user_choice: bool  # the user's choice for the program was considered first
    needs: Tuple[str, ...]  # as the document gives them: "d3d12=12_0", "memory=4294967296"
    program: Optional[str] = field(repr=False)  # whose graphics settings were read

    def explain(self) -> str:
        """The pick and each hardware adapter passed over, in words, one line each, as
        inventory.exe's table opens: "Pick: NAME (LOW:HIGH): why", "Passed over: NAME (LOW:HIGH):
        reasons"."""
        return explain_pick(self)


@dataclass(frozen=True, eq=False)
class Inventory:
    """One inventory: the document as inventory.exe printed it, parsed, and its parts."""

    document: Dict[str, Any] = field(repr=False)
    adapters: List[Adapter]  # in the document's order, fennel's
    compute_adapters: List[Dict[str, Any]]  # NPUs and compute accelerators, tansy's objects
    pick: Pick
