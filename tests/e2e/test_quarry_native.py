"""The native quarry through the system's Vulkan loader: against Mesa's lavapipe, and against
a test-only driver that chatters on standard output or crashes."""

import os
import subprocess
import sys
import unittest

import harness

QUARRY = sys.argv.pop(1) if len(sys.argv) > 1 else "quarry"

FAKE_DEVICE = (b'{"schema":2,"devices":[{"vkIndex":0,"name":"Fake ICD GPU","vendorId":4318,'
               b'"deviceId":1234,"deviceLuidValid":true,"luidLowPart":100926,"luidHighPart":-1,'
               b'"apiVersion":"1.2.0","driverVersionRaw":2315976704,"driverVersionFormatted":'
               b'"552.44.0.0","driverId":"NVIDIA_PROPRIETARY","driverName":"Fake driver",'
               b'"driverInfo":"test"}]}\n')


def run_quarry(mode=None, stdout=subprocess.PIPE):
    """quarry with the test-only driver alone (or lavapipe when mode is None); what it prints
    must be one document that quarry's schema accepts."""
    env = dict(os.environ)
    if mode is not None:
        manifest = os.environ["FAKE_ICD_MANIFEST"]
        env.update(VK_DRIVER_FILES=manifest, VK_ICD_FILENAMES=manifest, FAKE_ICD_MODE=mode)
    done = subprocess.run([QUARRY], stdout=stdout, stderr=subprocess.PIPE, env=env, timeout=60)
    if stdout == subprocess.PIPE:
        harness.parse_document(done.stdout, "quarry")
    return done


class NativeQuarryTest(unittest.TestCase):
    def test_reports_lavapipe(self):
        done = run_quarry()
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertEqual(done.stderr, b"")
        doc = harness.parse_document(done.stdout, "quarry")
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


class FakeDriverTest(unittest.TestCase):
    def test_chatter_stays_off_the_document(self):
        for mode in ("quiet", "chatter"):
            done = run_quarry(mode)
            self.assertEqual(done.stdout, FAKE_DEVICE, mode)
            self.assertEqual(done.returncode, 0, mode)

    def test_crash_abort_or_exit_in_the_driver_is_a_document(self):
        crashed = b'{"schema":2,"error":{"code":"platform_crashed","message":"%s in Vulkan"}}\n'
        exited = b'{"schema":2,"error":{"code":"platform_exited","message":"exit in Vulkan"}}\n'
        for mode, expected in (("crash", crashed % b"signal 11"),
                               ("crash-in-thread", crashed % b"signal 11"),
                               ("abort", crashed % b"signal 6"),
                               ("foreign-handler", crashed % b"signal 11"),
                               ("foreign-in-query", crashed % b"signal 11"),
                               ("exit", exited), ("exit-at-load", exited), ("exit-at-unload", exited)):
            done = run_quarry(mode)
            self.assertEqual(done.stdout, expected, mode)
            self.assertEqual(done.returncode, 1, mode)

    def test_a_driver_that_stays_loaded_cannot_change_the_exit_code(self):
        done = run_quarry("fail-then-_exit-at-end")
        self.assertEqual(done.stdout, b'{"schema":2,"error":{"code":"vulkan_enum_failed","message":'
                                      b'"vkEnumeratePhysicalDevices failed with error code -3"}}\n')
        self.assertEqual(done.returncode, 1)

    def test_a_document_that_cannot_be_written_is_a_failure(self):
        with open("/dev/full", "wb") as full:
            done = run_quarry("quiet", stdout=full)
        self.assertEqual(done.returncode, 1)


if __name__ == "__main__":
    unittest.main()
