"""End-to-end harness: runs the Windows executables under Wine as a parent program would.

Each test module starts its own Xvfb (when it needs a display) on a display number that
Xvfb picks itself, uses a Wine prefix of its own inside the build tree, and stops only
what it started: its Xvfb by process id and its prefix's wineserver.
"""

import glob
import importlib.util
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

SCHEMA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "schemas")
PROBES = ("brindle", "fennel", "quarry", "sorrel", "tansy")
WINE = "/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else shutil.which("wine64") or "wine"
RUN_TIMEOUT = 120


def bin_dir():
    return os.environ["PROBES_BIN"]


def fakes_dir():
    return os.environ["PROBES_FAKES"]


def tools_dir():
    return os.environ["PROBES_TOOLS"]


def work_dir():
    path = os.environ.get("PROBES_WORK") or tempfile.gettempdir()
    os.makedirs(path, exist_ok=True)
    return path


def exe(name):
    return os.path.join(bin_dir(), name)


def install_wheel():
    """The Python wheel installed by Debian's python3-installer into a fresh virtual environment
    of this interpreter, which sees nothing else installed; returns the environment's folder."""
    folder = tempfile.mkdtemp(prefix="python-package-", dir=work_dir())
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", folder], check=True)
    python = os.path.join(folder, "bin", "python")
    # The installer is the system's; the environment holds only what it installs.
    installer = {"PYTHONPATH": os.path.dirname(os.path.dirname(importlib.util.find_spec("installer").origin))}
    subprocess.run([python, "-m", "installer", os.environ["PROBES_WHEEL"]], check=True,
                   env=dict(os.environ, **installer))
    return folder


def site_packages(environment):
    """The environment's own site-packages folder."""
    [folder] = glob.glob(os.path.join(environment, "lib", "python3*", "site-packages"))
    return folder


def start_xvfb():
    """Starts Xvfb on a free display; returns (process, display string)."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        process.kill()
        raise RuntimeError("Xvfb did not report a display")
    return process, ":" + number


def stop_xvfb(process):
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def wine_env(prefix, display=None, overrides=None, extra=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
    env.pop("DISPLAY", None)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    # A crashing .exe must end, not wait in a debugger dialog; no Mono or Gecko prompts.
    dll_overrides = ["winedbg.exe=d", "mscoree,mshtml="]
    if overrides:
        dll_overrides.append(overrides)
    env["WINEDLLOVERRIDES"] = ";".join(dll_overrides)
    if display:
        env["DISPLAY"] = display
    if extra:
        env.update(extra)
    return env


def make_prefix(name, display=None):
    """The module's own Wine prefix, created on first use and kept in the build tree."""
    prefix = os.path.join(work_dir(), "wine-prefix-" + name)
    env = wine_env(prefix, display)
    subprocess.run(["timeout", "300", WINE, "wineboot", "-u"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return prefix


def stop_wineserver(prefix):
    env = wine_env(prefix)
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False, timeout=30)


def run(executable, args=(), env=None, timeout=RUN_TIMEOUT, cwd=None):
    """Runs an .exe under Wine; returns (stdout bytes, exit code, stderr bytes). What a probe
    prints must be one document that its schema accepts. On a loaded machine Wine now and then
    fails to start a program at all ("ShellExecuteEx failed"): that start is tried again."""
    for _ in range(3):
        completed = subprocess.run(
            ["timeout", "--kill-after=5", str(timeout), WINE, executable, *args], env=env, cwd=cwd,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if b"could not be started" not in completed.stdout + completed.stderr:
            break
        time.sleep(1)  # Wine itself failed to start the program (a loaded machine): try again
    probe = os.path.splitext(os.path.basename(executable))[0].lower()
    if probe in PROBES:
        try:
            parse_document(completed.stdout, probe)
        except AssertionError as error:  # say how the run ended, so a rare failure can be read
            raise AssertionError("%s (exit code %d, standard error %r)"
                                 % (error, completed.returncode, completed.stderr[-2000:])) from None
    return completed.stdout, completed.returncode, completed.stderr


def staged(executable, dll_dirs):
    """A temporary folder with a copy of the .exe beside the DLLs of the given folders."""
    folder = tempfile.mkdtemp(prefix="stage-", dir=work_dir())
    shutil.copy(executable, folder)
    for dll_dir in dll_dirs:
        for name in os.listdir(dll_dir):
            if name.lower().endswith(".dll"):
                shutil.copy(os.path.join(dll_dir, name), folder)
    return folder, os.path.join(folder, os.path.basename(executable))


def _reject_duplicates(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("duplicate key in %r" % keys)
    return dict(pairs)


def _reject_constant(name):
    raise ValueError("not JSON: " + name)


_validators = {}


def _load_schema(name):
    with open(os.path.join(SCHEMA_DIR, name + ".schema.json")) as f:
        return json.load(f)


def validator(name):
    """The JSON Schema validator of one program's documents (schemas/<name>.schema.json),
    with the other schemas at hand for the references between them."""
    if name not in _validators:
        import jsonschema
        schemas = [_load_schema(other) for other in PROBES + ("inventory",)]
        schema = _load_schema(name)
        jsonschema.Draft202012Validator.check_schema(schema)
        try:
            import referencing
            registry = referencing.Registry().with_resources(
                [(s["$id"], referencing.Resource.from_contents(s)) for s in schemas])
            _validators[name] = jsonschema.Draft202012Validator(schema, registry=registry)
        except ImportError:  # Debian 12's jsonschema resolves references the older way
            resolver = jsonschema.RefResolver.from_schema(schema, store={s["$id"]: s for s in schemas})
            _validators[name] = jsonschema.Draft202012Validator(schema, resolver=resolver)
    return _validators[name]


def parse_document(data, probe=None):
    """Checks one document: one line, one final LF, no CR, strict JSON, UTF-8, and (for a
    probe, or "inventory") accepted by that program's schema."""
    if not data.endswith(b"\n"):
        raise AssertionError("document does not end in a line feed: %r" % data)
    if data.count(b"\n") != 1:
        raise AssertionError("document is more than one line: %r" % data)
    if b"\r" in data:
        raise AssertionError("carriage return in the document: %r" % data)
    doc = json.loads(data.decode("utf-8"), object_pairs_hook=_reject_duplicates,
                     parse_constant=_reject_constant)
    if probe is not None:
        errors = sorted(validator(probe).iter_errors(doc), key=str)
        if errors:
            raise AssertionError("%s document rejected by its schema: %s\n%r"
                                 % (probe, errors[0].message, data))
    return doc
