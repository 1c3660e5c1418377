"""Running the bundled inventory.exe as a child process, directly, never through a shell, with
a last-resort limit on the whole run, and reading its answer."""

import errno
import math
import numbers
import os
import signal
import subprocess
import threading
import time
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

from ._document import parse_output, read_inventory
from ._errors import InvalidDocument, InventoryNotFound, InventoryTimeout, InventoryUsageError, NoAdapterList
from ._model import Adapter, Inventory

PathText = Union[str, "os.PathLike[str]"]
BIN_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bin")
MOST_ADAPTERS = 64  # the most adapters an inventory reads: fennel's answer holds no more
ENDING_GRACE = 5.0  # seconds for an ended process to go, and for its output to close
WAIT_STEP = 0.25  # seconds between looks at the run, for Ctrl+C
WINDOWS = os.name == "nt"
CREATE_NO_WINDOW = 0x08000000


def worst_case_seconds(timeout: float, adapters: int = MOST_ADAPTERS) -> float:
    """The longest inventory.exe can take with n adapters, each probe run limited to timeout
    seconds and waited for 5 s more once ended: (1 + ceil((2n + 1) / 4)) * (timeout + 5)."""
    return (1 + math.ceil((2 * adapters + 1) / 4)) * (timeout + 5)


def _seconds_text(seconds: float) -> str:
    """A number as --timeout takes it: digits and at most one point, to the millisecond."""
    text = "%.3f" % seconds
    return text.rstrip("0").rstrip(".") if "." in text else text


def _real(value: Any, name: str) -> float:
    if not isinstance(value, numbers.Real) or isinstance(value, bool):
        raise TypeError("%s is a number of seconds, not %r" % (name, value))
    if not math.isfinite(value):
        raise ValueError("%s is a finite number of seconds, not %r" % (name, value))
    return float(value)


def _texts(values: Iterable[str], name: str) -> List[str]:
    if isinstance(values, (str, bytes)):
        raise TypeError("%s is a sequence of strings, not one string: %r" % (name, values))
    texts = list(values)
    for text in texts:
        if not isinstance(text, str):
            raise TypeError("%s holds strings, not %r" % (name, text))
    return texts


def command_line(executable: str, *, timeout: float, prefer: str, needs: Sequence[str], user_choice: bool,
                 program: Optional[PathText], launcher: Sequence[str]) -> List[str]:
    if not isinstance(prefer, str):
        raise TypeError("prefer is \"high-performance\" or \"minimum-power\", not %r" % (prefer,))
    command = _texts(launcher, "launcher") + [executable, "--json", "--timeout", _seconds_text(timeout),
                                              "--prefer", prefer]
    for need in _texts(needs, "needs"):
        command += ["--need", need]
    if not user_choice:
        command.append("--ignore-user-choice")
    if program is not None:
        command += ["--program", os.fspath(program)]
    return command


def _end(process: "subprocess.Popen[bytes]", windows: bool) -> None:
    """Ends the process: on Windows inventory.exe alone, whose jobs then end every probe it
    started (the thread reading its output ends with it, or with whatever else holds the
    output); elsewhere the process group the launcher started. Waits a moment for it to go."""
    if windows:
        process.kill()
    else:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except OSError:  # already gone
            pass
        try:
            process.communicate(timeout=ENDING_GRACE)
        except subprocess.TimeoutExpired:  # something it started still holds the output: let it be
            for pipe in (process.stdout, process.stderr):
                if pipe:
                    pipe.close()
    try:
        process.wait(timeout=ENDING_GRACE)
    except subprocess.TimeoutExpired:  # stuck inside a driver: Windows ends it when it lets go
        pass


def _output_posix(process: "subprocess.Popen[bytes]", deadline: float) -> Optional[Tuple[bytes, bytes]]:
    """The whole output, or None past the deadline; in short steps, so that Ctrl+C is heard."""
    while True:
        try:
            return process.communicate(timeout=min(WAIT_STEP, max(deadline - time.monotonic(), 0)))
        except subprocess.TimeoutExpired:
            if time.monotonic() >= deadline:
                return None


def _output_windows(process: "subprocess.Popen[bytes]", deadline: float) -> Optional[Tuple[bytes, bytes]]:
    """The same on Windows, where a wait inside communicate() cannot be interrupted and Ctrl+C
    there can leave it waiting for the process to end on its own: a thread of its own reads,
    and this one only sleeps, where Ctrl+C is heard."""
    outcome: Dict[str, Any] = {}

    def read() -> None:
        try:
            outcome["output"] = process.communicate()
        except BaseException as error:  # handed to the waiting thread
            outcome["error"] = error

    reader = threading.Thread(target=read, name="inventory.exe output", daemon=True)
    reader.start()
    while reader.is_alive():
        if time.monotonic() >= deadline:
            return None
        time.sleep(min(WAIT_STEP, max(deadline - time.monotonic(), 0)))
    if "error" in outcome:
        raise outcome["error"]
    output: Tuple[bytes, bytes] = outcome["output"]
    return output


def _run(command: List[str], limit: float, windows: bool = WINDOWS) -> Tuple[int, bytes, bytes]:
    options: Dict[str, Any] = {}
    if windows:
        options["creationflags"] = CREATE_NO_WINDOW  # no console window flashes up
    else:
        options["start_new_session"] = True  # a group of its own, to end what the launcher started
    try:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, **options)
    except OSError as error:
        raise InventoryNotFound("%s could not be started: %s" % (command[0], error)) from error
    deadline = time.monotonic() + limit
    try:
        output = _output_windows(process, deadline) if windows else _output_posix(process, deadline)
    except BaseException:  # KeyboardInterrupt: leave nothing running
        _end(process, windows)
        raise
    if output is None:
        _end(process, windows)
        raise InventoryTimeout("inventory.exe took more than %s s, the last-resort limit; it was ended"
                               % _seconds_text(limit), limit)
    return process.returncode, output[0], output[1]


def _exit_text(code: int) -> str:
    if code < 0:
        return "signal %d" % -code
    return "0x%08X" % code if code > 255 else str(code)


def _stderr_text(err: bytes) -> str:
    return err.decode("utf-8", "replace").rstrip()


def take_inventory(*, timeout: float = 30.0, prefer: str = "high-performance", needs: Sequence[str] = (),
                   user_choice: bool = True, program: Optional[PathText] = None,
                   bin_dir: Optional[PathText] = None, launcher: Sequence[str] = (),
                   limit: Optional[float] = None) -> Inventory:
    """Runs inventory.exe (the bundled one, or the one in bin_dir) and returns its answer.

    timeout: the limit of each probe run, in seconds. prefer: "high-performance" or
    "minimum-power", the order the pick takes after the user's choice. needs: what the program
    needs of its adapter, as inventory.exe's --need takes them ("d3d12=12_0", "memory=4GiB").
    user_choice: whether the user's choice for the program in Windows' graphics settings comes
    first. program: the full path of the program whose choice that is; by default the process
    that starts inventory.exe, this interpreter. launcher: a command before inventory.exe, where
    a Windows executable is started through another program (("wine",)). limit: the last resort
    on the whole run, in seconds; by default the worst case for timeout and 64 adapters.
    """
    seconds = _real(timeout, "timeout")
    whole = worst_case_seconds(seconds) if limit is None else _real(limit, "limit")
    if seconds <= 0 or whole <= 0:
        raise ValueError("timeout and limit are positive numbers of seconds, not %r and %r" % (timeout, limit))
    if not isinstance(user_choice, bool):
        raise TypeError("user_choice is True or False, not %r" % (user_choice,))
    whole = min(whole, threading.TIMEOUT_MAX)  # the longest wait Python's own waits take
    folder = BIN_DIR if bin_dir is None else os.fspath(bin_dir)
    executable = os.path.join(folder, "inventory.exe")
    command = command_line(executable, timeout=seconds, prefer=prefer, needs=needs, user_choice=user_choice,
                           program=program, launcher=launcher)
    if not os.path.isfile(executable):  # a launcher would start and say so in its own words
        missing = FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), executable)
        raise InventoryNotFound("no inventory.exe at %s" % executable) from missing
    code, out, err = _run(command, whole)
    if code == 2:
        raise InventoryUsageError(_stderr_text(err))
    if not out.strip():
        raise InvalidDocument("inventory.exe printed nothing (exit code %s): %s"
                              % (_exit_text(code), _stderr_text(err)))
    document = parse_output(out)
    fennel = document.get("fennel")
    outcome = fennel.get("outcome") if isinstance(fennel, dict) else None
    if not isinstance(fennel, dict) or not isinstance(outcome, str):
        raise InvalidDocument("fennel.outcome is not a string")
    if code == 1 and outcome != "answered":
        problem = fennel.get("problem") if isinstance(fennel.get("problem"), str) else None
        raise NoAdapterList("no adapter list: fennel %s%s" % (outcome, ": " + problem if problem else ""),
                            outcome, problem, document)
    if code != 0 or outcome != "answered":
        raise InvalidDocument("exit code %s with fennel %s" % (_exit_text(code), outcome))
    return read_inventory(document)


def pick(*, timeout: float = 30.0, prefer: str = "high-performance", needs: Sequence[str] = (),
         user_choice: bool = True, program: Optional[PathText] = None, bin_dir: Optional[PathText] = None,
         launcher: Sequence[str] = (), limit: Optional[float] = None) -> Optional[Adapter]:
    """The adapter to use for the needs, or None when none meets them: take_inventory(...).pick.adapter."""
    return take_inventory(timeout=timeout, prefer=prefer, needs=needs, user_choice=user_choice, program=program,
                          bin_dir=bin_dir, launcher=launcher, limit=limit).pick.adapter
