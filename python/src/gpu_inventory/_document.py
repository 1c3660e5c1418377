"""inventory.exe's output read strictly into an Inventory: one JSON object, schema 2, each part
that the Python values come from of the type its schema gives; anything else is no inventory's
document."""

import json
from typing import Any, Dict, List, Optional, Tuple, Type, TypeVar, Union

from ._errors import InvalidDocument
from ._model import Adapter, Candidate, Inventory, Luid, Pick

T = TypeVar("T")
_ABSENT = object()


def _unique_keys(pairs: List[Tuple[str, Any]]) -> Dict[str, Any]:
    keys = [key for key, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("a key twice in one object")
    return dict(pairs)


def _no_constant(name: str) -> Any:
    raise ValueError("%s is not JSON" % name)


def parse_output(output: bytes) -> Dict[str, Any]:
    """The one JSON object on standard output, strictly: UTF-8, no key twice, no NaN."""
    try:
        document = json.loads(output.decode("utf-8"), object_pairs_hook=_unique_keys,
                               parse_constant=_no_constant)
    except (ValueError, RecursionError) as error:  # UnicodeDecodeError, JSONDecodeError, too deep
        raise InvalidDocument("inventory.exe printed no JSON document: %s" % error) from None
    if not isinstance(document, dict):
        raise InvalidDocument("inventory.exe printed JSON that is not an object")
    if document.get("schema") != 2 or type(document.get("schema")) is not int:
        raise InvalidDocument("not the inventory's document of schema 2 (schema %r)" % (document.get("schema"),))
    return document


def _kind_name(kind: Union[Type[Any], Tuple[Type[Any], ...]]) -> str:
    return {int: "an integer", bool: "true or false", str: "a string", dict: "an object",
            list: "an array"}.get(kind if isinstance(kind, type) else kind[0], "a value")


def field(obj: Dict[str, Any], key: str, kind: Type[T], where: str) -> T:
    """obj[key], which must be of the kind (a bool is no integer)."""
    value = obj.get(key, _ABSENT)
    if not isinstance(value, kind) or (kind is int and isinstance(value, bool)):
        raise InvalidDocument("%s.%s is not %s" % (where, key, _kind_name(kind)))
    return value


def optional(obj: Dict[str, Any], key: str, kind: Type[T], where: str) -> Optional[T]:
    """obj[key], null or absent being None."""
    if obj.get(key) is None:
        return None
    return field(obj, key, kind, where)


def _adapter(entry: Any, position: int) -> Adapter:
    where = "adapters[%d]" % position
    if not isinstance(entry, dict):
        raise InvalidDocument("%s is not an object" % where)
    fennel = field(entry, "adapter", dict, where)
    at = where + ".adapter"
    low, high = field(fennel, "luidLowPart", int, at), field(fennel, "luidHighPart", int, at)
    if not 0 <= low < 1 << 32 or not -(1 << 31) <= high < 1 << 31:
        raise InvalidDocument("%s has no LUID: %d:%d" % (at, low, high))
    state = optional(entry, "state", dict, where)
    pci: Optional[Tuple[int, int, int]] = None
    if state is not None:
        parts = [optional(state, key, int, where + ".state") for key in ("pciBus", "pciDevice", "pciFunction")]
        if parts[0] is not None and parts[1] is not None and parts[2] is not None:
            pci = (parts[0], parts[1], parts[2])
        for key in ("localBudget", "nonLocalBudget"):  # the memory a shared-memory adapter has
            optional(state, key, int, where + ".state")
    capabilities = optional(entry, "capabilities", dict, where)
    d3d12 = optional(capabilities, "d3d12", dict, where + ".capabilities") if capabilities else None
    d3d11 = optional(capabilities, "d3d11", dict, where + ".capabilities") if capabilities else None
    if d3d11 is not None:
        optional(d3d11, "featureLevel", str, where + ".capabilities.d3d11")
    at = where + ".capabilities.d3d12"
    if d3d12 is not None:
        optional(d3d12, "uma", bool, at)
    return Adapter(
        position=position,
        name=field(fennel, "name", str, where + ".adapter"),
        luid=Luid(low, high),
        vendor_id=field(fennel, "vendorId", int, where + ".adapter"),
        device_id=field(fennel, "deviceId", int, where + ".adapter"),
        integrated=field(fennel, "isIntegratedGpu", bool, where + ".adapter"),
        software=field(entry, "kind", str, where) == "software",
        dedicated_memory=field(fennel, "dedicatedVideoMemory", int, where + ".adapter"),
        free_memory=optional(entry, "freeDedicatedMemory", int, where),
        pci_location=pci,
        direct3d12_feature_level=optional(d3d12, "featureLevel", str, at) if d3d12 else None,
        shader_model=optional(d3d12, "shaderModel", str, at) if d3d12 else None,
        vulkan_device=optional(entry, "preferredVulkanDevice", int, where),
        opencl=optional(entry, "openclKind", str, where),
        entry=entry)


def _position(value: Any, adapters: List[Adapter], where: str) -> Adapter:
    if not isinstance(value, int) or isinstance(value, bool) or not 0 <= value < len(adapters):
        raise InvalidDocument("%s is no position in adapters: %r" % (where, value))
    return adapters[value]


def _strings(obj: Dict[str, Any], key: str, where: str) -> Tuple[str, ...]:
    values = field(obj, key, list, where)
    if not all(isinstance(value, str) for value in values):
        raise InvalidDocument("%s.%s holds something other than strings" % (where, key))
    return tuple(values)


def _pick(document: Dict[str, Any], adapters: List[Adapter]) -> Pick:
    pick = field(document, "pick", dict, "the document")
    candidates = []
    for i, candidate in enumerate(field(pick, "candidates", list, "pick")):
        where = "pick.candidates[%d]" % i
        if not isinstance(candidate, dict):
            raise InvalidDocument("%s is not an object" % where)
        reasons = _strings(candidate, "reasons", where)
        eligible = field(candidate, "eligible", bool, where)
        if eligible != (not reasons):
            raise InvalidDocument("%s is eligible with reasons, or not eligible without" % where)
        candidates.append(Candidate(_position(candidate.get("adapter"), adapters, where + ".adapter"),
                                    eligible, reasons))
    adapter = None if pick.get("adapter") is None else _position(pick["adapter"], adapters, "pick.adapter")
    because = optional(pick, "because", str, "pick")
    if (adapter is None) != (because is None):
        raise InvalidDocument("pick.adapter and pick.because are not both given or both null")
    settings = field(document, "graphicsSettings", dict, "the document")
    return Pick(adapter=adapter, because=because, candidates=tuple(candidates),
                prefer=field(pick, "prefer", str, "pick"), user_choice=field(pick, "userChoice", bool, "pick"),
                needs=_strings(pick, "needs", "pick"), program=optional(settings, "program", str, "graphicsSettings"))


def read_inventory(document: Dict[str, Any]) -> Inventory:
    """The Inventory of a document of schema 2 in which fennel answered."""
    adapters = [_adapter(entry, i) for i, entry in enumerate(field(document, "adapters", list, "the document"))]
    compute = field(document, "computeAdapters", list, "the document")
    if not all(isinstance(each, dict) for each in compute):
        raise InvalidDocument("computeAdapters holds something other than objects")
    return Inventory(document=document, adapters=adapters, compute_adapters=compute, pick=_pick(document, adapters))
