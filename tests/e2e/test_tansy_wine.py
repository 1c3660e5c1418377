"""tansy.exe under Wine: Wine's real adapter through real DXGI, Direct3D 11 and Direct3D 12
(vkd3d over lavapipe), then test-only d3d12.dll and dxcore.dll in the prefix's System32 in
place of Wine's (Wine has no dxcore.dll): a runtime with other answers, a driver that fails,
crashes or ends the process while a device is created, and the compute-only adapters that only
DXCore lists."""

import json
import os
import shutil
import unittest

import harness

USAGE = (b'{"schema":1,"error":{"code":"invalid_args","message":'
         b'"Usage: tansy.exe [--luid-low <uint32> --luid-high <int32>]"}}\n')
CRASHED = b'{"schema":1,"error":{"code":"platform_crashed","message":"%s in Direct3D 12"}}\n'
EXITED = b'{"schema":1,"error":{"code":"platform_exited","message":"exit in Direct3D 12"}}\n'
NO_DEVICE = {"result": "0x887A0004", "featureLevel": None, "shaderModel": None, "resourceBindingTier": None,
             "uma": None, "cacheCoherentUma": None, "native16BitShaderOps": None, "waveOps": None}
# What the test-only d3d12.dll answers: a runtime without feature level 12_2 and shader models
# past 6.6, which refuses both with E_INVALIDARG.
FAKE_DEVICE = {"result": "0x00000000", "featureLevel": "12_1", "shaderModel": "6.6", "resourceBindingTier": 3,
               "uma": False, "cacheCoherentUma": False, "native16BitShaderOps": True, "waveOps": True}
# The compute-only adapters of the test-only dxcore.dll, in the order tansy finds them: the
# accelerator in the D3D12_GENERIC_ML list, then the NPU there (and again in the NPU list). Its
# graphics adapter, in the D3D12_CORE_COMPUTE and D3D12_GENERIC_ML lists, is left out.
ACCELERATOR = {"luidLowPart": 0x7002, "luidHighPart": -1, "name": 'Fake ML Accelerator "X"', "vendorId": None,
               "deviceId": None, "hardware": True, "hardwareType": "computeAccelerator", "coreCompute": False,
               "genericMl": True, "dedicatedAdapterMemory": 8 << 30, "driverVersion": None,
               "d3d12": {"result": "0x00000000", "featureLevel": "1_0_generic"}}
NPU = {"luidLowPart": 0x7003, "luidHighPart": 0, "name": "", "vendorId": 0x8086, "deviceId": 0x7D1D,
       "hardware": True, "hardwareType": "npu", "coreCompute": False, "genericMl": True,
       "dedicatedAdapterMemory": 0, "driverVersion": "32.0.100.3104",
       "d3d12": {"result": "0x00000000", "featureLevel": "1_0_generic"}}
GRAPHICS_LUID = (0x7001, 0)


def setUpModule():
    global XVFB, DISPLAY, PREFIX, SYSTEM32
    XVFB, DISPLAY = harness.start_xvfb()
    PREFIX = harness.make_prefix("tansy", DISPLAY)
    SYSTEM32 = os.path.join(PREFIX, "drive_c", "windows", "system32")


def tearDownModule():
    harness.stop_wineserver(PREFIX)
    harness.stop_xvfb(XVFB)


def luid_args(low, high):
    return ["--luid-low", str(low), "--luid-high", str(high)]


def run_tansy(args=(), extra=None, overrides=None):
    """(stdout, exit code); the harness checks the document against the schema."""
    out, code, err = harness.run(harness.exe("tansy.exe"), args,
                                 env=harness.wine_env(PREFIX, DISPLAY, overrides, extra))
    assert err == b"", err
    return out, code


def answer(args=(), extra=None, overrides=None):
    out, code = run_tansy(args, extra, overrides)
    assert code == 0, out
    return harness.parse_document(out)


def document_bytes(adapters, compute=(), dxcore=False):
    """A document as tansy writes it: keys in their order, no spaces, non-ASCII as is."""
    doc = {"schema": 1, "dxcoreAvailable": dxcore, "adapters": list(adapters), "computeAdapters": list(compute)}
    return json.dumps(doc, separators=(",", ":"), ensure_ascii=False).encode() + b"\n"


def fennel_luids():
    out, code, _ = harness.run(harness.exe("fennel.exe"), env=harness.wine_env(PREFIX, DISPLAY))
    assert code == 0, out
    return [(a["luidLowPart"], a["luidHighPart"]) for a in harness.parse_document(out)["adapters"]]


class RealRuntimesTest(unittest.TestCase):
    def test_reports_what_wines_runtimes_offer(self):
        doc = answer()
        self.assertEqual(list(doc), ["schema", "dxcoreAvailable", "adapters", "computeAdapters"])
        self.assertEqual((doc["dxcoreAvailable"], doc["computeAdapters"]), (False, []), "Wine has no dxcore.dll")
        self.assertEqual([(a["luidLowPart"], a["luidHighPart"]) for a in doc["adapters"]], fennel_luids(),
                         "Wine lists no software adapter, so fennel's list is tansy's")
        [adapter] = doc["adapters"]
        self.assertEqual((adapter["dxgiOrdinal"], adapter["software"]), (0, False))
        self.assertEqual(adapter["d3d11"]["result"], "0x00000000")
        self.assertIn(adapter["d3d11"]["featureLevel"], ("10_0", "10_1", "11_0", "11_1"))
        d3d12 = adapter["d3d12"]
        # vkd3d over lavapipe: no more than a device needs at feature level 11_0, on the CPU's memory.
        self.assertEqual((d3d12["result"], d3d12["featureLevel"], d3d12["shaderModel"], d3d12["uma"]),
                         ("0x00000000", "11_0", "5.1", True))
        self.assertIn(d3d12["resourceBindingTier"], (1, 2, 3))
        for field in ("cacheCoherentUma", "native16BitShaderOps", "waveOps"):
            self.assertIsInstance(d3d12[field], bool, field)

    def test_a_luid_examines_that_adapter_alone(self):
        whole = answer()
        [adapter] = whole["adapters"]
        low, high = adapter["luidLowPart"], adapter["luidHighPart"]
        self.assertEqual(answer(luid_args(low, high)), whole)
        for other in ((low + 1, high), (low, high - 1), (0, 0)):
            out, code = run_tansy(luid_args(*other))
            self.assertEqual((out, code), (document_bytes([]), 0), other)

    def test_bad_command_lines_give_the_usage_document(self):
        for args in (["--luid-low", "1"], ["--luid-high", "0"], ["--luid-low"], ["--luid-low", "1", "--luid-high"],
                     ["--luid-low", "1", "--luid-high", "0", "extra"], ["--help"], ["-h"], ["1", "0"]):
            self.assertEqual(run_tansy(args), (USAGE, 2), args)


class SystemDll:
    """One of the prefix's System32 DLLs replaced by a test-only one, and put back."""

    def __init__(self, name, variant):
        self.path = os.path.join(SYSTEM32, name)
        self.kept = self.path + ".wine" if os.path.exists(self.path) else None
        if self.kept and not os.path.exists(self.kept):
            shutil.copy(self.path, self.kept)
        shutil.copy(os.path.join(harness.fakes_dir(), variant, name), self.path)

    def restore(self):
        if self.kept:
            shutil.copy(self.kept, self.path)
        else:
            os.remove(self.path)


class FakeRuntimeTest(unittest.TestCase):
    """A d3d12.dll with other answers, and a dxcore.dll, in place of Wine's."""

    OVERRIDES = "d3d12,dxcore=n"

    def setUp(self):
        self.dlls = [SystemDll("d3d12.dll", "d3d12"), SystemDll("dxcore.dll", "dxcore")]
        self.log = os.path.join(harness.work_dir(), "tansy-dxcore.log")
        if os.path.exists(self.log):
            os.remove(self.log)

    def tearDown(self):
        for dll in self.dlls:
            dll.restore()

    def run_with(self, extra=None, args=()):
        return run_tansy(args, dict(extra or {}, FAKE_DXCORE_LOG=self.log), self.OVERRIDES)

    def real_adapter(self):
        doc = answer(overrides="d3d12=b")
        return doc["adapters"][0]

    def test_the_walks_reach_the_runtimes_answers(self):
        real = self.real_adapter()
        out, code = self.run_with()
        self.assertEqual((out, code), (document_bytes([dict(real, d3d12=FAKE_DEVICE)], dxcore=True), 0))

    def test_a_creation_that_fails_nulls_its_own_fields(self):
        real = self.real_adapter()
        out, code = self.run_with({"FAKE_D3D12_CREATE": "unsupported"})
        self.assertEqual((out, code), (document_bytes([dict(real, d3d12=NO_DEVICE)], dxcore=True), 0))

    def test_chatter_of_the_driver_leaves_the_document_alone(self):
        quiet = self.run_with()
        for how in ("printf", "writefile"):
            self.assertEqual(self.run_with({"FAKE_D3D12_CHATTER": how}), quiet, how)

    def test_crash_abort_or_exit_in_device_creation_is_a_document(self):
        for misbehaviour, expected in (
                ({"FAKE_D3D12_CRASH": "create"}, CRASHED % b"exception 0xC0000005"),
                ({"FAKE_D3D12_CRASH": "create:abort"}, CRASHED % b"signal 22"),
                ({"FAKE_D3D12_CRASH": "create:_exit"}, EXITED),
                ({"FAKE_D3D12_CRASH": "create:exit"}, EXITED),
                ({"FAKE_D3D12_CRASH": "load:exit"}, EXITED),
                ({"FAKE_D3D12_FOREIGN": "exit", "FAKE_D3D12_CRASH": "create"}, CRASHED % b"exception 0xC0000005"),
                # On the NPU only: no adapter is safe in a run that examines them all.
                ({"FAKE_D3D12_CRASH": "create", "FAKE_D3D12_LUID": "%d:0" % NPU["luidLowPart"],
                  "FAKE_DXCORE_ADAPTERS": "compute"}, CRASHED % b"exception 0xC0000005")):
            self.assertEqual(self.run_with(misbehaviour), (expected, 1), misbehaviour)

    def test_a_run_for_one_luid_passes_another_adapters_crash_by(self):
        crash_on_npu = {"FAKE_D3D12_CRASH": "create", "FAKE_D3D12_LUID": "%d:0" % NPU["luidLowPart"],
                        "FAKE_DXCORE_ADAPTERS": "compute"}
        real = self.real_adapter()
        out, code = self.run_with(crash_on_npu, luid_args(real["luidLowPart"], real["luidHighPart"]))
        self.assertEqual((out, code), (document_bytes([dict(real, d3d12=FAKE_DEVICE)], dxcore=True), 0))

    def test_compute_only_adapters_each_once(self):
        real = self.real_adapter()
        out, code = self.run_with({"FAKE_DXCORE_ADAPTERS": "compute"})
        self.assertEqual((out, code), (document_bytes([dict(real, d3d12=FAKE_DEVICE)], [ACCELERATOR, NPU], True), 0))
        with open(self.log) as f:
            calls = f.read().splitlines()
        # Every list and adapter handed out is released, the factory last.
        self.assertEqual(sum(c.startswith("GetAdapter") for c in calls), calls.count("release adapter"))
        self.assertEqual(sum(c.startswith("CreateAdapterList") for c in calls), calls.count("release list"))
        self.assertEqual([c for c in calls if c != "unload"][-1], "release factory")

    def test_compute_only_adapters_by_luid(self):
        for luid, adapters in (((NPU["luidLowPart"], 0), [NPU]), ((ACCELERATOR["luidLowPart"], -1), [ACCELERATOR]),
                               (GRAPHICS_LUID, [])):
            out, code = self.run_with({"FAKE_DXCORE_ADAPTERS": "compute"}, luid_args(*luid))
            self.assertEqual((out, code), (document_bytes([], adapters, True), 0), luid)

    def test_a_dxcore_without_hardware_types_still_finds_the_npu(self):
        # It refuses the list by hardware type, and confirms none: the NPU is found by D3D12_GENERIC_ML.
        doc = answer(extra={"FAKE_DXCORE_ADAPTERS": "compute-before-npu"}, overrides=self.OVERRIDES)
        self.assertEqual(doc["computeAdapters"], [dict(ACCELERATOR, hardwareType=None), dict(NPU, hardwareType=None)])

    def test_wines_direct3d_12_takes_no_dxcore_adapter(self):
        doc = answer(extra={"FAKE_DXCORE_ADAPTERS": "compute"}, overrides="d3d12=b;dxcore=n")
        self.assertEqual([a["luidLowPart"] for a in doc["computeAdapters"]], [ACCELERATOR["luidLowPart"], NPU["luidLowPart"]])
        for adapter in doc["computeAdapters"]:
            self.assertNotEqual(adapter["d3d12"]["result"], "0x00000000")
            self.assertIsNone(adapter["d3d12"]["featureLevel"])


if __name__ == "__main__":
    unittest.main()
