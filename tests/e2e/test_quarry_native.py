"""The native quarry against Mesa's lavapipe through the system's Vulkan loader."""

import json
import subprocess
import sys
import unittest

QUARRY = sys.argv.pop(1) if len(sys.argv) > 1 else "quarry"


class NativeQuarryTest(unittest.TestCase):
    def test_reports_lavapipe(self):
        done = subprocess.run([QUARRY], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertEqual(done.stderr, b"")
        out = done.stdout
        self.assertTrue(out.endswith(b"\n") and out.count(b"\n") == 1, out)
        doc = json.loads(out, parse_constant=lambda name: (_ for _ in ()).throw(ValueError(name)))
        self.assertEqual(doc["schema"], 2)
        lavapipe = [d for d in doc["devices"] if d["name"].startswith("llvmpipe")]
        self.assertEqual(len(lavapipe), 1, doc)
        device = lavapipe[0]
        self.assertEqual(device["vendorId"], 0x10005)
        self.assertEqual(device["driverId"], "MESA_LLVMPIPE")
        self.assertEqual(device["driverName"], "llvmpipe")
        self.assertFalse(device["deviceLuidValid"])
        self.assertNotIn("luidLowPart", device)
        self.assertRegex(device["apiVersion"], r"^1\.\d+\.\d+$")


if __name__ == "__main__":
    unittest.main()
