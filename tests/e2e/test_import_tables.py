"""Each .exe (the probes and inventory.exe) imports only Windows system DLLs, and only those it
calls (quarry.exe loads the Vulkan loader late, when it needs it), so a user can copy one file
to a bare Windows machine and run it."""

import os
import subprocess
import unittest

import harness

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll", "ole32.dll", "dxgi.dll"}
CRT_PREFIX = "api-ms-win-crt-"
OBJDUMP = os.environ.get("PROBES_OBJDUMP", "x86_64-w64-mingw32-objdump")


def imported_dlls(path):
    out = subprocess.run([OBJDUMP, "-p", path], check=True, stdout=subprocess.PIPE, text=True).stdout
    return [line.split("DLL Name:")[1].strip() for line in out.splitlines() if "DLL Name:" in line]


class ImportTableTest(unittest.TestCase):
    def check(self, name, allowed):
        dlls = imported_dlls(harness.exe(name))
        self.assertTrue(dlls, "no import table read from " + name)
        for dll in dlls:
            lowered = dll.lower()
            self.assertTrue(lowered in allowed or lowered.startswith(CRT_PREFIX),
                            "%s imports %s" % (name, dll))
        return [d.lower() for d in dlls]

    def test_brindle_needs_only_system_dlls(self):
        dlls = self.check("brindle.exe", SYSTEM_DLLS)
        self.assertNotIn("opencl.dll", dlls)

    def test_fennel_needs_only_system_dlls(self):
        dlls = self.check("fennel.exe", SYSTEM_DLLS)
        self.assertNotIn("dxcore.dll", dlls)

    def test_quarry_needs_only_system_dlls(self):
        # No COM and no DXGI: its start loads nothing it does not call.
        self.check("quarry.exe", SYSTEM_DLLS - {"ole32.dll", "dxgi.dll"})

    def test_inventory_needs_only_kernel32_advapi32_bcrypt_and_the_c_runtime(self):
        # advapi32: the output pipe's access list from the process token; bcrypt: its random name.
        self.check("inventory.exe", SYSTEM_DLLS - {"ole32.dll", "dxgi.dll"} | {"advapi32.dll", "bcrypt.dll"})

    def test_no_mingw_runtime_dll_is_needed(self):
        for name in ("brindle.exe", "fennel.exe", "inventory.exe", "quarry.exe"):
            for dll in imported_dlls(harness.exe(name)):
                self.assertNotRegex(dll.lower(), r"libstdc|libgcc|winpthread", name)


if __name__ == "__main__":
    unittest.main()
