"""scripts/inventory.py under Wine: the real adapter with lavapipe and PoCL, a test-only
OpenCL.dll that matches it, and probes that crash or print garbage."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import harness

INVENTORY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                         "inventory.py")


def setUpModule():
    global XVFB, DISPLAY, PREFIX, ADAPTER
    XVFB, DISPLAY = harness.start_xvfb()
    PREFIX = harness.make_prefix("inventory", DISPLAY)
    out, _, _ = harness.run(harness.exe("fennel.exe"), env=harness.wine_env(PREFIX, DISPLAY))
    ADAPTER = harness.parse_document(out, "fennel")["adapters"][0]


def tearDownModule():
    harness.stop_wineserver(PREFIX)
    harness.stop_xvfb(XVFB)


def inventory(bin_dir, *args, overrides=None, extra=None):
    env = harness.wine_env(PREFIX, DISPLAY, overrides, extra)
    done = subprocess.run([sys.executable, INVENTORY, "--bin", bin_dir, "--launcher", harness.WINE,
                           "--timeout", "120", *args], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=600)
    assert done.returncode == 0 and done.stderr == b"", done
    return done.stdout.decode("utf-8")


def staged_probes(replacements=(), dll_dirs=()):
    """The three probes in a folder of their own, some replaced by other programs."""
    folder = tempfile.mkdtemp(prefix="inventory-", dir=harness.work_dir())
    for probe in ("fennel.exe", "quarry.exe", "brindle.exe"):
        shutil.copy(harness.exe(probe), folder)
    for probe, program in replacements:
        shutil.copy(program, os.path.join(folder, probe))
    for dll_dir in dll_dirs:
        for name in os.listdir(dll_dir):
            shutil.copy(os.path.join(dll_dir, name), folder)
    return folder


class InventoryTest(unittest.TestCase):
    def test_real_adapter_with_honest_reasons(self):
        result = json.loads(inventory(harness.bin_dir(), "--json"))
        self.assertTrue(result["fennel"]["ok"] and result["quarry"]["ok"], result)
        [row] = result["adapters"]
        self.assertEqual((row["name"], row["luidLowPart"], row["luidHighPart"]),
                         (ADAPTER["name"], ADAPTER["luidLowPart"], ADAPTER["luidHighPart"]))
        self.assertEqual(row["vulkan"], {"matched": False, "reason": "no Vulkan device with this LUID: "
                                         "1 Vulkan device, none with a valid LUID"})
        self.assertEqual(row["opencl"], {"matched": False, "reason": "no OpenCL device for this adapter: "
                                         "1 platform, 0 with Direct3D 11 sharing, 0 GPU devices with a LUID"})
        text = inventory(harness.bin_dir())
        self.assertIn(ADAPTER["name"], text)
        self.assertIn("%d:%d" % (ADAPTER["luidLowPart"], ADAPTER["luidHighPart"]), text)
        self.assertIn(row["vulkan"]["reason"], text)
        self.assertIn(row["opencl"]["reason"], text)

    def test_test_only_runtime_gives_a_match(self):
        folder = staged_probes(dll_dirs=[os.path.join(harness.fakes_dir(), "opencl-full")])
        luid = "%d:%d" % (ADAPTER["luidLowPart"], ADAPTER["luidHighPart"])
        result = json.loads(inventory(folder, "--json", overrides="opencl,dxcore=n,b",
                                      extra={"FAKE_OPENCL_SCENARIO": "luid", "FAKE_OPENCL_LUID": luid}))
        self.assertEqual(result["adapters"][0]["opencl"],
                         {"matched": True, "platform": "Fake LUID CL", "device": "Fake LUID GPU",
                          "deviceIndex": 1, "method": "luid"})
        text = inventory(folder, overrides="opencl,dxcore=n,b",
                         extra={"FAKE_OPENCL_SCENARIO": "luid", "FAKE_OPENCL_LUID": luid})
        self.assertIn("Fake LUID CL / Fake LUID GPU (#1, by luid)", text)

    def test_crashing_and_garbage_probes_show_in_their_cells(self):
        garbage = os.path.join(harness.tools_dir(), "dxgi_list.exe")  # prints tab-separated lines
        folder = staged_probes(replacements=[("quarry.exe", garbage)],
                               dll_dirs=[os.path.join(harness.fakes_dir(), "opencl-full")])
        result = json.loads(inventory(folder, "--json", overrides="opencl,dxcore=n,b",
                                      extra={"FAKE_OPENCL_CRASH": "call"}))
        self.assertFalse(result["quarry"]["ok"])
        [row] = result["adapters"]
        self.assertEqual(row["name"], ADAPTER["name"])
        self.assertEqual(row["vulkan"]["reason"], "quarry printed no valid document (exit code 0)")
        self.assertEqual(row["opencl"]["reason"], "brindle failed: platform_crashed: "
                                                  "exception 0xC0000005 in OpenCL")


if __name__ == "__main__":
    unittest.main()
