"""The Python package, its wheel installed into a fresh virtual environment, run with Wine as
its launcher: on the real adapter, on the stand-in machine of test_inventory_wine (whose
helpers, samples and stand-ins it shares, in a Wine prefix of its own), and for each way there
is no inventory."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from unittest import mock

import harness
import test_inventory_wine as machine
from test_inventory_wine import (BASIC_RENDER_LUID, FAKE_GPU, IGPU_LUID, PYTHON_PICKS, STAND_INS, TANSY_OLD_IGPU,
                                 document, graphics_settings, inventory, machine_of_three, python_sample, staged,
                                 still_running, windows_path)


def setUpModule():
    machine.setUpModule("python-package")


def tearDownModule():
    machine.tearDownModule()


def read_luid(entry):
    return "%d:%d" % (entry["adapter"]["luidLowPart"], entry["adapter"]["luidHighPart"])


def passed_over(pick):
    """The plain sample's lines for the candidates the pick passed over."""
    return "".join("passed over %s: %s\n" % (c.adapter.name, ", ".join(c.reasons))
                   for c in pick.candidates if not c.eligible)


def table_opening(table):
    """The table's lines before its rows: the pick and each adapter passed over."""
    return "\n".join(line for line in table.splitlines() if line.startswith(("Pick: ", "Passed over: ")))


# Options of the Python API, the same as inventory.exe's command line, over the stand-in machine,
# and what the document's pick says it was asked.
API_OPTIONS = [
    ({}, [], ("highPerformance", True, [])),
    ({"prefer": "minimum-power", "needs": ["memory=4GiB", "d3d11=11_0"]},
     ["--prefer", "minimum-power", "--need", "memory=4GiB", "--need", "d3d11=11_0"],
     ("minimumPower", True, ["memory=4294967296", "d3d11=11_0"])),
    ({"user_choice": False, "needs": ["discrete", "vulkan", "opencl"]},
     ["--ignore-user-choice", "--need", "discrete", "--need", "vulkan", "--need", "opencl"],
     ("highPerformance", False, ["discrete", "vulkan", "opencl"])),
    ({"timeout": 7.25, "needs": ("d3d12=12_2", "d3d11=12_1")}, ["--need", "d3d11=12_1", "--need", "d3d12=12_2"],
     ("highPerformance", True, ["d3d11=12_1", "d3d12=12_2"])),
]


class PythonPackageTest(unittest.TestCase):
    """The wheel, installed into a fresh environment, run through Wine as its launcher."""

    @classmethod
    def setUpClass(cls):
        cls.environment = harness.install_wheel()
        sys.path.insert(0, harness.site_packages(cls.environment))
        import gpu_inventory
        cls.api = gpu_inventory
        cls.work = tempfile.mkdtemp(prefix="python-package-", dir=harness.work_dir())
        cls.python = os.path.join(cls.work, "python.exe")  # the program whose graphics settings are read
        shutil.copy(os.path.join(harness.fakes_dir(), "fake_probe.exe"), cls.python)

    @classmethod
    def tearDownClass(cls):
        sys.path.remove(harness.site_packages(cls.environment))

    def take(self, extra=None, **options):
        options.setdefault("launcher", (harness.WINE,))
        with mock.patch.dict(os.environ, harness.wine_env(machine.PREFIX, machine.DISPLAY, None, extra), clear=True):
            return self.api.take_inventory(**options)

    def failure(self, wanted, extra=None, **options):
        with self.assertRaises(wanted) as caught:
            self.take(extra, **options)
        self.assertIsInstance(caught.exception, self.api.InventoryError)
        return caught.exception

    def test_the_installed_package_is_the_one_imported(self):
        self.assertTrue(self.api.__file__.startswith(harness.site_packages(self.environment)), self.api.__file__)
        self.assertEqual(self.api.__version__, os.environ["PROBES_VERSION"])

    def test_the_bundled_inventory_on_the_real_adapter(self):
        taken = self.take(needs=["d3d12"])
        document = taken.document
        self.assertEqual(taken.pick.adapter.position, document["pick"]["adapter"])
        [adapter] = taken.adapters
        entry = document["adapters"][0]
        self.assertIs(adapter.entry, entry)
        fennel, capabilities = machine.ADAPTER, machine.CAPABILITIES_HERE["d3d12"]
        self.assertEqual((adapter.name, adapter.luid.low, adapter.luid.high, adapter.vendor_id, adapter.device_id),
                         (fennel["name"], fennel["luidLowPart"], fennel["luidHighPart"], fennel["vendorId"],
                          fennel["deviceId"]))
        self.assertEqual((adapter.integrated, adapter.software, adapter.dedicated_memory),
                         (fennel["isIntegratedGpu"], False, fennel["dedicatedVideoMemory"]))
        self.assertEqual((adapter.free_memory, adapter.vulkan_device, adapter.opencl),
                         (entry["freeDedicatedMemory"], entry["preferredVulkanDevice"], entry["openclKind"]))
        self.assertEqual((adapter.direct3d12_feature_level, adapter.shader_model),
                         (capabilities["featureLevel"], capabilities["shaderModel"]))
        self.assertIsNone(adapter.pci_location)  # Wine has no bus numbers
        self.assertEqual(taken.compute_adapters, document["computeAdapters"])
        self.assertEqual(taken.pick.explain(), table_opening(inventory(harness.bin_dir(), "--need", "d3d12")[0]))
        with mock.patch.dict(os.environ, harness.wine_env(machine.PREFIX, machine.DISPLAY), clear=True):
            self.assertEqual(self.api.pick(launcher=(harness.WINE,), needs=["d3d12"]), adapter)

    def test_the_pick_over_a_machine_of_three(self):
        folder = staged(STAND_INS)
        program = windows_path(self.python)
        for setting, tansy, picked, passed in PYTHON_PICKS:
            extra = machine_of_three(tansy)
            with self.subTest(setting=setting, picked=picked), \
                    graphics_settings({program: setting} if setting else {}):
                taken = self.take(extra, bin_dir=folder, needs=["d3d12=12_0", "shader-model=6.2"], program=program)
                adapter = taken.pick.adapter
                self.assertEqual("LUID %s" % adapter.luid if adapter else "no GPU: running on the CPU", picked)
                self.assertEqual(passed_over(taken.pick), passed)
                self.assertEqual(taken.pick.because, taken.document["pick"]["because"])
                table = inventory(folder, "--need", "d3d12=12_0", "--need", "shader-model=6.2", "--program", program,
                                  extra=extra)[0]
                self.assertEqual(taken.pick.explain(), table_opening(table))
                # The samples of the README and the docs, as they stand, say the same.
                self.assertEqual(self.package_sample("pick", folder, program, extra), (picked + "\n", ""))
                self.assertEqual(self.package_sample("example", folder, program, extra),
                                 (picked + "\n", table_opening(table) + "\n"))
        out, err = self.package_sample("example", staged({"fennel": "fake"}), program, {"FAKE_PROBE_FENNEL": "crash"})
        self.assertEqual(out, "no GPU: running on the CPU\n")
        self.assertRegex(err, r"^no GPU inventory: no adapter list: fennel crashed: .*0xC0000005")
        extra = machine_of_three(TANSY_OLD_IGPU)
        with graphics_settings({program: "GpuPreference=2;"}):
            for options, args, asked in API_OPTIONS:
                with self.subTest(options=options):
                    taken = self.take(extra, bin_dir=folder, program=program, **options)
                    table = inventory(folder, "--program", program, *args, extra=extra)[0]
                    self.assertEqual(taken.pick.explain(), table_opening(table))
                    pick = taken.document["pick"]
                    self.assertEqual((pick["prefer"], pick["userChoice"], pick["needs"]), asked)
                    self.assertEqual((taken.pick.prefer, taken.pick.user_choice, list(taken.pick.needs)), asked)
                    self.assertEqual([(c.adapter.position, c.eligible, list(c.reasons)) for c in taken.pick.candidates],
                                     [(c["adapter"], c["eligible"], c["reasons"]) for c in pick["candidates"]])
                    self.assertEqual([a.luid for a in taken.adapters],
                                     [self.api.Luid(*FAKE_GPU), self.api.Luid(*IGPU_LUID),
                                      self.api.Luid(*BASIC_RENDER_LUID)])
                    self.assertEqual([a.software for a in taken.adapters], [False, False, True])

    def package_sample(self, tag, folder, program, extra):
        """What the sample prints (standard output, standard error), run by the installed
        package's interpreter with the stand-ins' folder, the program and Wine as its launcher."""
        script = os.path.join(self.work, tag + ".py")
        with open(script, "w") as f:
            f.write("import functools, gpu_inventory\n"
                    "for name in ('pick', 'take_inventory'):\n"
                    "    setattr(gpu_inventory, name, functools.partial(getattr(gpu_inventory, name), launcher=(%r,),"
                    " bin_dir=%r, program=%r))\n" % (harness.WINE, folder, program))
            f.write(python_sample(tag))
        completed = subprocess.run([os.path.join(self.environment, "bin", "python"), script], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE,
                                   env=harness.wine_env(machine.PREFIX, machine.DISPLAY, None, extra),
                                   timeout=300)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        return completed.stdout.decode(), completed.stderr.decode()

    def test_each_failure_is_its_exception(self):
        fennel_crashes = staged({"fennel": "fake"})
        standing_in = staged({"inventory": "fake"})
        answer = document(harness.bin_dir())[0]
        said = inventory(harness.bin_dir(), "--need", "bogus")[2].decode().rstrip()
        error = self.failure(self.api.InventoryUsageError, needs=["bogus"])
        self.assertEqual(str(error), said)
        self.assertRegex(str(error), r"^inventory: --need: .*bogus")
        error = self.failure(self.api.NoAdapterList, {"FAKE_PROBE_FENNEL": "crash"}, bin_dir=fennel_crashes)
        self.assertEqual((error.outcome, error.document["fennel"]["outcome"]), ("crashed", "crashed"))
        self.assertRegex(error.problem, "0xC0000005")
        error = self.failure(self.api.NoAdapterList, {"FAKE_PROBE_FENNEL": "hang"}, bin_dir=fennel_crashes,
                             timeout=1.5)  # each probe run's limit
        self.assertEqual((error.outcome, error.problem), ("timedOut", "no answer within 1.5 s"))
        error = self.failure(self.api.InventoryNotFound, bin_dir=os.path.join(self.work, "none"))
        self.assertIsInstance(error.__cause__, FileNotFoundError)
        error = self.failure(self.api.InventoryNotFound, launcher=(os.path.join(self.work, "no-wine"),))
        self.assertIsInstance(error.__cause__, OSError)
        exit_0 = json.dumps(dict(answer, fennel=dict(answer["fennel"], outcome="crashed")))
        for mode in ("junk", "silent", "crash", "say 0 []", 'say 0 {"schema":3}', "say 1 " + json.dumps(answer),
                     "say 0 " + exit_0, "say 0 " + json.dumps(dict(answer, adapters={}))):
            with self.subTest(mode=mode[:30]):
                self.failure(self.api.InvalidDocument, {"FAKE_PROBE_INVENTORY": mode}, bin_dir=standing_in)
        with self.subTest("the stand-in answers"):
            self.assertEqual(self.take({"FAKE_PROBE_INVENTORY": "say 0 " + json.dumps(answer)},
                                       bin_dir=standing_in).document, answer)

    def test_a_hung_inventory_is_ended_at_the_last_resort_limit(self):
        for name, fake, extra in (("inventory.exe hung", {"inventory": "fake"}, {"FAKE_PROBE_INVENTORY": "spawn-hang"}),
                                  ("fennel hung", {"fennel": "fake"}, {"FAKE_PROBE_FENNEL": "spawn-hang"})):
            with self.subTest(name):
                folder = staged(fake)
                started = time.monotonic()
                error = self.failure(self.api.InventoryTimeout, extra, bin_dir=folder, limit=3)
                self.assertEqual(error.limit, 3)
                self.assertLess(time.monotonic() - started, 3 + 2 * 5 + 5)
                self.assertEqual(still_running(folder), [])
        # On Windows the package ends inventory.exe alone: its jobs end the probes it started.
        folder = staged({"fennel": "fake"})
        process = subprocess.Popen([harness.WINE, os.path.join(folder, "inventory.exe"), "--json"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   env=harness.wine_env(machine.PREFIX, machine.DISPLAY, None,
                                                        {"FAKE_PROBE_FENNEL": "spawn-hang"}))
        for _ in range(100):  # until the hung probe's grandchild runs
            if any("--fake hang" in line for line in still_running(folder)):
                break
            time.sleep(0.2)
        else:
            self.fail("the hung probe's grandchild never started")
        process.kill()
        process.wait()
        self.assertEqual(still_running(folder), [])

    def test_the_arguments_are_checked_before_a_run(self):
        for options, wanted in (({"needs": "d3d12"}, TypeError), ({"needs": [12]}, TypeError),
                                ({"timeout": "30"}, TypeError), ({"timeout": True}, TypeError),
                                ({"timeout": float("nan")}, ValueError), ({"limit": 0}, ValueError),
                                ({"timeout": -1}, ValueError), ({"timeout": 0, "limit": 10}, ValueError),
                                ({"user_choice": "false"}, TypeError),
                                ({"launcher": "wine"}, TypeError), ({"prefer": None}, TypeError)):
            with self.subTest(options=options), self.assertRaises(wanted):
                self.api.take_inventory(bin_dir=os.path.join(self.work, "none"), **options)
        self.assertEqual(self.api.worst_case_seconds(30), 34 * 35)  # the docs' formula with 64 adapters
        self.assertEqual(self.api.worst_case_seconds(10, adapters=1), 2 * 15)

    def test_a_hung_run_is_ended_as_each_system_needs(self):
        """A stand-in Popen for an inventory.exe that never ends: on Windows it alone is killed,
        its output left to the thread reading it;
        elsewhere its process group is killed and the output closed."""
        from gpu_inventory import _command, _run

        class HungProcess:
            def __init__(self, command, **options):
                self.options, self.pid, self.returncode = options, 4321, None
                self.stdout, self.stderr, self.killed = mock.Mock(), mock.Mock(), threading.Event()
                self.kill = mock.Mock(side_effect=self.killed.set)
                started.append(self)

            def communicate(self, timeout=None):
                if not self.killed.wait(timeout):  # no timeout: the reading thread, until the kill
                    raise subprocess.TimeoutExpired("inventory.exe", timeout)
                return b"", b""

            def wait(self, timeout=None):
                return 1

        for windows in (True, False):
            started = []
            with self.subTest(windows=windows), mock.patch.object(_run.subprocess, "Popen", HungProcess), \
                    mock.patch.object(_run.os, "killpg") as killpg, mock.patch.object(_run, "ENDING_GRACE", 0.5):
                begun = time.monotonic()
                with self.assertRaises(self.api.InventoryTimeout):
                    _run._run(["inventory.exe"], 0.6, windows=windows)
                self.assertGreaterEqual(time.monotonic() - begun, 0.6)
                [process] = started
                pipes = {"stdin": subprocess.DEVNULL, "stdout": subprocess.PIPE, "stderr": subprocess.PIPE}
                if windows:
                    self.assertEqual(process.options, dict(pipes, creationflags=0x08000000))  # CREATE_NO_WINDOW
                    process.kill.assert_called_once_with()
                    killpg.assert_not_called()
                    process.stdout.close.assert_not_called()  # its reader holds it: closing would wait
                else:
                    self.assertEqual(process.options, dict(pipes, start_new_session=True))
                    killpg.assert_called_once_with(4321, signal.SIGKILL)
                    process.kill.assert_not_called()
                    process.stdout.close.assert_called_once_with()  # the kill left it open here
        for code, windows, status in ((0xC0000005, True, -1073741819), (0xC000013A, True, -1073741510),
                                      (0x80000000, True, -2 ** 31), (0xFFFFFFFF, True, -1), (2, True, 2),
                                      (0x7FFFFFFF, True, 0x7FFFFFFF), (-9, False, 137), (1, False, 1)):
            self.assertEqual(_command.exit_status(code, windows), status, hex(code))

    def test_the_memory_a_program_has_in_the_table_s_words(self):
        from gpu_inventory import _document
        answer = document(harness.bin_dir())[0]
        gib, mib = 1 << 30, 1 << 20
        # (integrated, uma, freeDedicatedMemory, the state's two budgets, the need, the words)
        for integrated, uma, free, budgets, need, words in (
                (False, False, 3 * gib, (None, None), 4 * gib, "3.0 GiB of memory for a program, less than the 4.0 GiB"),
                (False, None, None, (None, None), 4 * gib + 1, "8.0 GiB of memory for a program, less than the 4.1 GiB"),
                (True, None, 50 * mib, (3 * gib, gib // 2), 4 * gib, "3.5 GiB of memory for a program, less than the 4.0 GiB"),
                (False, True, 50 * mib, (gib - 1, 0), gib, "1023 MiB of memory for a program, less than the 1.0 GiB"),
                (True, False, 100 * mib + 1, (3 * gib, gib), gib, "100 MiB of memory for a program, less than the 1.0 GiB"),
                (True, None, None, (3 * gib, None), 4 * gib - 1, "8.0 GiB of memory for a program, less than the 4.0 GiB"),
                (True, True, None, (1000, 23), 1025, "1023 bytes of memory for a program, less than the 2 KiB")):
            with self.subTest(integrated=integrated, uma=uma, budgets=budgets):
                changed = json.loads(json.dumps(answer))
                entry = changed["adapters"][0]
                entry["adapter"].update(isIntegratedGpu=integrated, dedicatedVideoMemory=8 * gib)
                entry["freeDedicatedMemory"] = free
                entry["state"] = dict(entry["state"] or {}, localBudget=budgets[0], nonLocalBudget=budgets[1])
                entry["capabilities"]["d3d12"]["uma"] = uma
                changed["pick"].update(needs=["memory=%d" % need], adapter=None, because=None, candidates=[
                    {"adapter": 0, "eligible": False, "reasons": ["notEnoughMemory"]}])
                self.assertEqual(_document.read_inventory(changed).pick.explain().splitlines()[1],
                                 "Passed over: %s (%s): %s needed" % (entry["adapter"]["name"],
                                                                      read_luid(entry), words))
        for path, value in ((("state", "localBudget"), []), (("state", "nonLocalBudget"), "x"),
                            (("capabilities", "d3d12", "uma"), "no"), (("capabilities", "d3d11", "featureLevel"), 11),
                            (("adapter", "luidLowPart"), True), (("adapter", "luidHighPart"), 2 ** 31),
                            (("freeDedicatedMemory",), 1.5), (("adapter", "name"), None)):
            with self.subTest(path=path):
                changed = json.loads(json.dumps(answer))
                part = changed["adapters"][0]
                for key in path[:-1]:
                    part = part[key]
                part[path[-1]] = value
                with self.assertRaises(self.api.InvalidDocument):
                    _document.read_inventory(changed)
        for text in (b"[" * 100000 + b"]" * 100000, b'{"schema":2,"schema":2}', b'{"schema":NaN}', b"\xff",
                     b'{"schema":2.0}', b'{"schema":true}'):
            with self.subTest(text=text[:20]), self.assertRaises(self.api.InvalidDocument):
                _document.parse_output(text)

    def test_a_luid_as_windows_holds_it(self):
        for low, high, value in ((0, 0, 0), (1008, 0, 1008), (4294967295, -7, -6 * 2 ** 32 - 1),
                                 (0, -2 ** 31, -2 ** 63), (4294967295, 2 ** 31 - 1, 2 ** 63 - 1), (5, 1, 2 ** 32 + 5)):
            with self.subTest(low=low, high=high):
                luid = self.api.Luid(low, high)
                self.assertEqual((int(luid), str(luid)), (value, "%d:%d" % (low, high)))
                self.assertEqual(self.api.Luid.from_int(value), luid)
        for value in (2 ** 63, -2 ** 63 - 1):
            with self.assertRaises(ValueError):
                self.api.Luid.from_int(value)

    def test_the_command_passes_inventory_through(self):
        python = os.path.join(self.environment, "bin", "python")
        env = harness.wine_env(machine.PREFIX, machine.DISPLAY, None, {"GPU_INVENTORY_LAUNCHER": harness.WINE})
        for command, code, out, err in (
                ([python, "-m", "gpu_inventory", "--version"], 0, "inventory %s\n" % os.environ["PROBES_VERSION"], ""),
                ([os.path.join(self.environment, "bin", "gpu-inventory"), "--prefer", "fast"], 2, "",
                 "inventory: --prefer needs high-performance or minimum-power"),
                ([python, "-m", "gpu_inventory", "--json", "--need", "d3d12"], 0, '{"schema":2,', "")):
            with self.subTest(command=command[1:]):
                completed = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                           timeout=300)
                self.assertEqual(completed.returncode, code, completed.stderr)
                self.assertTrue(completed.stdout.decode().startswith(out), completed.stdout[:200])
                self.assertTrue(completed.stderr.decode().startswith(err), completed.stderr[:200])
                if code == 0 and out.startswith("{"):
                    harness.parse_document(completed.stdout, "inventory")
        env["GPU_INVENTORY_LAUNCHER"] = os.path.join(self.work, "no-wine")
        completed = subprocess.run([python, "-m", "gpu_inventory"], env=env, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(completed.returncode, 1)
        self.assertRegex(completed.stderr.decode(), "^gpu-inventory: .*no-wine could not be started")


if __name__ == "__main__":
    unittest.main()
