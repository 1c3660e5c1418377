"""brindle.exe under Wine: the real DXGI adapter, Wine's OpenCL.dll leading to PoCL, and
test-only OpenCL.dll files beside a copy of the .exe."""

import os
import unittest

import harness

USAGE = (b'{"schema":1,"matched":false,"error":{"code":"invalid_args","message":"Usage: '
         b'brindle.exe --luid-low <uint32> --luid-high <int32>"}}\n')


def setUpModule():
    global XVFB, DISPLAY, PREFIX, LUID
    XVFB, DISPLAY = harness.start_xvfb()
    PREFIX = harness.make_prefix("brindle", DISPLAY)
    out, code, _ = harness.run(harness.exe("fennel.exe"), env=harness.wine_env(PREFIX, DISPLAY))
    adapters = harness.parse_document(out)["adapters"]
    assert code == 0 and adapters, out
    LUID = (adapters[0]["luidLowPart"], adapters[0]["luidHighPart"])


def tearDownModule():
    harness.stop_wineserver(PREFIX)
    harness.stop_xvfb(XVFB)


def luid_args(luid):
    return ["--luid-low", str(luid[0]), "--luid-high", str(luid[1])]


class RealPlatformTest(unittest.TestCase):
    def run_brindle(self, args, overrides=None):
        out, code, err = harness.run(harness.exe("brindle.exe"), args,
                                     env=harness.wine_env(PREFIX, DISPLAY, overrides))
        self.assertEqual(err, b"", "nothing goes to standard error")
        return out, code

    def test_unknown_luid_is_not_found(self):
        out, code = self.run_brindle(["--luid-low", "1234", "--luid-high", "-1"])
        self.assertEqual(out, b'{"schema":1,"matched":false,"error":{"code":"dxgi_adapter_not_found",'
                              b'"message":"EnumAdapterByLuid failed for LUID 1234:-1 (hr=0x887A0002)"}}\n')
        self.assertEqual(code, 1)
        harness.parse_document(out)

    def test_real_adapter_with_pocl_has_no_match(self):
        out, code = self.run_brindle(luid_args(LUID))
        self.assertEqual(out, b'{"schema":1,"matched":false,"reason":"no_match","platformCount":1,'
                              b'"d3d11SharingPlatforms":0,"luidExtDevices":0}\n')
        self.assertEqual(code, 0)

    def test_help_prints_usage(self):
        for args in (["--help"], ["-h"], [], ["--luid-low", "1"]):
            out, code = self.run_brindle(args)
            self.assertEqual(out, USAGE, args)
            self.assertEqual(code, 2, args)
            harness.parse_document(out)

    def test_without_opencl_runtime(self):
        out, code = self.run_brindle(luid_args(LUID), overrides="opencl=d")
        self.assertEqual(out, b'{"schema":1,"matched":false,"error":{"code":"opencl_dll_missing",'
                              b'"message":"OpenCL.dll not found"}}\n')
        self.assertEqual(code, 1)


class FakeRuntimeTest(unittest.TestCase):
    """A fake OpenCL.dll beside a copy of brindle.exe, picked over Wine's own."""

    def run_with_fake(self, variant, scenario, luid=None, misbehaviour=None):
        folder, copy = harness.staged(harness.exe("brindle.exe"),
                                      [os.path.join(harness.fakes_dir(), "opencl-" + variant)])
        extra = {"FAKE_OPENCL_SCENARIO": scenario, "FAKE_OPENCL_LUID": "%d:%d" % LUID}
        extra.update(misbehaviour or {})
        env = harness.wine_env(PREFIX, DISPLAY, "opencl,dxcore=n,b", extra)
        out, code, err = harness.run(copy, luid_args(luid or LUID), env=env)
        if not extra.get("FAKE_OPENCL_CRASH", "").endswith(("terminate", "throw")):
            self.assertEqual(err, b"")  # else the runtime's C++ library says why it ends
        harness.parse_document(out)
        return out, code

    def test_missing_required_export(self):
        out, code = self.run_with_fake("no-device-ids", "luid")
        self.assertEqual(out, b'{"schema":1,"matched":false,"error":{"code":"opencl_symbols_missing",'
                              b'"message":"OpenCL.dll is missing required exports"}}\n')
        self.assertEqual(code, 1)

    def test_platform_count_error(self):
        # A crash or an exit while the runtime unloads, after the document, changes neither;
        # nor at the process's end, from a runtime that stays loaded to the end.
        for unload in (None, "unload:exit", "unload:ExitProcess", "end", "end:exit"):
            out, code = self.run_with_fake("full", "count_error",
                                           misbehaviour=unload and {"FAKE_OPENCL_CRASH": unload})
            self.assertEqual(out, b'{"schema":1,"matched":false,"error":{"code":"opencl_platform_enum_failed",'
                                  b'"message":"clGetPlatformIDs failed: -30"}}\n', unload)
            self.assertEqual(code, 1, unload)

    def test_platform_list_error(self):
        out, code = self.run_with_fake("full", "list_error")
        self.assertEqual(out, b'{"schema":1,"matched":false,"error":{"code":"opencl_platform_enum_failed",'
                              b'"message":"clGetPlatformIDs (2nd call) failed: -5"}}\n')
        self.assertEqual(code, 1)

    def test_absurd_sizes_are_failures_not_crashes(self):
        for scenario, expected, exit_code in (
                ("absurd_count", b'{"schema":1,"matched":false,"error":{"code":"opencl_platform_enum_failed",'
                                 b'"message":"clGetPlatformIDs failed: -6"}}\n', 1),
                ("absurd_sizes", b'{"schema":1,"matched":false,"reason":"no_match","platformCount":1,'
                                 b'"d3d11SharingPlatforms":1,"luidExtDevices":0}\n', 0)):
            out, code = self.run_with_fake("full", scenario)
            self.assertEqual(out, expected, scenario)
            self.assertEqual(code, exit_code, scenario)

    def test_chatter_of_the_runtime_leaves_the_document_alone(self):
        quiet, code = self.run_with_fake("full", "luid")
        self.assertEqual(code, 0)
        for how in ("printf", "ucrt-write", "writefile"):
            out, code = self.run_with_fake("full", "luid", misbehaviour={"FAKE_OPENCL_CHATTER": how})
            self.assertEqual(out, quiet, how)
            self.assertEqual(code, 0, how)

    def test_crash_abort_or_exit_in_the_runtime_is_a_document(self):
        crashed = b'{"schema":1,"matched":false,"error":{"code":"platform_crashed","message":"%s in OpenCL"}}\n'
        exited = b'{"schema":1,"matched":false,"error":{"code":"platform_exited","message":"exit in OpenCL"}}\n'
        for misbehaviour, expected in (
                ({"FAKE_OPENCL_CRASH": "call"}, crashed % b"exception 0xC0000005"),
                ({"FAKE_OPENCL_CRASH": "call:abort"}, crashed % b"signal 22"),
                ({"FAKE_OPENCL_CRASH": "call:ucrt-abort"}, crashed % b"signal 22"),
                ({"FAKE_OPENCL_CRASH": "call:throw"}, crashed % b"signal 22"),
                ({"FAKE_OPENCL_CRASH": "call:exit"}, exited),
                ({"FAKE_OPENCL_CRASH": "call:ucrt-exit"}, exited),
                ({"FAKE_OPENCL_CRASH": "call:thread-exit"}, exited),
                ({"FAKE_OPENCL_CRASH": "load:ExitProcess"}, exited),
                # A runtime's own handlers, installed when it loads, do not take a later crash.
                ({"FAKE_OPENCL_FOREIGN": "pass", "FAKE_OPENCL_CRASH": "call"},
                 crashed % b"exception 0xC0000005"),
                ({"FAKE_OPENCL_FOREIGN": "exit", "FAKE_OPENCL_CRASH": "call:abort"},
                 crashed % b"signal 22"),
                # Ignored faults would resume the faulting instruction forever.
                ({"FAKE_OPENCL_FOREIGN": "ignore", "FAKE_OPENCL_CRASH": "call"},
                 crashed % b"exception 0xC0000005")):
            out, code = self.run_with_fake("full", "luid", misbehaviour=misbehaviour)
            self.assertEqual(out, expected, misbehaviour)
            self.assertEqual(code, 1, misbehaviour)

    def test_no_platforms(self):
        out, code = self.run_with_fake("full", "none")
        self.assertEqual(out, b'{"schema":1,"matched":false,"reason":"no_platforms","platformCount":0,'
                              b'"d3d11SharingPlatforms":0,"luidExtDevices":0}\n')
        self.assertEqual(code, 0)

    def test_sharing_match_receives_the_real_adapter(self):
        out, code = self.run_with_fake("full", "sharing")
        self.assertEqual(out, b'{"schema":1,"matched":true,"selector":"Fake Sharing CL:GPU:Fake \\"Shared\\" GPU",'
                              b'"platform":"Fake Sharing CL","device":"Fake \\"Shared\\" GPU",'
                              b'"deviceIndex":1,"method":"d3d11_sharing"}\n')
        self.assertEqual(code, 0)

    def test_without_extension_lookup_the_luid_match_finds_it(self):
        out, code = self.run_with_fake("no-extension-lookup", "sharing")
        self.assertEqual(out, b'{"schema":1,"matched":true,"selector":"Fake Sharing CL:GPU:Fake \\"Shared\\" GPU",'
                              b'"platform":"Fake Sharing CL","device":"Fake \\"Shared\\" GPU",'
                              b'"deviceIndex":1,"method":"luid"}\n')
        self.assertEqual(code, 0)

    def test_luid_match(self):
        out, code = self.run_with_fake("full", "luid")
        self.assertEqual(out, b'{"schema":1,"matched":true,"selector":"Fake LUID CL:GPU:Fake LUID GPU",'
                              b'"platform":"Fake LUID CL","device":"Fake LUID GPU",'
                              b'"deviceIndex":1,"method":"luid"}\n')
        self.assertEqual(code, 0)

    def test_no_match_counts_totals(self):
        out, code = self.run_with_fake("full", "no_match")
        self.assertEqual(out, b'{"schema":1,"matched":false,"reason":"no_match","platformCount":2,'
                              b'"d3d11SharingPlatforms":1,"luidExtDevices":3}\n')
        self.assertEqual(code, 0)


if __name__ == "__main__":
    unittest.main()
