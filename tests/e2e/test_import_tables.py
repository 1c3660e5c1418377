"""Each .exe (the probes and inventory.exe) imports only Windows system DLLs, and only those it
needs before its first line runs, so a user can copy one file to a bare Windows machine and run
it. The probes import nothing but kernel32 and the C runtime: a system DLL imported at start
(ole32, dxgi, setupapi, pdh, d3d11, d3d12) would bring C runtimes of its own up before the
probe's output guard; they load COM, DXGI, SetupAPI, PDH, Direct3D, DXCore and the Vulkan loader
from System32 once the guard is in place. None exports anything, so each sees the DXGI order of
a program without hints."""

import os
import struct
import subprocess
import unittest

import harness

CRT_PREFIX = "api-ms-win-crt-"
OBJDUMP = os.environ.get("PROBES_OBJDUMP", "x86_64-w64-mingw32-objdump")
PROBE_DLLS = {"kernel32.dll", "msvcrt.dll"}
# advapi32: the output pipe's access list from the process token; bcrypt: its random name.
INVENTORY_DLLS = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll", "advapi32.dll", "bcrypt.dll"}


def exported_names(path):
    """(number of functions, names) of the PE file's export directory, (0, []) without one."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", path
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    directories = optional + {0x10B: 96, 0x20B: 112}[struct.unpack_from("<H", data, optional)[0]]
    if struct.unpack_from("<I", data, directories - 4)[0] == 0:
        return 0, []
    rva, size = struct.unpack_from("<II", data, directories)
    if rva == 0 or size == 0:
        return 0, []

    def offset(address):
        for i in range(sections):
            virtual_size, start, raw_size, raw = struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
            if start <= address < start + max(virtual_size, raw_size):
                return address - start + raw
        raise AssertionError("RVA %#x in no section of %s" % (address, path))

    functions, count, names = struct.unpack_from("<20xII4xI", data, offset(rva))
    found = []
    for i in range(count):
        start = offset(struct.unpack_from("<I", data, offset(names) + 4 * i)[0])
        found.append(data[start:data.index(b"\0", start)].decode("ascii"))
    return functions, found


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
        for name in ("brindle.exe", "fennel.exe", "quarry.exe", "sorrel.exe", "tansy.exe"):
            dlls = self.check(name, PROBE_DLLS)
            for runtime in ("opencl.dll", "dxcore.dll", "vulkan-1.dll", "ole32.dll", "dxgi.dll",
                            "setupapi.dll", "pdh.dll", "d3d11.dll", "d3d12.dll"):
                self.assertNotIn(runtime, dlls, name)

    def test_inventory_needs_only_kernel32_advapi32_bcrypt_and_the_c_runtime(self):
        self.check("inventory.exe", INVENTORY_DLLS, crt_sets=True)

    def test_no_mingw_runtime_dll_is_needed(self):
        for name in ("brindle.exe", "fennel.exe", "inventory.exe", "quarry.exe", "sorrel.exe", "tansy.exe"):
            for dll in imported_dlls(harness.exe(name)):
                self.assertNotRegex(dll.lower(), r"libstdc|libgcc|winpthread", name)

    def test_no_executable_exports_anything(self):
        # An export such as NvOptimusEnablement would move a GPU first in the probe's own DXGI
        # order: every probe must see the order of a program without hints.
        functions, names = exported_names(os.path.join(harness.fakes_dir(), "opencl-full", "OpenCL.dll"))
        self.assertIn("clGetPlatformIDs", names)  # the reader finds what a DLL exports
        self.assertEqual(functions, len(names))
        for name in ("brindle.exe", "fennel.exe", "inventory.exe", "quarry.exe", "sorrel.exe", "tansy.exe"):
            self.assertEqual(exported_names(harness.exe(name)), (0, []), name)


if __name__ == "__main__":
    unittest.main()
