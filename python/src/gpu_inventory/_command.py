"""python -m gpu_inventory [ARGS] and gpu-inventory [ARGS]: the bundled inventory.exe with
ARGS, in this console, its output and exit code passed through. GPU_INVENTORY_LAUNCHER names
a program that starts Windows executables, where one is needed (wine)."""

import os
import shlex
import subprocess
import sys
from typing import List, Optional

from ._run import BIN_DIR


def _exit_status(code: int) -> int:
    return 128 - code if code < 0 else code  # ended by a signal, as a shell says it


def main(arguments: Optional[List[str]] = None) -> int:
    executable = os.path.join(BIN_DIR, "inventory.exe")
    command = shlex.split(os.environ.get("GPU_INVENTORY_LAUNCHER", "")) + [executable]
    command += sys.argv[1:] if arguments is None else arguments
    try:
        process = subprocess.Popen(command)
    except OSError as error:
        print("gpu-inventory: %s could not be started: %s" % (command[0], error), file=sys.stderr)
        return 1  # as inventory.exe without an inventory
    try:
        return _exit_status(process.wait())
    except KeyboardInterrupt:  # the console's Ctrl+C reached inventory.exe too: it ends its probes
        try:
            return _exit_status(process.wait(timeout=10))
        except subprocess.TimeoutExpired:
            process.kill()
            return _exit_status(process.wait())
