"""quarry.exe under Wine reaches Mesa's CPU Vulkan driver through Wine's vulkan-1.dll
(which needs Wine's X11 driver, so an X server too)."""

import os
import subprocess
import unittest

import harness


def setUpModule():
    global XVFB, DISPLAY, PREFIX
    XVFB, DISPLAY = harness.start_xvfb()
    PREFIX = harness.make_prefix("quarry", DISPLAY)


def tearDownModule():
    harness.stop_wineserver(PREFIX)
    harness.stop_xvfb(XVFB)


class QuarryUnderWineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out, cls.code, cls.err = harness.run(harness.exe("quarry.exe"), env=harness.wine_env(PREFIX, DISPLAY))

    def test_lists_lavapipe(self):
        self.assertEqual(self.code, 0, self.out)
        self.assertEqual(self.err, b"")
        doc = harness.parse_document(self.out)
        self.assertEqual(doc["schema"], 2)
        names = [d["name"] for d in doc["devices"]]
        self.assertTrue(any(n.startswith("llvmpipe") for n in names), names)
        lavapipe = [d for d in doc["devices"] if d["name"].startswith("llvmpipe")][0]
        self.assertEqual(lavapipe["vendorId"], 0x10005)
        self.assertEqual(lavapipe["driverId"], "MESA_LLVMPIPE")
        self.assertEqual(lavapipe["driverName"], "llvmpipe")
        self.assertEqual([d["vkIndex"] for d in doc["devices"]], list(range(len(doc["devices"]))))

    def test_without_a_vulkan_runtime_it_still_starts_and_says_so(self):
        out, code, err = harness.run(harness.exe("quarry.exe"),
                                     env=harness.wine_env(PREFIX, DISPLAY, "vulkan-1=d"))
        self.assertEqual(out, b'{"schema":2,"error":{"code":"vulkan_init_failed",'
                              b'"message":"vulkan-1.dll not found"}}\n')
        self.assertEqual(code, 1)
        self.assertEqual(err, b"")

    def test_same_bytes_as_the_native_quarry(self):
        native = os.environ.get("PROBES_NATIVE_QUARRY", "")
        if not os.path.exists(native):
            self.skipTest("the native quarry has not been built")
        expected = subprocess.run([native], stdout=subprocess.PIPE, check=True, timeout=60).stdout
        self.assertEqual(self.out, expected)


if __name__ == "__main__":
    unittest.main()
