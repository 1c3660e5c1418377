"""python -m gpu_inventory [ARGS] and gpu-inventory [ARGS]: the bundled inventory.exe with
ARGS, in this console, its output and exit code passed through. GPU_INVENTORY_LAUNCHER names
a program that starts Windows executables, where one is needed (wine)."""

import os
import shlex
import subprocess
import sys
from typing import List, Optional

from ._run import BIN_DIR


def exit_status(code: int, windows: bool = os.name == "nt") -> int:
    """The child's exit code as this process's own: on Windows an NTSTATUS such as 0xC0000005
    made the signed value that sys.exit takes; elsewhere an end by a signal as a shell says it."""
    if windows:
        return code - (1 << 32) if code >= 1 << 31 else code
    return 128 - code if code < 0 else code


def main(arguments: Optional[List[str]] = None) -> int:
    executable = os.path.join(BIN_DIR, "inventory.exe")
    launcher = [token[1:-1] if len(token) > 1 and token[0] == token[-1] == '"' else token  # Windows keeps quotes
                for token in shlex.split(os.environ.get("GPU_INVENTORY_LAUNCHER", ""), posix=os.name != "nt")]
    command = launcher + [executable]
    command += sys.argv[1:] if arguments is None else arguments
    try:
        process = subprocess.Popen(command)
    except OSError as error:
        print("gpu-inventory: %s could not be started: %s" % (command[0], error), file=sys.stderr)
        return 1  # as inventory.exe without an inventory
    try:
        return exit_status(process.wait())
    except KeyboardInterrupt:  # the console's Ctrl+C reached inventory.exe too: it ends its probes
        try:
            return exit_status(process.wait(timeout=10))
        except subprocess.TimeoutExpired:
            process.kill()
            return exit_status(process.wait())
