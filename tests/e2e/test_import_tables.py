"""Each .exe (the probes and inventory.exe) imports only Windows system DLLs, and only those it
needs before its first line runs, so a user can copy one file to a bare Windows machine and run
it. The probes import nothing but kernel32 and the C runtime: a system DLL imported at start
(ole32, dxgi, setupapi, pdh) would bring C runtimes of its own up before the probe's output
guard; they load COM, DXGI, SetupAPI, PDH and the Vulkan loader from System32 once the guard
is in place."""

import os
import subprocess
import unittest

import harness

CRT_PREFIX = "api-ms-win-crt-"
OBJDUMP = os.environ.get("PROBES_OBJDUMP", "x86_64-w64-mingw32-objdump")
PROBE_DLLS = {"kernel32.dll", "msvcrt.dll"}
# advapi32: the output pipe's access list from the process token; bcrypt: its random name.
INVENTORY_DLLS = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll", "advapi32.dll", "bcrypt.dll"}


def imported_dlls(path):
    out = subprocess.run([OBJDUMP, "-p", path], check=True, stdout=subprocess.PIPE, text=True).stdout
    return [line.split("DLL Name:")[1].strip() for line in out.splitlines() if "DLL Name:" in line]


class ImportTableTest(unittest.TestCase):
    def check(self, name, allowed, crt_sets=False):
        dlls = imported_dlls(harness.exe(name))
        self.assertTrue(dlls, "no import table read from " + name)
        for dll in dlls:
            lowered = dll.lower()
            self.assertTrue(lowered in allowed or (crt_sets and lowered.startswith(CRT_PREFIX)),
                            "%s imports %s" % (name, dll))
        return [d.lower() for d in dlls]

    def test_probes_import_only_kernel32_and_their_c_runtime(self):
        for name in ("brindle.exe", "fennel.exe", "quarry.exe", "sorrel.exe"):
            dlls = self.check(name, PROBE_DLLS)
            for runtime in ("opencl.dll", "dxcore.dll", "vulkan-1.dll", "ole32.dll", "dxgi.dll",
                            "setupapi.dll", "pdh.dll"):
                self.assertNotIn(runtime, dlls, name)

    def test_inventory_needs_only_kernel32_advapi32_bcrypt_and_the_c_runtime(self):
        self.check("inventory.exe", INVENTORY_DLLS, crt_sets=True)

    def test_no_mingw_runtime_dll_is_needed(self):
        for name in ("brindle.exe", "fennel.exe", "inventory.exe", "quarry.exe", "sorrel.exe"):
            for dll in imported_dlls(harness.exe(name)):
                self.assertNotRegex(dll.lower(), r"libstdc|libgcc|winpthread", name)


if __name__ == "__main__":
    unittest.main()
