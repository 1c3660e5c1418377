"""fennel.exe under Wine: Wine's real DXGI adapter list, compared with what a small DXGI
program reads in the same prefix, and test-only dxcore.dll files beside a copy of it."""

import json
import os
import subprocess
import unittest

import harness


def setUpModule():
    global XVFB, DISPLAY, PREFIX
    XVFB, DISPLAY = harness.start_xvfb()
    PREFIX = harness.make_prefix("fennel", DISPLAY)


def tearDownModule():
    harness.stop_wineserver(PREFIX)
    harness.stop_xvfb(XVFB)


def dxgi_adapters():
    out, code, _ = harness.run(os.path.join(harness.tools_dir(), "dxgi_list.exe"),
                               env=harness.wine_env(PREFIX, DISPLAY))
    assert code == 0, out
    rows = []
    for line in out.decode("utf-8").splitlines():
        name, vendor, device, memory, low, high, flags = line.rstrip("\r").split("\t")
        rows.append(dict(name=name, vendorId=int(vendor), deviceId=int(device),
                         dedicatedVideoMemory=int(memory), luidLowPart=int(low),
                         luidHighPart=int(high), flags=int(flags)))
    return rows


class RealAdaptersTest(unittest.TestCase):
    def test_lists_what_dxgi_reports(self):
        out, code, err = harness.run(harness.exe("fennel.exe"), env=harness.wine_env(PREFIX, DISPLAY))
        self.assertEqual(code, 0)
        self.assertEqual(err, b"")
        doc = harness.parse_document(out)
        self.assertEqual(list(doc), ["schema", "dxcoreAvailable", "adapters"])
        self.assertFalse(doc["dxcoreAvailable"], "Wine has no dxcore.dll")
        expected = [a for a in dxgi_adapters() if not a["flags"] & 2]
        self.assertTrue(expected, "Wine reports a hardware adapter")
        self.assertEqual(out, self.expected_bytes(expected))

    @staticmethod
    def expected_bytes(adapters):
        """The document, byte for byte, from what the separate DXGI program read."""
        parts = []
        for index, a in enumerate(adapters):
            name = json.dumps(a["name"], ensure_ascii=False)[1:-1]
            parts.append('{"index":%d,"name":"%s","vendorId":%d,"deviceId":%d,"dedicatedVideoMemory":%d,'
                         '"luidLowPart":%d,"luidHighPart":%d,"isIntegratedGpu":%s}'
                         % (index, name, a["vendorId"], a["deviceId"], a["dedicatedVideoMemory"],
                            a["luidLowPart"], a["luidHighPart"],
                            "true" if a["dedicatedVideoMemory"] < 2**31 else "false"))
        return ('{"schema":1,"dxcoreAvailable":false,"adapters":[%s]}\n' % ",".join(parts)).encode()


class FakeDxcoreTest(unittest.TestCase):
    """A fake dxcore.dll beside a copy of fennel.exe answers for the real adapter."""

    @classmethod
    def setUpClass(cls):
        cls.real = [a for a in dxgi_adapters() if not a["flags"] & 2][0]

    def run_fennel(self, variant, answer, misbehaviour=None, planted=False):
        """fennel.exe with a fake dxcore.dll beside a copy of it, or (planted) with the fake
        only in the current directory of the original; returns (stdout, exit code, calls)."""
        folder, copy = harness.staged(harness.exe("fennel.exe"),
                                      [os.path.join(harness.fakes_dir(), variant)])
        log = os.path.join(folder, "dxcore.log")
        extra = {"FAKE_DXCORE_ANSWER": answer, "FAKE_DXCORE_LOG": log,
                 "FAKE_DXCORE_LUID": "%d:%d" % (self.real["luidLowPart"], self.real["luidHighPart"])}
        extra.update(misbehaviour or {})
        env = harness.wine_env(PREFIX, DISPLAY, "opencl,dxcore=n,b", extra)
        executable = harness.exe("fennel.exe") if planted else copy
        out, code, err = harness.run(executable, env=env, cwd=folder)
        self.assertEqual(err, b"")
        calls = []
        if os.path.exists(log):
            with open(log) as f:
                calls = f.read().splitlines()
        return out, code, calls

    def run_with(self, variant, answer):
        out, code, calls = self.run_fennel(variant, answer)
        self.assertEqual(code, 0)
        return harness.parse_document(out), calls

    def test_yes_decides_integrated_whatever_the_memory(self):
        doc, calls = self.run_with("dxcore", "yes")
        self.assertTrue(doc["dxcoreAvailable"])
        self.assertTrue(doc["adapters"][0]["isIntegratedGpu"])
        self.assertIn("GetProperty 12 1", calls)
        # The adapter goes back after its query; the factory before the library is unloaded.
        self.assertLess(calls.index("release adapter"), calls.index("release factory"))
        self.assertEqual(calls[-2:], ["release factory", "unload"])

    def test_no_decides_not_integrated(self):
        doc, calls = self.run_with("dxcore", "no")
        self.assertTrue(doc["dxcoreAvailable"])
        self.assertFalse(doc["adapters"][0]["isIntegratedGpu"])
        self.assertIn("GetProperty 12 1", calls)

    def test_undecided_takes_the_memory_rule(self):
        doc, calls = self.run_with("dxcore", "undecided")
        self.assertTrue(doc["dxcoreAvailable"])
        self.assertEqual(doc["adapters"][0]["isIntegratedGpu"], self.real["dedicatedVideoMemory"] < 2**31)
        self.assertIn("IsPropertySupported 12", calls)
        self.assertNotIn("GetProperty 12 1", calls)

    def test_failing_factory_is_not_available(self):
        doc, calls = self.run_with("dxcore", "no_factory")
        self.assertFalse(doc["dxcoreAvailable"])
        self.assertEqual(calls, ["DXCoreCreateAdapterFactory", "unload"])

    def test_dll_in_the_current_directory_is_not_loaded(self):
        out, code, calls = self.run_fennel("dxcore", "yes", planted=True)
        self.assertEqual(code, 0)
        self.assertFalse(harness.parse_document(out)["dxcoreAvailable"])
        self.assertEqual(calls, [])

    def test_chatter_of_dxcore_leaves_the_document_alone(self):
        quiet, _, _ = self.run_fennel("dxcore", "yes")
        for how in ("printf", "writefile"):
            out, code, _ = self.run_fennel("dxcore", "yes", {"FAKE_DXCORE_CHATTER": how})
            self.assertEqual(out, quiet, how)
            self.assertEqual(code, 0, how)

    def test_crash_abort_or_exit_in_dxcore_is_a_document(self):
        crashed = b'{"schema":1,"error":{"code":"platform_crashed","message":"%s in DXCore"}}\n'
        exited = b'{"schema":1,"error":{"code":"platform_exited","message":"exit in DXCore"}}\n'
        for misbehaviour, expected in (
                ({"FAKE_DXCORE_CRASH": "call"}, crashed % b"exception 0xC0000005"),
                ({"FAKE_DXCORE_CRASH": "call:raise"}, crashed % b"signal 22"),
                # A C runtime that came with the DLL takes the probe's abort handler too.
                ({"FAKE_DXCORE_CRASH": "call:msvcr120-abort"}, crashed % b"signal 22"),
                ({"FAKE_DXCORE_CRASH": "call:_exit"}, exited),
                ({"FAKE_DXCORE_CRASH": "load:exit"}, exited),
                ({"FAKE_DXCORE_FOREIGN": "exit", "FAKE_DXCORE_CRASH": "call"},
                 crashed % b"exception 0xC0000005"),
                # Handlers installed in one query do not take a crash in the next.
                ({"FAKE_DXCORE_FOREIGN": "call:exit", "FAKE_DXCORE_CRASH": "query"},
                 crashed % b"exception 0xC0000005")):
            out, code, _ = self.run_fennel("dxcore", "yes", misbehaviour)
            self.assertEqual(out, expected, misbehaviour)
            self.assertEqual(code, 1, misbehaviour)

    def test_crash_or_exit_after_the_document_leaves_it_alone(self):
        quiet, _, _ = self.run_fennel("dxcore", "yes")
        for moment in ("release", "release:ExitProcess", "unload:exit"):
            out, code, calls = self.run_fennel("dxcore", "yes", {"FAKE_DXCORE_CRASH": moment})
            self.assertEqual(out, quiet, moment)
            self.assertEqual(code, 0, moment)
            if moment.startswith("release"):
                self.assertNotIn("release factory", calls, "it ended in the last Release")

    def test_library_without_entry_point_is_not_available(self):
        doc, _ = self.run_with("dxcore-empty", "yes")
        self.assertFalse(doc["dxcoreAvailable"])
        self.assertEqual(len(doc["adapters"]), 1)


if __name__ == "__main__":
    unittest.main()
