"""sorrel.exe under Wine: Wine's real adapter through real DXGI and SetupAPI, and a test-only
pdh.dll in the prefix's System32 (Wine's PDH has no GPU counters) that answers the memory
counters, or crashes, aborts or ends the process."""

import os
import shutil
import unittest

import harness

GIB = 1 << 30


def setUpModule():
    global XVFB, DISPLAY, PREFIX
    XVFB, DISPLAY = harness.start_xvfb()
    PREFIX = harness.make_prefix("sorrel", DISPLAY)


def tearDownModule():
    harness.stop_wineserver(PREFIX)
    harness.stop_xvfb(XVFB)


def run_sorrel(extra=None, overrides=None):
    return harness.run(harness.exe("sorrel.exe"), env=harness.wine_env(PREFIX, DISPLAY, overrides, extra))


def fennel_adapters():
    out, code, _ = harness.run(harness.exe("fennel.exe"), env=harness.wine_env(PREFIX, DISPLAY))
    assert code == 0, out
    return harness.parse_document(out)["adapters"]


class RealAdapterTest(unittest.TestCase):
    def test_says_where_wines_adapter_sits(self):
        out, code, err = run_sorrel()  # checked against the schema by the harness
        self.assertEqual((code, err), (0, b""))
        adapters = harness.parse_document(out)["adapters"]
        self.assertEqual([(a["luidLowPart"], a["luidHighPart"]) for a in adapters],
                         [(a["luidLowPart"], a["luidHighPart"]) for a in fennel_adapters()])
        self.assertEqual(len(adapters), 1, "Wine lists one adapter")
        adapter = adapters[0]
        # What Wine answers.
        self.assertEqual((adapter["dxgiOrdinal"], adapter["highPerformanceRank"], adapter["minimumPowerRank"]),
                         (0, 0, 0))
        self.assertEqual(adapter["outputs"], 1, "the virtual X server's one screen")
        self.assertGreater(adapter["localBudget"], 0)
        self.assertIsNotNone(adapter["nonLocalBudget"])
        self.assertRegex(adapter["driverVersion"], r"^\d+\.\d+\.\d+\.\d+$")
        # What it does not: a bus number (SetupAPI's device does carry the GPU's LUID) and the
        # GPU memory counters.
        for field in ("pciBus", "pciDevice", "pciFunction", "dedicatedUsage", "sharedUsage"):
            self.assertIsNone(adapter[field], field)


class FakeCountersTest(unittest.TestCase):
    """A pdh.dll with GPU memory counters for the real adapter's LUID, in place of Wine's."""

    @classmethod
    def setUpClass(cls):
        cls.luid = "%(luidLowPart)d:%(luidHighPart)d" % fennel_adapters()[0]
        cls.system_pdh = os.path.join(PREFIX, "drive_c", "windows", "system32", "pdh.dll")
        cls.wines_pdh = cls.system_pdh + ".wine"
        if not os.path.exists(cls.wines_pdh):
            shutil.copy(cls.system_pdh, cls.wines_pdh)
        shutil.copy(os.path.join(harness.fakes_dir(), "pdh", "pdh.dll"), cls.system_pdh)

    @classmethod
    def tearDownClass(cls):
        shutil.copy(cls.wines_pdh, cls.system_pdh)

    def run_with(self, misbehaviour=None):
        extra = {"FAKE_PDH_LUID": self.luid}
        extra.update(misbehaviour or {})
        out, code, _ = run_sorrel(extra, "pdh=n")
        return out, code

    def test_usage_is_summed_over_the_adapters_instances(self):
        out, code = self.run_with()
        self.assertEqual(code, 0)
        adapter = harness.parse_document(out)["adapters"][0]
        self.assertEqual(adapter["dedicatedUsage"], GIB + GIB // 2)
        self.assertEqual(adapter["sharedUsage"], GIB // 4)

    def test_crash_abort_or_exit_in_pdh_is_a_document(self):
        crashed = b'{"schema":1,"error":{"code":"platform_crashed","message":"%s in PDH"}}\n'
        exited = b'{"schema":1,"error":{"code":"platform_exited","message":"exit in PDH"}}\n'
        for misbehaviour, expected in (
                ({"FAKE_PDH_CRASH": "call"}, crashed % b"exception 0xC0000005"),
                ({"FAKE_PDH_CRASH": "call:abort"}, crashed % b"signal 22"),
                ({"FAKE_PDH_CRASH": "call:_exit"}, exited),
                ({"FAKE_PDH_CRASH": "load:exit"}, exited),
                ({"FAKE_PDH_FOREIGN": "exit", "FAKE_PDH_CRASH": "call"}, crashed % b"exception 0xC0000005")):
            out, code = self.run_with(misbehaviour)
            self.assertEqual((out, code), (expected, 1), misbehaviour)


if __name__ == "__main__":
    unittest.main()
