"""The pick in words, as inventory.exe's table opens with it: what was picked and why, then
each hardware adapter passed over with its reasons."""

import re
from typing import TYPE_CHECKING, Any, Dict, List, Optional

if TYPE_CHECKING:
    from ._model import Adapter, Pick

_ORDER_WORDS = {"minimumPower": "minimum-power"}  # else "high-performance"
_CONTROL = re.compile("[\x00-\x1f\x7f]")
_DIGITS = re.compile("[0-9]+")


def _one_line(text: str) -> str:
    """A driver's name may hold a line feed or another control character: here it is a space."""
    return _CONTROL.sub(" ", text)


def _adapter_text(adapter: "Adapter") -> str:
    return "%s (%s)" % (adapter.name, adapter.luid)


def _amount_text(amount: int, up: bool) -> str:
    """An amount rounded down (what an adapter has) or up (what is needed), so that a shortfall
    never reads as enough: "3.9 GiB", "512 MiB", "3 KiB", "100 bytes"."""
    def rounded(shift: int) -> int:
        whole, rest = amount >> shift, amount & ((1 << shift) - 1)
        return whole + (1 if up and rest else 0)

    if amount < 1 << 10:
        return "%d bytes" % amount
    if amount < 1 << 20:
        return "%d KiB" % rounded(10)
    if amount < 1 << 30:
        return "%d MiB" % rounded(20)
    whole, tenths = amount >> 30, (amount & ((1 << 30) - 1)) * 10
    tenth = tenths >> 30
    if up and tenths & ((1 << 30) - 1):
        tenth += 1
        if tenth == 10:
            whole, tenth = whole + 1, 0
    return "%d.%d GiB" % (whole, tenth)


def _d3d12(entry: Dict[str, Any]) -> Optional[Dict[str, Any]]:
    capabilities = entry.get("capabilities")
    return capabilities.get("d3d12") if capabilities else None


def memory_for_program(entry: Dict[str, Any]) -> int:
    """What the memory need compares: the free dedicated memory (all of it when the usage is
    unknown), or, where the adapter's memory is the system's, its two budgets together."""
    dedicated: int = entry["adapter"]["dedicatedVideoMemory"]
    d3d12 = _d3d12(entry)
    uma = d3d12.get("uma") if d3d12 else None
    shares = uma if uma is not None else entry["adapter"]["isIntegratedGpu"]
    if not shares:
        free = entry.get("freeDedicatedMemory")
        return dedicated if free is None else int(free)
    state = entry.get("state") or {}
    local, non_local = state.get("localBudget"), state.get("nonLocalBudget")
    if local is None or non_local is None:
        return dedicated
    return min(int(local) + int(non_local), (1 << 64) - 1)


def _need(needs: List[str], name: str) -> Optional[str]:
    """The value of the need ("12_0" of "d3d12=12_0"), "?" when it has none."""
    for need in needs:
        if need == name:
            return "?"
        if need.startswith(name + "="):
            return need[len(name) + 1:]
    return None


def _level_below(api: str, level: Any, needed: Optional[str]) -> str:
    return "%s at %s, below %s" % (api, level if isinstance(level, str) else "?", needed or "?")


def _reason_words(adapter: "Adapter", needs: List[str], reason: str) -> str:
    entry = adapter.entry
    capabilities = entry.get("capabilities") or {}
    d3d11, d3d12 = capabilities.get("d3d11") or {}, capabilities.get("d3d12") or {}
    fixed = {
        "software": "a software adapter (the CPU draws), never picked",
        "integrated": "an integrated GPU, not a discrete one",
        "capabilitiesUnknown": "its Direct3D devices are unknown: tansy did not answer for it",
        "noDirect3d11Device": "no Direct3D 11 device",
        "noDirect3d12Device": "no Direct3D 12 device",
        "noVulkanDevice": "no Vulkan device",
        "noOpenclDevice": "no OpenCL device",
    }
    if reason in fixed:
        return fixed[reason]
    if reason == "notEnoughMemory":
        needed = _need(needs, "memory")
        return "%s of memory for a program, less than the %s needed" % (
            _amount_text(memory_for_program(entry), False),
            _amount_text(int(needed) if needed and _DIGITS.fullmatch(needed) else 0, True))
    if reason == "direct3d11LevelBelow":
        return _level_below("Direct3D 11", d3d11.get("featureLevel"), _need(needs, "d3d11"))
    if reason == "direct3d12LevelBelow":
        return _level_below("Direct3D 12", d3d12.get("featureLevel"), _need(needs, "d3d12"))
    if reason == "shaderModelBelow":
        needed = _need(needs, "shader-model") or "?"
        model = d3d12.get("shaderModel")
        if isinstance(model, str):
            return "shader model %s, below %s" % (model, needed)
        return "shader model unknown, %s needed" % needed
    return reason  # a reason of a later version: its name


def _why_first(pick: "Pick") -> str:
    order = _ORDER_WORDS.get(pick.prefer, "high-performance")
    if pick.because == "userChoice":
        program = pick.program
        name = program[max(program.rfind("\\"), program.rfind("/")) + 1:] if program else "the program"
        return "the GPU chosen for %s in Windows' graphics settings" % name
    if pick.because == "windowsOrder":
        return "first in Windows' %s order" % order
    return "first in the inventory's %s order (its rule, not Windows' preference)" % order


def explain_pick(pick: "Pick") -> str:
    needs = list(pick.needs)
    listed = ", ".join(needs)
    if pick.adapter is not None:
        line = "Pick: %s: %s" % (_adapter_text(pick.adapter), _why_first(pick))
        if listed:
            line += (", which meets the needs " if pick.because == "userChoice" else " that meets the needs ") + listed
    elif not pick.candidates:
        line = "Pick: none: no adapter to pick from"
    elif not listed:
        line = "Pick: none: no hardware adapter"
    else:
        line = "Pick: none: no adapter meets the needs " + listed
    lines = [_one_line(line)]
    for candidate in pick.candidates:
        # A software adapter is never picked, and is not passed over for a need.
        if candidate.eligible or candidate.adapter.software:
            continue
        reasons = "; ".join(_reason_words(candidate.adapter, needs, reason) for reason in candidate.reasons)
        lines.append(_one_line("Passed over: %s: %s" % (_adapter_text(candidate.adapter), reasons)))
    return "\n".join(lines)
