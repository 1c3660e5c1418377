"""inventory.exe under Wine: the real probes on the real adapter, a test-only OpenCL.dll that
matches it, and a stand-in probe (tests/fakes/fake_probe.cpp) for every verdict, in a folder
whose name has spaces; Windows' graphics settings written into the prefix's registry."""

import contextlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import harness

FENNEL = ('{"schema":1,"dxcoreAvailable":false,"adapters":['
          '{"index":0,"name":"Fake GPU","vendorId":4318,"deviceId":1,"dedicatedVideoMemory":8589934592,'
          '"luidLowPart":4294967295,"luidHighPart":-7,"isIntegratedGpu":false}]}')
DEVICE = ('{"vkIndex":%d,"name":"%s","vendorId":4318,"deviceId":1,"deviceLuidValid":true,'
          '"luidLowPart":4294967295,"luidHighPart":-7,"apiVersion":"1.3.0","driverVersionRaw":1,'
          '"driverVersionFormatted":"0.0.0.1"}')
LAYERED = "Microsoft Direct3D12 (Fake GPU)"  # a translation layer's device: no driverId, this name
QUARRY = '{"schema":2,"devices":[%s,%s]}' % (DEVICE % (1, LAYERED), DEVICE % (0, "Native"))
NO_MATCH = ('{"schema":1,"matched":false,"reason":"no_match","platformCount":1,'
            '"d3d11SharingPlatforms":0,"luidExtDevices":0}')
BRINDLE_ERROR = '{"schema":1,"matched":false,"error":{"code":"%s","message":"m"}}'
# Beside Fake GPU an integrated one, first for minimum power by the rule, with a device of its own.
IGPU = ('{"index":1,"name":"Fake iGPU","vendorId":32902,"deviceId":2,"dedicatedVideoMemory":134217728,'
        '"luidLowPart":5,"luidHighPart":0,"isIntegratedGpu":true}')
FENNEL_TWO = FENNEL.replace("}]}", "}," + IGPU + "]}")
QUARRY_TWO = '{"schema":2,"devices":[%s,%s]}' % (
    DEVICE % (0, "Native"), (DEVICE % (1, "Integrated")).replace('"luidLowPart":4294967295,"luidHighPart":-7',
                                                               '"luidLowPart":5,"luidHighPart":0'))
# A stand-in tansy that crashes over every adapter and on the adapter with low part 5, and
# answers for any other LUID.
CAPABILITIES = ('{"luidLowPart":{low},"luidHighPart":{high},"dxgiOrdinal":0,"software":false,'
                '"d3d11":{"result":"0x00000000","featureLevel":"11_1"},"d3d12":{"result":"0x00000000",'
                '"featureLevel":"12_1","shaderModel":"6.6","resourceBindingTier":3,"uma":false,"cacheCoherentUma":false,'
                '"native16BitShaderOps":true,"waveOps":true}}')
TANSY_PER_LUID = ('per-luid 5 {"schema":1,"dxcoreAvailable":false,"adapters":[%s],"computeAdapters":[]}'
                  % CAPABILITIES)
PREFERENCES = r"HKCU\Software\Microsoft\DirectX\UserGpuPreferences"
TIMEOUT = 5  # long enough for a loaded machine to start a stand-in, short enough to wait for
# The README's example built through the installed package, FetchContent and add_subdirectory.
EXAMPLES = os.environ["PROBES_EXAMPLES"].split(os.pathsep)
EXAMPLE = EXAMPLES[0]


def setUpModule(prefix_name="inventory"):
    global XVFB, DISPLAY, PREFIX, ADAPTER, DEVICES, STATE, CAPABILITIES_HERE, DXGI_INDEX
    XVFB, DISPLAY = harness.start_xvfb()
    PREFIX = harness.make_prefix(prefix_name, DISPLAY)
    env = harness.wine_env(PREFIX, DISPLAY)
    ADAPTER = harness.parse_document(harness.run(harness.exe("fennel.exe"), env=env)[0], "fennel")["adapters"][0]
    DEVICES = harness.parse_document(harness.run(harness.exe("quarry.exe"), env=env)[0], "quarry")["devices"]
    STATE = harness.parse_document(harness.run(harness.exe("sorrel.exe"), env=env)[0], "sorrel")["adapters"][0]
    CAPABILITIES_HERE = harness.parse_document(harness.run(harness.exe("tansy.exe"), env=env)[0], "tansy")["adapters"][0]
    # The adapter's position in the DXGI order of a program without hints.
    out, code, _ = harness.run(os.path.join(harness.tools_dir(), "dxgi_list.exe"), env=env)
    assert code == 0, out
    luids = [tuple(int(n) for n in line.split("\t")[4:6]) for line in out.decode("utf-8").splitlines()]
    DXGI_INDEX = luids.index((ADAPTER["luidLowPart"], ADAPTER["luidHighPart"]))


def tearDownModule():
    harness.stop_wineserver(PREFIX)
    harness.stop_xvfb(XVFB)


def inventory(folder, *args, overrides=None, extra=None, cwd=None):
    """Runs inventory.exe from the folder; returns (stdout text, exit code, stderr, seconds)."""
    started = time.monotonic()
    out, code, err = harness.run(os.path.join(folder, "inventory.exe"), args,
                                 env=harness.wine_env(PREFIX, DISPLAY, overrides, extra), cwd=cwd)
    return out.decode("utf-8"), code, err, time.monotonic() - started


def document(folder, *args, **kwargs):
    out, code, err, _ = inventory(folder, "--json", *args, **kwargs)
    return harness.parse_document(out.encode("utf-8"), "inventory"), code


def staged(fake=(), dll_dirs=(), folder_name="inventory with spaces "):
    """inventory.exe and the probes in a fresh folder with spaces in its name; the probes named
    in fake are the stand-in instead, one left out when None."""
    folder = tempfile.mkdtemp(prefix=folder_name, dir=harness.work_dir())
    for name in ("inventory", "fennel", "quarry", "brindle", "sorrel", "tansy"):
        if name in fake:
            if fake[name] is not None:
                shutil.copy(os.path.join(harness.fakes_dir(), "fake_probe.exe"),
                            os.path.join(folder, name + ".exe"))
        else:
            shutil.copy(harness.exe(name + ".exe"), folder)
    for dll_dir in dll_dirs:
        for name in os.listdir(dll_dir):
            shutil.copy(os.path.join(dll_dir, name), folder)
    return folder


def still_running(folder):
    """The processes whose command line names the folder (as Linux or as Wine names it), after
    a moment to wind down."""
    for _ in range(20):
        found = [line for line in subprocess.run(["ps", "-eo", "args"], stdout=subprocess.PIPE,
                                                 text=True).stdout.splitlines()
                 if folder in line or windows_path(folder) in line]
        if not found:
            break
        time.sleep(0.1)
    return found


def run_summary(run):
    return (run["outcome"], run["exitCode"], run.get("problem", ""))


def windows_path(path):
    """The path as a program under Wine names it: / is drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def reg(*args):
    """Wine's reg.exe, by its full path."""
    out, code, err = harness.run(r"C:\windows\system32\reg.exe", [*args, "/f"], env=harness.wine_env(PREFIX),
                                 timeout=60)
    assert code == 0, out + err


@contextlib.contextmanager
def graphics_settings(values):
    """Windows' graphics settings, {value name: text}, in the prefix's registry while it lasts."""
    written = []
    try:
        for name, text in values.items():
            reg("add", PREFERENCES, "/v", name, "/t", "REG_SZ", "/d", text)
            written.append(name)
        yield
    finally:
        for name in written:
            reg("delete", PREFERENCES, "/v", name)


def adapter_text(adapter):
    return "%s (%d:%d)" % (adapter["name"], adapter["luidLowPart"], adapter["luidHighPart"])


# The stand-ins that make up a machine with the made-up adapters; sorrel stays the real one.
STAND_INS = {"fennel": "fake", "quarry": "fake", "brindle": "fake", "tansy": "fake"}
FAKE_GPU, IGPU_LUID, BASIC_RENDER_LUID = (4294967295, -7), (5, 0), (9, 0)


def tansy_of(*luids, changes=None):
    """A tansy document with CAPABILITIES for each LUID; changes: {LUID: (text, replacement)}."""
    adapters = []
    for low, high in luids:
        text = CAPABILITIES.replace("{low}", str(low)).replace("{high}", str(high))
        if changes and (low, high) in changes:
            text = text.replace(*changes[(low, high)])
        adapters.append(text)
    return '{"schema":1,"dxcoreAvailable":false,"adapters":[%s],"computeAdapters":[]}' % ",".join(adapters)


class RealProbesTest(unittest.TestCase):
    def test_real_adapter_joined_with_honest_reasons(self):
        result, code = document(harness.bin_dir())  # --bin defaults to inventory.exe's folder
        self.assertEqual(code, 0)
        self.assertEqual((result["fennel"]["outcome"], result["quarry"]["outcome"]), ("answered", "answered"))
        [entry] = result["adapters"]
        self.assertEqual(entry["adapter"], ADAPTER)
        self.assertEqual(entry["vulkanDevices"], [])  # lavapipe reports no LUID
        self.assertEqual((entry["kind"], entry["preferredVulkanDevice"]), ("hardware", None))
        self.assertEqual(result["otherVulkanDevices"], [{"kind": "software", "device": d} for d in DEVICES])
        self.assertEqual(result["vulkanFrom"], "quarry")  # a healthy machine: one quarry run
        self.assertNotIn("quarryWithoutImplicitLayers", result)
        self.assertEqual(entry["brindle"]["document"]["reason"], "no_match")
        # Wine's adapter has both ranks and no usage counters.
        self.assertEqual(result["sorrel"]["outcome"], "answered")
        self.assertEqual((entry["state"], entry["freeDedicatedMemory"]), (STATE, None))
        self.assertEqual(result["order"], {"highPerformance": [0], "minimumPower": [0], "from": "windows"})
        # tansy's Direct3D devices on Wine's adapter; no DXCore, so no compute-only adapter.
        self.assertEqual((result["tansy"]["outcome"], entry["capabilities"]), ("answered", CAPABILITIES_HERE))
        self.assertNotIn("tansyPerAdapter", result)
        self.assertEqual(result["computeAdapters"], [])
        text, code, err, _ = inventory(harness.bin_dir())
        self.assertEqual((code, err), (0, b""))
        name = adapter_text(ADAPTER)
        for expected in ("High performance: %s; minimum power: %s (Windows' preference)\n" % (name, name),
                         ADAPTER["name"], "%d:%d" % (ADAPTER["luidLowPart"], ADAPTER["luidHighPart"]),
                         "no Vulkan device with this LUID: 1 Vulkan device, none with a valid LUID",
                         "no OpenCL device for this adapter: 1 platform, 0 with Direct3D 11 sharing, "
                         "0 GPU devices with a LUID", "Vulkan device of no DXGI adapter: #0 llvmpipe",
                         "  %s, shader model %s  " % (CAPABILITIES_HERE["d3d12"]["featureLevel"],
                                                      CAPABILITIES_HERE["d3d12"]["shaderModel"]),
                         "\nCompute-only adapters unknown: no DXCore on this system\n"):
            self.assertIn(expected, text)

    def test_the_pick_for_the_needs_given(self):
        name = adapter_text(ADAPTER)
        result, code = document(harness.bin_dir())
        self.assertEqual((code, result["pick"]), (0, {
            "prefer": "highPerformance", "userChoice": True, "needs": [], "adapter": 0, "because": "windowsOrder",
            "candidates": [{"adapter": 0, "eligible": True, "reasons": []}]}))
        # lavapipe's device has no LUID: Wine's adapter has no Vulkan device of its own.
        result, code = document(harness.bin_dir(), "--need", "vulkan", "--prefer", "minimum-power", "--need", "d3d12",
                                "--ignore-user-choice")
        self.assertEqual((code, result["pick"]), (0, {
            "prefer": "minimumPower", "userChoice": False, "needs": ["d3d12", "vulkan"], "adapter": None,
            "because": None, "candidates": [{"adapter": 0, "eligible": False, "reasons": ["noVulkanDevice"]}]}))
        for args, opening in (
                (["--need", "vulkan"], "Pick: none: no adapter meets the needs vulkan\nPassed over: %s: no Vulkan device\n"
                 % name),
                (["--need", "d3d12=11_0", "--need", "memory=1KiB"],
                 "Pick: %s: first in Windows' high-performance order that meets the needs memory=1024, d3d12=11_0\n"
                 % name)):
            with self.subTest(args=args):
                text, code, err, _ = inventory(harness.bin_dir(), *args)
                self.assertEqual((code, err), (0, b""))
                self.assertEqual(text[:len(opening)], opening)

    def test_test_only_runtime_gives_a_match(self):
        folder = staged(dll_dirs=[os.path.join(harness.fakes_dir(), "opencl-full")])
        luid = "%d:%d" % (ADAPTER["luidLowPart"], ADAPTER["luidHighPart"])
        extra = {"FAKE_OPENCL_SCENARIO": "luid", "FAKE_OPENCL_LUID": luid}
        text, code, _, _ = inventory(folder, "--sequential", overrides="opencl,dxcore=n,b", extra=extra)
        self.assertEqual(code, 0)
        self.assertIn("Fake LUID CL / Fake LUID GPU (#1, by luid)", text)

    def test_the_graphics_settings_of_the_program_named(self):
        program = r"C:\Games\python.exe"
        ids = "%04X&%04X&00000000" % (ADAPTER["vendorId"], ADAPTER["deviceId"])
        where = " in Windows' graphics settings"
        shown = where + ": " + adapter_text(ADAPTER)
        global_setting = "SwapEffectUpgradeEnable=1;"
        with graphics_settings({"DirectXUserGlobalSettings": global_setting}):
            for setting, preference, chosen, line in (
                    ("GpuPreference=2;", "highPerformance", 0, "High performance" + shown),
                    ("GpuPreference=1;", "minimumPower", 0, "Power saving" + shown),
                    ("SpecificAdapter=%s;GpuPreference=1;" % ids, "specificAdapter", 0, "the GPU " + ids + shown),
                    ("SpecificAdapter=1002&73BF&00000000;", "specificAdapter", None,
                     "the GPU 1002&73BF&00000000" + where + ", which no single adapter here has")):
                with self.subTest(setting=setting), graphics_settings({program: setting}):
                    result, code = document(harness.bin_dir(), "--program", program)
                    self.assertEqual(code, 0)
                    self.assertEqual(result["graphicsSettings"], {
                        "program": program, "preference": preference, "setting": setting,
                        "globalSetting": global_setting, "highPerformanceAdapter": None, "chosenAdapter": chosen})
                    text, code, _, _ = inventory(harness.bin_dir(), "--program", program)
                    self.assertEqual(code, 0)
                    self.assertIn("\npython.exe is set to " + line + "\n", text)

    def test_the_program_named_by_another_form_of_its_long_full_path(self):
        # Windows keeps the value under the long full path; the global setting names the adapter
        # as Windows' high-performance one.
        folder = os.path.join(PREFIX, "drive_c", "Long Program Folder")
        os.makedirs(folder, exist_ok=True)
        open(os.path.join(folder, "long program name.exe"), "wb").close()
        program = r"C:\Long Program Folder\long program name.exe"
        # Its short path, from the folder itself: no argument with a space, which Wine would quote.
        out, code, _ = harness.run(r"C:\windows\system32\cmd.exe", ["/c", "for", "%I", "in", "(*.exe)", "do", "@echo",
                                                                    "%~fsI"], env=harness.wine_env(PREFIX), cwd=folder)
        short = out.decode().strip()
        self.assertEqual(code, 0)
        self.assertRegex(short, r"^C:\\[^ \\]+~[^ \\]+\\")  # the folder by its 8.3 name
        global_setting = "HighPerfAdapter=%04X&%04X&00000000;" % (ADAPTER["vendorId"], ADAPTER["deviceId"])
        try:
            with graphics_settings({"DirectXUserGlobalSettings": global_setting, program: "GpuPreference=2;"}):
                for given in (short, r"C:\Long Program Folder\sub\..\long program name.exe",
                              "C:/Long Program Folder/long program name.exe"):
                    with self.subTest(given=given):
                        result, code = document(harness.bin_dir(), "--program", given)
                        self.assertEqual(code, 0)
                        self.assertEqual(result["graphicsSettings"], {
                            "program": program, "preference": "highPerformance", "setting": "GpuPreference=2;",
                            "globalSetting": global_setting, "highPerformanceAdapter": 0, "chosenAdapter": 0})
        finally:
            shutil.rmtree(folder)

    def test_by_default_the_program_that_started_inventory(self):
        # A stand-in python.exe in a folder named with a non-ASCII letter starts inventory.exe.
        folder = staged(folder_name="Grafik-Pr\u00fcfung ")
        parent = os.path.join(folder, "python.exe")
        shutil.copy(os.path.join(harness.fakes_dir(), "fake_probe.exe"), parent)
        with graphics_settings({windows_path(parent): "GpuPreference=1;"}):
            out, code, err = harness.run(parent, ["--fake", "run", windows_path(os.path.join(folder, "inventory.exe")),
                                                  "--json"], env=harness.wine_env(PREFIX, DISPLAY))
        self.assertEqual((code, err), (0, b""))
        settings = harness.parse_document(out, "inventory")["graphicsSettings"]
        self.assertEqual((settings["program"], settings["preference"], settings["chosenAdapter"]),
                         (windows_path(parent), "minimumPower", 0))


class LibraryExampleTest(unittest.TestCase):
    def test_the_readme_example_builds_and_runs(self):
        root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
        with open(os.path.join(root, "inventory", "example", "pick_gpu.cpp")) as f:
            source = f.read()
        with open(os.path.join(root, "README.md")) as f:
            readme = f.read()
        self.assertIn("```cpp\n" + source + "```\n", readme)
        out, code, _ = harness.run(EXAMPLE, [harness.bin_dir()],
                                   env=harness.wine_env(PREFIX, DISPLAY))
        self.assertEqual(code, 0)
        # This process's DXGI index of the adapter is a plain program's: the example exports no hint.
        self.assertEqual(out.decode().splitlines(), [
            "picked %s (windowsOrder), LUID %d:%d, DXGI index here: %d, Vulkan device: none"
            % (ADAPTER["name"], ADAPTER["luidLowPart"], ADAPTER["luidHighPart"], DXGI_INDEX)])
        # Stand-ins: tansy knows only Fake GPU, whose Vulkan device the pick names; sorrel ranks
        # only Wine's adapter, so the order is the rule's; DXGI here has no adapter with the
        # made-up LUID. The folder's name reaches the library whole.
        folder = staged(STAND_INS, folder_name="Grafik-Pr\u00fcfung ")
        extra = {"FAKE_PROBE_FENNEL": "say 0 " + FENNEL_TWO, "FAKE_PROBE_QUARRY": "say 0 " + QUARRY_TWO,
                 "FAKE_PROBE_BRINDLE": "say 0 " + NO_MATCH, "FAKE_PROBE_TANSY": "say 0 " + tansy_of(FAKE_GPU)}
        for example in EXAMPLES:
            with self.subTest(example=example):
                out, code, _ = harness.run(example, [folder], env=harness.wine_env(PREFIX, DISPLAY, None, extra))
                self.assertEqual(code, 0, out)
                self.assertEqual(out.decode().splitlines(), [
                    "passed over Fake iGPU: capabilitiesUnknown",
                    "picked Fake GPU (ruleOrder), LUID 4294967295:-7, DXGI index here: none, Vulkan device: Native"])

    def test_the_example_takes_the_gpu_chosen_for_it(self):
        # Without a choice it would pick Fake GPU, first for high performance; the setting is the
        # example's own, the program whose settings the library reads by default.
        folder = staged(STAND_INS, folder_name="Grafik-Pr\u00fcfung ")
        extra = {"FAKE_PROBE_FENNEL": "say 0 " + FENNEL_TWO, "FAKE_PROBE_QUARRY": "say 0 " + QUARRY_TWO,
                 "FAKE_PROBE_BRINDLE": "say 0 " + NO_MATCH, "FAKE_PROBE_TANSY": "say 0 " + tansy_of(FAKE_GPU, IGPU_LUID)}
        for setting, name, device, luid in (("GpuPreference=1;", "Fake iGPU", "Integrated", "5:0"),
                                            ("GpuPreference=2;", "Fake GPU", "Native", "4294967295:-7")):
            with self.subTest(setting=setting), \
                    graphics_settings({windows_path(EXAMPLE): setting}):
                out, code, _ = harness.run(EXAMPLE, [folder],
                                           env=harness.wine_env(PREFIX, DISPLAY, None, extra))
                self.assertEqual(code, 0, out)
                self.assertEqual(out.decode().splitlines(), [
                    "picked %s (userChoice), LUID %s, DXGI index here: none, Vulkan device: %s" % (name, luid, device)])

    def test_the_example_looks_beside_itself_not_in_the_current_directory(self):
        # Run from the probes' folder, it still looks in its own, which has no fennel.exe.
        out, code, _ = harness.run(EXAMPLE, env=harness.wine_env(PREFIX, DISPLAY),
                                   cwd=harness.bin_dir())
        self.assertEqual(code, 1, out)
        self.assertRegex(out.decode(), r"^no adapter list: couldNotStart .*\\inventory-example-package\\fennel\.exe: "
                                       r".*\(error 2\)\r?\n$")


# Beside Fake GPU and Fake iGPU, the Basic Render Driver: a software adapter that a user can pick.
BASIC_RENDER = ('{"index":2,"name":"Microsoft Basic Render Driver","vendorId":5140,"deviceId":140,'
                '"dedicatedVideoMemory":0,"luidLowPart":9,"luidHighPart":0,"isIntegratedGpu":false}')
FENNEL_THREE = FENNEL_TWO.replace("}]}", "}," + BASIC_RENDER + "]}")
# What the plain Python sample prints for each user's choice for python, with those three
# and what tansy says of each: (setting, tansy's document, standard output, standard error).
TANSY_ALL = tansy_of(FAKE_GPU, IGPU_LUID, BASIC_RENDER_LUID)
OLD_IGPU = {IGPU_LUID: ('"shaderModel":"6.6"', '"shaderModel":"6.0"')}
TANSY_OLD_IGPU = tansy_of(FAKE_GPU, IGPU_LUID, BASIC_RENDER_LUID, changes=OLD_IGPU)
TANSY_NONE = tansy_of(FAKE_GPU, IGPU_LUID, BASIC_RENDER_LUID,
                      changes={**OLD_IGPU, FAKE_GPU: ('"featureLevel":"12_1"', '"featureLevel":"11_1"')})
SOFTWARE = "passed over Microsoft Basic Render Driver: software\n"
PYTHON_PICKS = [
    (None, TANSY_ALL, "LUID 4294967295:-7", SOFTWARE),                     # the rule: not integrated first
    ("GpuPreference=1;", TANSY_ALL, "LUID 5:0", SOFTWARE),                 # power saving: the integrated one
    ("SpecificAdapter=8086&0002&00000000;GpuPreference=1073741824;", TANSY_ALL, "LUID 5:0", SOFTWARE),
    ("SpecificAdapter=1414&008C&00000000;", TANSY_ALL, "LUID 4294967295:-7", SOFTWARE),  # software: never
    # The user's choice below a need is passed over, with its reason.
    ("GpuPreference=1;", TANSY_OLD_IGPU, "LUID 4294967295:-7", "passed over Fake iGPU: shaderModelBelow\n" + SOFTWARE),
    (None, TANSY_NONE, "no GPU: running on the CPU",
     "passed over Fake GPU: direct3d12LevelBelow\npassed over Fake iGPU: shaderModelBelow\n" + SOFTWARE),
]


def machine_of_three(tansy):
    """The stand-ins' variables for Fake GPU, Fake iGPU and the Basic Render Driver, with that tansy."""
    return {"FAKE_PROBE_FENNEL": "say 0 " + FENNEL_THREE, "FAKE_PROBE_QUARRY": "say 0 " + QUARRY_TWO,
            "FAKE_PROBE_BRINDLE": "say 0 " + NO_MATCH, "FAKE_PROBE_TANSY": "say 0 " + tansy}


ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# Every Python sample of the README and the docs, by its tag, each run below.
SAMPLES = {"pick": "README.md", "example": "docs/python.md", "subprocess": "docs/python.md"}


def python_sample(tag):
    with open(os.path.join(ROOT, SAMPLES[tag])) as f:
        [sample] = re.findall(r"\n```python %s\n(.*?)```\n" % tag, f.read(), re.S)
    return sample


class PythonSampleTest(unittest.TestCase):
    def test_every_python_sample_is_one_of_those_run(self):
        for page in ["README.md"] + ["docs/" + name for name in sorted(os.listdir(os.path.join(ROOT, "docs")))]:
            with open(os.path.join(ROOT, page)) as f:
                tags = re.findall(r"\n```python *(.*)\n", f.read())
            self.assertEqual([tag for tag in tags if SAMPLES.get(tag) != page], [], page)

    def setUp(self):
        self.sample = python_sample("subprocess")
        self.work = tempfile.mkdtemp(prefix="python-sample-", dir=harness.work_dir())
        # The sample's process as Windows sees it: a stand-in python.exe that starts, under
        # Wine, what the sample starts, so that the user's choice for it is the one read.
        self.python = os.path.join(self.work, "python.exe")
        shutil.copy(os.path.join(harness.fakes_dir(), "fake_probe.exe"), self.python)

    def python_script(self, name, body):
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            f.write("#!%s\n%s" % (sys.executable, body))
        os.chmod(path, 0o755)
        return path

    def under_wine(self, folder):
        """For the sample, the folder's inventory.exe started under Wine by the stand-in python.exe."""
        return self.python_script("inventory-" + os.path.basename(folder), "import os, sys\nos.execv(%r, [%r, %r, '--fake', 'run', %r] + sys.argv[1:])\n"
                                  % (harness.WINE, harness.WINE, self.python,
                                     windows_path(os.path.join(folder, "inventory.exe"))))

    def pick(self, program, extra=None, sample=None):
        """What the sample (the plain one, or the one given) prints, given that program."""
        script = os.path.join(self.work, "pick_adapter.py")
        with open(script, "w") as f:
            f.write(sample or self.sample)
        completed = subprocess.run([sys.executable, script, program], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=harness.wine_env(PREFIX, DISPLAY, None, extra or {}),
                                   timeout=300)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        return completed.stdout.decode(), completed.stderr.decode()

    def test_the_plain_sample_takes_the_pick_for_its_needs(self):
        folder = staged(STAND_INS)
        for setting, tansy, picked, passed_over in PYTHON_PICKS:
            extra = machine_of_three(tansy)
            with self.subTest(setting=setting, picked=picked), \
                    graphics_settings({windows_path(self.python): setting} if setting else {}):
                self.assertEqual(self.pick(self.under_wine(folder), extra), (picked + "\n", passed_over))

    def test_without_an_adapter_list_the_sample_goes_on_without_a_gpu(self):
        folder = staged({"fennel": "fake"})
        hang = self.python_script("hang", "import time\ntime.sleep(60)\n")
        quick = self.sample.replace("\nWHOLE_LIMIT = 120 ", "\nWHOLE_LIMIT = 1 ")
        self.assertNotEqual(quick, self.sample)
        for name, program, extra, sample, said in (
                ("fennel crashed", self.under_wine(folder), {"FAKE_PROBE_FENNEL": "crash"}, None,
                 r"^no adapter list: crashed .*0xC0000005"),
                ("no inventory.exe in the folder", self.under_wine(os.path.join(self.work, "none")), None, None,
                 r"^no inventory \(exit code \d+\)"),
                ("inventory.exe not there", os.path.join(self.work, "none.exe"), None, None,
                 r"^inventory\.exe could not start: .*No such file"),
                ("inventory.exe hung", hang, None, quick, r"^inventory\.exe took more than 1 s\n$")):
            with self.subTest(name):
                out, err = self.pick(program, extra, sample)
                self.assertEqual(out, "no GPU: running on the CPU\n")
                self.assertRegex(err, said)


# (what quarry does, what brindle does, quarry's (outcome, exit code, problem pattern), brindle's);
# a fourth True: the run printed its whole document and was ended at its time limit.
VERDICTS = [
    ("crash", "say 0 " + NO_MATCH,
     ("crashed", 0xC0000005, "exception 0xC0000005"), ("answered", 0, "^$")),
    ("flood", "say 1 " + BRINDLE_ERROR % "some_future_code",
     ("garbled", None, "more than 1 MiB"), ("failed", 1, "^some_future_code: m$")),
    ("junk", "say 2 " + BRINDLE_ERROR % "invalid_args",
     ("garbled", 0, "not JSON"), ("failed", 2, "^invalid_args: m$")),
    ("silent", "say 1 " + BRINDLE_ERROR % "platform_exited",
     ("garbled", 0, r"no output"), ("crashed", 1, "^platform_exited: m$")),
    ("say 1 " + QUARRY, "say-hang " + NO_MATCH,
     ("garbled", 1, "exit code 1 with a result document"), ("answered", None, "^$", True)),
    ("say 0 " + QUARRY.replace('"schema":2', '"schema":3'), "spawn-hang",
     ("garbled", 0, "schema 3, not 2"), ("timedOut", None, "no answer within %d s" % TIMEOUT)),
    ("say 0 " + QUARRY, "say-spawn " + NO_MATCH,
     ("answered", 0, "^$"), ("answered", 0, "^$")),
    (None, "say 0 " + BRINDLE_ERROR % "dxgi_adapter_not_found",
     ("couldNotStart", None, r"quarry\.exe: .* \(error 2\)"), ("garbled", 0, "exit code 0 with an error")),
]


class VerdictTest(unittest.TestCase):
    def test_every_verdict_of_a_stand_in_probe(self):
        for quarry, brindle, want_quarry, want_brindle in VERDICTS:
            with self.subTest(quarry=str(quarry)[:20], brindle=brindle[:20]):
                folder = staged({"fennel": "fake", "quarry": quarry, "brindle": "fake"})
                extra = {"FAKE_PROBE_FENNEL": "say 0 " + FENNEL, "FAKE_PROBE_BRINDLE": brindle}
                if quarry:
                    extra["FAKE_PROBE_QUARRY"] = quarry
                result, code = document(folder, "--timeout", str(TIMEOUT), extra=extra)
                self.assertEqual(code, 0)
                [entry] = result["adapters"]
                for run, want in ((result["quarry"], want_quarry), (entry["brindle"], want_brindle)):
                    outcome, exit_code, problem = want[:3]
                    ended = want[3:] == (True,)
                    self.assertEqual((run["outcome"], run["exitCode"], run.get("endedAtLimit")),
                                     (outcome, exit_code, True if ended else None), run)
                    self.assertRegex(run.get("problem", ""), problem)
                    if outcome == "timedOut" or ended:  # the timeout is honoured within a second
                        self.assertGreaterEqual(run["seconds"], TIMEOUT)
                        self.assertLess(run["seconds"], TIMEOUT + 1)
                # Run again without implicit layers when it ran and did not answer.
                retried = result["quarry"]["outcome"] not in ("answered", "couldNotStart")
                self.assertEqual("quarryWithoutImplicitLayers" in result, retried)
                if result["quarry"]["outcome"] == "answered":  # both devices on the one LUID
                    self.assertEqual([(d["kind"], d["device"]["name"]) for d in entry["vulkanDevices"]],
                                     [("native", "Native"), ("translation", LAYERED)])
                    self.assertEqual(entry["preferredVulkanDevice"], 0)
                    self.assertLess(entry["brindle"]["seconds"], TIMEOUT)  # the grandchild is not waited for
                self.assertEqual(still_running(folder), [])

    def test_fennel_without_an_answer_is_exit_code_1_with_the_reason(self):
        folder = staged({"fennel": "fake", "quarry": "fake", "brindle": "fake"})
        extra = {"FAKE_PROBE_FENNEL": "spawn-hang", "FAKE_PROBE_QUARRY": "say 0 " + QUARRY}
        result, code = document(folder, "--timeout", str(TIMEOUT), "--sequential", extra=extra)
        self.assertEqual((code, result["fennel"]["outcome"], result["adapters"]), (1, "timedOut", []))
        self.assertEqual([d["device"]["name"] for d in result["otherVulkanDevices"]], ["Native", LAYERED])
        text, code, _, _ = inventory(folder, "--timeout", str(TIMEOUT), extra=extra)
        self.assertEqual(code, 1)
        self.assertIn("DXGI adapters unknown: fennel timed out: no answer within %d s" % TIMEOUT, text)
        self.assertEqual(still_running(folder), [])

    def test_vulkan_past_a_broken_implicit_layer(self):
        # The stand-in crashes unless implicit layers are disabled; the variable that the
        # inventory adds replaces one of the same name that the environment already has.
        folder = staged({"fennel": "fake", "quarry": "fake", "brindle": "fake"})
        extra = {"FAKE_PROBE_FENNEL": "say 0 " + FENNEL, "FAKE_PROBE_QUARRY": "say-without-layers " + QUARRY,
                 "FAKE_PROBE_BRINDLE": "say 0 " + NO_MATCH, "VK_LOADER_LAYERS_DISABLE": "VK_LAYER_other"}
        result, code = document(folder, "--timeout", str(TIMEOUT), extra=extra)
        self.assertEqual(code, 0)
        self.assertEqual(run_summary(result["quarry"])[:2], ("crashed", 0xC0000005))
        self.assertEqual(run_summary(result["quarryWithoutImplicitLayers"]), ("answered", 0, ""))
        self.assertEqual(result["vulkanFrom"], "quarryWithoutImplicitLayers")
        [entry] = result["adapters"]
        self.assertEqual([d["device"]["name"] for d in entry["vulkanDevices"]], ["Native", LAYERED])
        self.assertEqual(entry["preferredVulkanDevice"], 0)
        # (Wine itself reports the stand-in's crash on the terminal's standard error.)
        text, code, _, _ = inventory(folder, "--timeout", str(TIMEOUT), extra=extra)
        self.assertEqual(code, 0)
        self.assertIn("#0 Native (preferred); #1 %s (translation)" % LAYERED, text)
        self.assertIn("A Vulkan layer installed on this machine breaks Vulkan: a program can set "
                      "VK_LOADER_LAYERS_DISABLE=~implicit~ in its own environment", text)

    def test_tansy_once_per_adapter_after_it_crashed_over_every_adapter(self):
        # Two adapters; tansy crashes without a LUID and on the second adapter's (5:0).
        folder = staged({"fennel": "fake", "quarry": "fake", "brindle": "fake", "tansy": "fake"})
        extra = {"FAKE_PROBE_FENNEL": "say 0 " + FENNEL_TWO, "FAKE_PROBE_QUARRY": "say 0 " + QUARRY_TWO,
                 "FAKE_PROBE_BRINDLE": "say 0 " + NO_MATCH, "FAKE_PROBE_TANSY": TANSY_PER_LUID}
        result, code = document(folder, "--timeout", str(TIMEOUT), extra=extra)
        self.assertEqual(code, 0)
        self.assertEqual(run_summary(result["tansy"])[:2], ("crashed", 0xC0000005))
        self.assertEqual([run_summary(r)[:2] for r in result["tansyPerAdapter"]],
                         [("answered", 0), ("crashed", 0xC0000005)])
        first, second = result["adapters"]
        self.assertEqual(first["capabilities"],
                         json.loads(CAPABILITIES.replace("{low}", "4294967295").replace("{high}", "-7")))
        self.assertEqual((second["capabilities"], result["computeAdapters"]), (None, []))
        text, code, _, _ = inventory(folder, "--timeout", str(TIMEOUT), extra=extra)
        self.assertEqual(code, 0)
        self.assertRegex(text, r"\nFake GPU +4294967295:-7 .*  12_1, shader model 6\.6  ")
        self.assertRegex(text, r"\nFake iGPU +5:0 .*  tansy crashed: ended by exception 0xC0000005 without a document  ")
        self.assertIn("\nCompute-only adapters unknown: tansy crashed: ended by exception 0xC0000005", text)
        self.assertEqual(still_running(folder), [])

    def test_a_relative_folder_is_made_full_once(self):
        folder = staged({"fennel": "fake", "quarry": "fake", "brindle": "fake"})
        extra = {"FAKE_PROBE_FENNEL": "say 0 " + FENNEL, "FAKE_PROBE_QUARRY": "say 0 " + QUARRY,
                 "FAKE_PROBE_BRINDLE": "say 0 " + NO_MATCH}
        out, code, _, _ = inventory(folder, "--json", "--bin", os.path.basename(folder),
                                    extra=extra, cwd=os.path.dirname(folder))
        result = harness.parse_document(out.encode("utf-8"), "inventory")
        self.assertEqual(code, 0)
        self.assertEqual([run_summary(r)[0] for r in (result["fennel"], result["quarry"],
                                                      result["adapters"][0]["brindle"])],
                         ["answered"] * 3)

    def test_usage(self):
        for args, code, wanted in ((["--help"], 0, "stdout"), (["--bogus"], 2, "stderr"),
                                   (["--timeout", "soon"], 2, "stderr"), (["--bin"], 2, "stderr"),
                                   (["--program", "python.exe"], 2, "stderr"),
                                   (["--program", "/usr/bin/python3"], 2, "stderr")):
            out, exit_code, err, _ = inventory(harness.bin_dir(), *args)
            self.assertEqual(exit_code, code, args)
            self.assertIn("Usage: inventory", out if wanted == "stdout" else err.decode())
            self.assertEqual(out == "", wanted == "stderr", args)
        # A wrong need or order: the reason, then the usage.
        for args, reason in ((["--need", "d3d12=13_0"], "--need: d3d12 needs a feature level from 11_0 to 12_2"),
                             (["--need", "vulkan", "--need", "vulkan"], "--need: the need vulkan is named twice"),
                             (["--prefer", "fast"], "--prefer needs high-performance or minimum-power")):
            out, exit_code, err, _ = inventory(harness.bin_dir(), *args)
            self.assertEqual((out, exit_code), ("", 2), args)
            self.assertRegex(err.decode(), r"^inventory: %s.*\r?\nUsage: inventory" % re.escape(reason))
        out, exit_code, err, _ = inventory(harness.bin_dir(), "--version")
        self.assertEqual((out, exit_code, err), ("inventory %s\n" % os.environ["PROBES_VERSION"], 0, b""))


if __name__ == "__main__":
    unittest.main()
