"""The native quarry through the system's Vulkan loader: against Mesa's lavapipe, against
a test-only driver that chatters on standard output or crashes, and with a test-only implicit
layer that crashes."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import harness

QUARRY = sys.argv.pop(1) if len(sys.argv) > 1 else "quarry"

FAKE_DEVICE = (b'{"schema":2,"devices":[{"vkIndex":0,"name":"Fake ICD GPU","vendorId":4318,'
               b'"deviceId":1234,"deviceLuidValid":true,"luidLowPart":100926,"luidHighPart":-1,'
               b'"apiVersion":"1.2.0","driverVersionRaw":2315976704,"driverVersionFormatted":'
               b'"552.44.0.0","driverId":"NVIDIA_PROPRIETARY","driverName":"Fake driver",'
               b'"driverInfo":"test"}]}\n')


def run_quarry(mode=None, stdout=subprocess.PIPE, layer_home=None, **variables):
    """quarry with the test-only driver alone (or lavapipe when mode is None); what it prints
    must be one document that quarry's schema accepts. With layer_home, the user's data folder
    is that one, so the loader finds the implicit layers installed there; variables are added
    to the environment."""
    env = dict(os.environ)
    if mode is not None:
        manifest = os.environ["FAKE_ICD_MANIFEST"]
        env.update(VK_DRIVER_FILES=manifest, VK_ICD_FILENAMES=manifest, FAKE_ICD_MODE=mode)
    if layer_home is not None:
        # Whatever the caller's environment says about layers must not decide the outcome.
        for name in ("VK_LOADER_LAYERS_DISABLE", "DISABLE_VK_LAYER_TEST_crashing_overlay"):
            env.pop(name, None)
        env["XDG_DATA_HOME"] = layer_home
    env.update(variables)
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

    def test_a_crashing_implicit_layer_and_the_variable_that_skips_it(self):
        # As an overlay or capture tool registered for every program: the loader puts the
        # layer in front of every instance, and its vkCreateInstance writes through null.
        crashed = (b'{"schema":2,"error":{"code":"platform_crashed",'
                   b'"message":"signal 11 in Vulkan"}}\n')
        with tempfile.TemporaryDirectory() as home:
            layers = os.path.join(home, "vulkan", "implicit_layer.d")
            os.makedirs(layers)
            shutil.copy(os.environ["FAKE_LAYER_MANIFEST"], layers)
            for variables, expected, code in (({}, crashed, 1),
                                              ({"VK_LOADER_LAYERS_DISABLE": "~implicit~"},
                                               FAKE_DEVICE, 0)):
                done = run_quarry("quiet", layer_home=home, **variables)
                self.assertEqual(done.stdout, expected, variables)
                self.assertEqual(done.returncode, code, variables)

    def test_a_document_that_cannot_be_written_is_a_failure(self):
        with open("/dev/full", "wb") as full:
            done = run_quarry("quiet", stdout=full)
        self.assertEqual(done.returncode, 1)


if __name__ == "__main__":
    unittest.main()
