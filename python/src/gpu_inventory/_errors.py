"""What take_inventory raises when there is no inventory to read. A probe's failure other than
fennel's is never one of these: it is data in the document."""

from typing import Any, Dict, Optional


class InventoryError(Exception):
    """No inventory: go on without a GPU, or let the runtime take its default, and say why."""


class InventoryNotFound(InventoryError):
    """inventory.exe is not there or could not be started; the OSError is the cause."""


class InventoryTimeout(InventoryError):
    """inventory.exe ran past the last-resort limit; it and the probes it started were ended."""

    def __init__(self, message: str, limit: float) -> None:
        super().__init__(message)
        self.limit = limit


class InventoryUsageError(InventoryError):
    """inventory.exe refused its command line (exit code 2): a need, an order or a number it
    does not take. The message is what inventory.exe said, with its usage."""


class NoAdapterList(InventoryError):
    """fennel did not answer (exit code 1): there is no adapter list to choose from. outcome and
    problem are its run's, document the whole document."""

    def __init__(self, message: str, outcome: str, problem: Optional[str], document: Dict[str, Any]) -> None:
        super().__init__(message)
        self.outcome = outcome
        self.problem = problem
        self.document = document


class InvalidDocument(InventoryError):
    """What inventory.exe printed is no JSON object, or not the inventory's document (schema 2),
    or does not go with its exit code."""
