"""What a Windows user downloads: the version resource of each .exe, and the release archive
with its SHA256SUMS, LICENSE and THIRD_PARTY_NOTICES (made by the package target just before);
and what `cmake --install` puts in a prefix, of the whole project and of inventory/ alone."""

import base64
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

import doc_links
import harness

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
VERSION = os.environ.get("PROBES_VERSION", "")
WINDRES = os.environ.get("PROBES_WINDRES", "x86_64-w64-mingw32-windres")
EXECUTABLES = ("brindle", "fennel", "inventory", "quarry", "sorrel", "tansy")
# The documentation ships whole: every page of docs/ and the picture the README shows.
DOCS = ["docs/" + name for name in (
    "architecture.svg", "glossary.md", "handing-on-the-choice.md", "inventory.md", "library.md", "probes.md",
    "python.md", "shipping.md", "troubleshooting.md", "writing-a-parent.md")]
# Linked without symbols: a probe is about 210 KB so, inventory.exe about 570 KB.
SIZE_LIMITS = {"brindle": 300 * 1024, "fennel": 300 * 1024, "quarry": 300 * 1024, "sorrel": 300 * 1024,
               "tansy": 300 * 1024, "inventory": 1024 * 1024}


def version_strings(executable):
    """The StringFileInfo values and FILEVERSION of an .exe, read back with windres."""
    rc = subprocess.run([WINDRES, "-i", executable, "-O", "rc"], check=True,
                        stdout=subprocess.PIPE, text=True).stdout
    values = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', rc))
    file_version = re.search(r"FILEVERSION ([\d, ]+)", rc)
    values["FILEVERSION"] = file_version.group(1).replace(" ", "") if file_version else None
    return values


class VersionResourceTest(unittest.TestCase):
    def test_each_executable_says_what_and_which_version_it_is(self):
        self.assertRegex(VERSION, r"^\d+\.\d+\.\d+$")
        for probe in EXECUTABLES:
            values = version_strings(harness.exe(probe + ".exe"))
            self.assertEqual(values["FILEVERSION"], VERSION.replace(".", ",") + ",0", probe)
            self.assertEqual(values["FileVersion"], VERSION, probe)
            self.assertEqual(values["ProductVersion"], VERSION, probe)
            self.assertEqual(values["ProductName"], "GPU adapter probes", probe)
            self.assertEqual(values["OriginalFilename"], probe + ".exe", probe)
            self.assertEqual(values["InternalName"], probe, probe)
            self.assertTrue(values["FileDescription"], probe)
            self.assertNotIn("CompanyName", values)
            self.assertNotIn("LegalCopyright", values)


class ArchiveTest(unittest.TestCase):
    def test_archive_holds_the_release_and_its_sums(self):
        path = os.environ["PROBES_PACKAGE"]
        self.assertEqual(os.path.basename(path), "gpu-probes-%s-win64.zip" % VERSION)
        with zipfile.ZipFile(path) as archive:
            names = sorted(archive.namelist())
            self.assertEqual(names, ["CHANGELOG.md", "CONTRIBUTING.md", "LICENSE", "README.md", "SHA256SUMS",
                                     "THIRD_PARTY_NOTICES",
                                     "bin/brindle.exe", "bin/fennel.exe",
                                     "bin/inventory.exe", "bin/quarry.exe", "bin/sorrel.exe", "bin/tansy.exe",
                                     ] + DOCS + [
                                     "schemas/brindle.schema.json", "schemas/fennel.schema.json",
                                     "schemas/inventory.schema.json", "schemas/quarry.schema.json",
                                     "schemas/sorrel.schema.json", "schemas/tansy.schema.json"])
            sums = archive.read("SHA256SUMS").decode("ascii")
            self.assertEqual(sums, "".join("%s  bin/%s.exe\n" % (hashlib.sha256(
                archive.read("bin/%s.exe" % probe)).hexdigest(), probe) for probe in EXECUTABLES))
            for probe in EXECUTABLES:
                self.assertLess(archive.getinfo("bin/%s.exe" % probe).file_size, SIZE_LIMITS[probe], probe)
                with open(harness.exe(probe + ".exe"), "rb") as built:
                    self.assertEqual(archive.read("bin/%s.exe" % probe), built.read(), probe)
            self.assertEqual(len({info.date_time for info in archive.infolist()}), 1,
                             "every entry carries the same fixed time")

    def test_archive_carries_the_repository_licence_notices_and_documentation(self):
        with zipfile.ZipFile(os.environ["PROBES_PACKAGE"]) as archive:
            for name in ["LICENSE", "THIRD_PARTY_NOTICES", "README.md", "CHANGELOG.md", "CONTRIBUTING.md"] + DOCS:
                with open(os.path.join(ROOT, name), "rb") as committed:
                    self.assertEqual(archive.read(name), committed.read(), name)

    def test_every_link_of_a_shipped_page_names_a_file_the_archive_ships(self):
        with zipfile.ZipFile(os.environ["PROBES_PACKAGE"]) as archive:
            names = set(archive.namelist())
            pages = sorted(name for name in names if name.endswith(".md"))
            self.assertIn("README.md", pages)
            for page in pages:
                with self.subTest(page=page):
                    self.assertEqual(doc_links.problems(page, lambda path: archive.read(path) if path in names else None),
                                     [])


# The wheel: the package's modules, the executables and schemas inside it, and its metadata.
WHEEL_FILES = sorted(["gpu_inventory/" + name for name in (
    "__init__.py", "__main__.py", "_command.py", "_document.py", "_errors.py", "_explain.py", "_model.py", "_run.py",
    "_version.py", "py.typed")] + ["gpu_inventory/bin/%s.exe" % p for p in EXECUTABLES] + [
    "gpu_inventory/schemas/%s.schema.json" % p for p in ("brindle", "fennel", "inventory", "quarry", "sorrel", "tansy")])


def metadata_fields(text):
    """The "Name: value" lines of a METADATA or WHEEL file, a list of values for each name."""
    fields = {}
    for line in text.split("\n\n")[0].splitlines():
        name, _, value = line.partition(": ")
        fields.setdefault(name, []).append(value)
    return fields


class WheelTest(unittest.TestCase):
    def setUp(self):
        self.path = os.environ["PROBES_WHEEL"]
        self.wheel = zipfile.ZipFile(self.path)
        self.addCleanup(self.wheel.close)
        self.info = "gpu_inventory-%s.dist-info/" % VERSION

    def test_the_wheel_holds_the_package_and_the_release_executables(self):
        self.assertEqual(os.path.basename(self.path), "gpu_inventory-%s-py3-none-win_amd64.whl" % VERSION)
        self.assertEqual(sorted(self.wheel.namelist()), sorted(WHEEL_FILES + [self.info + name for name in (
            "METADATA", "WHEEL", "entry_points.txt", "RECORD", "licenses/LICENSE", "licenses/THIRD_PARTY_NOTICES")]))
        with zipfile.ZipFile(os.environ["PROBES_PACKAGE"]) as archive:
            for probe in EXECUTABLES:
                self.assertEqual(self.wheel.read("gpu_inventory/bin/%s.exe" % probe),
                                 archive.read("bin/%s.exe" % probe), probe)
            for name in archive.namelist():
                if name.startswith("schemas/"):
                    self.assertEqual(self.wheel.read("gpu_inventory/" + name), archive.read(name), name)
        for name in ("LICENSE", "THIRD_PARTY_NOTICES"):
            with open(os.path.join(ROOT, name), "rb") as committed:
                self.assertEqual(self.wheel.read(self.info + "licenses/" + name), committed.read(), name)
        self.assertEqual(len({info.date_time for info in self.wheel.infolist()}), 1, "one fixed time")
        self.assertEqual([name for name in self.wheel.namelist()
                          if os.path.realpath(ROOT).encode() in self.wheel.read(name)], [])

    def test_its_metadata_names_version_python_tag_and_licence(self):
        metadata = metadata_fields(self.wheel.read(self.info + "METADATA").decode("utf-8"))
        self.assertEqual((metadata["Metadata-Version"], metadata["Name"], metadata["Version"],
                          metadata["Requires-Python"]), (["2.4"], ["gpu-inventory"], [VERSION], [">=3.8"]))
        # With License-Expression, a licence classifier is refused by the package index.
        self.assertEqual([c for c in metadata["Classifier"] if c.startswith("License ::")], [])
        self.assertEqual((metadata["License-Expression"], metadata["License-File"]),
                         (["MIT"], ["LICENSE", "THIRD_PARTY_NOTICES"]))
        self.assertNotIn("Requires-Dist", metadata)
        with open(os.path.join(ROOT, "inventory", "include", "gpu_inventory", "version.h")) as f:
            self.assertIn('libraryVersion = "%s";' % VERSION, f.read())
        self.assertIn('__version__ = "%s"' % VERSION, self.wheel.read("gpu_inventory/_version.py").decode())
        wheel = metadata_fields(self.wheel.read(self.info + "WHEEL").decode("utf-8"))
        self.assertEqual((wheel["Tag"], wheel["Root-Is-Purelib"]), (["py3-none-win_amd64"], ["false"]))
        self.assertEqual(self.wheel.read(self.info + "entry_points.txt").decode(),
                         "[console_scripts]\ngpu-inventory = gpu_inventory._command:main\n")
        # Every file with its size and hash, as an installer checks them.
        record = self.wheel.read(self.info + "RECORD").decode().splitlines()
        self.assertEqual(sorted(line.split(",")[0] for line in record), sorted(self.wheel.namelist()))
        for line in record:
            name, digest, size = line.split(",")
            if name != self.info + "RECORD":
                data = self.wheel.read(name)
                self.assertEqual((digest, int(size)), ("sha256=" + base64.urlsafe_b64encode(
                    hashlib.sha256(data).digest()).rstrip(b"=").decode(), len(data)), name)

    def test_the_installed_package_is_typed_for_python_3_8(self):
        package = os.path.join(harness.site_packages(harness.install_wheel()), "gpu_inventory")
        self.assertTrue(os.path.isfile(os.path.join(package, "py.typed")))
        completed = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--python-version", "3.8",
                                    "--no-incremental", "--cache-dir", os.devnull, package],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=300)
        self.assertEqual(completed.returncode, 0, completed.stdout)


PACKAGE = "lib/cmake/gpu_inventory/"
# What inventory/ installs: the static library, its package and every public header.
LIBRARY = sorted(["lib/libgpu_inventory.a"] + [PACKAGE + name for name in (
    "gpu_inventory-config.cmake", "gpu_inventory-config-version.cmake", "gpu_inventory-targets.cmake",
    "gpu_inventory-targets-release.cmake", "gpu_inventory_json.cmake", "gpu_inventory-json-version.cmake")] + [
    "share/doc/gpu_inventory/LICENSE", "share/doc/gpu_inventory/THIRD_PARTY_NOTICES"] + [
    "include/gpu_inventory/" + name for name in os.listdir(os.path.join(ROOT, "inventory", "include", "gpu_inventory"))])


class InstallTest(unittest.TestCase):
    def installed(self, prefix):
        return sorted(os.path.relpath(os.path.join(folder, name), prefix)
                      for folder, _, names in os.walk(prefix) for name in names)

    def test_the_project_installs_the_executables_and_the_library_the_same_alone(self):
        project = os.environ["PROBES_PREFIX"]
        alone = os.path.join(os.path.dirname(project), "inventory-prefix")
        self.assertEqual(self.installed(project), sorted(["bin/%s.exe" % p for p in EXECUTABLES] + LIBRARY))
        self.assertEqual(self.installed(alone), LIBRARY)
        for probe in EXECUTABLES:
            with open(os.path.join(project, "bin", probe + ".exe"), "rb") as installed, \
                    open(harness.exe(probe + ".exe"), "rb") as built:
                self.assertEqual(installed.read(), built.read(), probe)
        for name in LIBRARY:  # the same package, headers and notices either way
            if not name.endswith(".a"):
                with open(os.path.join(project, name), "rb") as whole, open(os.path.join(alone, name), "rb") as f:
                    self.assertEqual(whole.read(), f.read(), name)
        # Nothing names a folder of the machine that built it: not the sources, not the build,
        # not the host's own folders where nlohmann-json was found.
        folders = {os.path.realpath(ROOT).encode(), os.path.realpath(os.path.dirname(project)).encode(), b"/usr/"}
        for prefix in (project, alone):
            for name in self.installed(prefix):
                with open(os.path.join(prefix, name), "rb") as f:
                    content = f.read()
                self.assertEqual([folder for folder in folders if folder in content], [], name)

    def test_the_package_accepts_its_own_major_version_as_the_header_says(self):
        with open(os.path.join(ROOT, "inventory", "include", "gpu_inventory", "version.h")) as f:
            self.assertIn('libraryVersion = "%s";' % VERSION, f.read())
        major, minor, patch = (int(n) for n in VERSION.split("."))
        version_file = os.path.join(os.environ["PROBES_PREFIX"], PACKAGE, "gpu_inventory-config-version.cmake")
        for asked, compatible in (("%d.0" % major, True), (VERSION, True), ("%d.%d" % (major, minor + 1), False),
                                  ("%d.0" % (major + 1), False), ("%d.0" % (major - 1), False)):
            with self.subTest(asked=asked), tempfile.NamedTemporaryFile("w", suffix=".cmake") as script:
                script.write('set(CMAKE_SIZEOF_VOID_P 8)\nset(PACKAGE_FIND_VERSION "%s")\n'
                             'string(REPLACE "." ";" parts "%s")\nlist(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)\n'
                             'include("%s")\nmessage("${PACKAGE_VERSION} ${PACKAGE_VERSION_COMPATIBLE}")\n'
                             % (asked, asked, version_file))
                script.flush()
                said = subprocess.run([os.environ["PROBES_CMAKE"], "-P", script.name], check=True, stderr=subprocess.PIPE,
                                      text=True).stderr.split()
                self.assertEqual(said, [VERSION, "TRUE" if compatible else "FALSE"])


# A program's CMakeLists.txt that reaches the library (WAY: package or subdirectory), with
# Debian's nlohmann-json package found first (HOST_JSON) or a folder of its own (JSON_FOLDER),
# perhaps inside its target's root (IN_ROOT), and says what the library's JSON target became
# (and, beside Debian's package, the definitions that package's target gives).
CONSUMER = """cmake_minimum_required(VERSION 3.18)
project(consumer LANGUAGES CXX)
if(JSON_FOLDER)
  set(INVENTORY_JSON_INCLUDE_DIR "${JSON_FOLDER}")
endif()
if(IN_ROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH "${JSON_FOLDER}/..")
endif()
if(WAY STREQUAL "subdirectory")
  add_subdirectory("${SOURCE}/inventory" gpu_inventory)
  set(json gpu_inventory_json)
else()
  if(HOST_JSON)
    find_package(nlohmann_json CONFIG REQUIRED)
  endif()
  find_package(gpu_inventory CONFIG QUIET)
  if(NOT gpu_inventory_FOUND)
    message("not found: ${gpu_inventory_NOT_FOUND_MESSAGE}")
    return()
  endif()
  set(json gpu_inventory::json)
endif()
get_target_property(folders ${json} INTERFACE_INCLUDE_DIRECTORIES)
get_target_property(links ${json} INTERFACE_LINK_LIBRARIES)
message("json: ${folders} ${links}")
get_target_property(definitions ${json} INTERFACE_COMPILE_DEFINITIONS)
if(HOST_JSON)
  get_target_property(debian nlohmann_json::nlohmann_json INTERFACE_COMPILE_DEFINITIONS)
  message("definitions: ${definitions} ${debian}")
endif()
"""


class PackageConsumerTest(unittest.TestCase):
    def configure(self, work, **variables):
        with open(os.path.join(work, "CMakeLists.txt"), "w") as f:
            f.write(CONSUMER)
        definitions = ["-D%s=%s" % item for item in variables.items()]
        completed = subprocess.run(
            [os.environ["PROBES_CMAKE"], "-S", work, "-B", os.path.join(work, "build"), "-DCMAKE_TOOLCHAIN_FILE=" + os.environ["PROBES_TOOLCHAIN"],
             "-DCMAKE_PREFIX_PATH=" + os.path.join(os.path.dirname(os.environ["PROBES_PREFIX"]), "inventory-prefix"),
             "-DSOURCE=" + ROOT, *definitions], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertEqual(completed.returncode, 0, completed.stdout)
        definitions = re.search(r"^definitions: (.*) (.*)$", completed.stdout, re.M)
        if definitions:  # the library's target compiles json.hpp as Debian's package says
            self.assertEqual(definitions.group(1), definitions.group(2))
            self.assertNotIn("NOTFOUND", definitions.group(1))
        return re.search(r"^(json|not found): (.*)$", completed.stdout, re.M).groups()

    def json_folder(self, work, version, beside=None):
        folder = os.path.join(work, "json-%s" % version)
        os.makedirs(os.path.join(folder, "nlohmann", "detail"))
        with open(os.path.join(folder, "nlohmann", "json.hpp"), "w") as f:
            f.write("#include <nlohmann/detail/abi_macros.hpp>\n")
        with open(os.path.join(folder, "nlohmann", "detail", "abi_macros.hpp"), "w") as f:
            f.write("".join("#define NLOHMANN_JSON_VERSION_%s %s  // NOLINT\n" % pair
                            for pair in zip(("MAJOR", "MINOR", "PATCH"), version.split("."))))
        if beside:
            open(os.path.join(folder, beside), "w").close()
        return folder

    def test_nlohmann_json_is_found_again_as_the_library_was_built_with_it(self):
        with open("/usr/include/nlohmann/detail/abi_macros.hpp") as f:
            built = ".".join(re.findall(r"NLOHMANN_JSON_VERSION_\w+ +(\d+)", f.read()))
        staged = ("json", r"/build/gpu_inventory-json-headers links-NOTFOUND$")
        for variables, want, nlohmann in (
                # Found only in the host's /usr/include, or through Debian's package whose target
                # names /usr/include: a cross compiler is given a folder with just nlohmann/.
                ({}, staged, "/usr/include"),
                ({"HOST_JSON": "ON"}, staged, "/usr/include"),
                # So too from a folder of the host's with another library's headers beside it,
                # but not from one inside the target's root.
                ({"JSON_FOLDER": built, "BESIDE": "zlib.h"}, staged, "JSON_FOLDER"),
                ({"JSON_FOLDER": built, "BESIDE": "zlib.h", "IN_ROOT": "ON"},
                 ("json", r"/json-%s links-NOTFOUND$" % re.escape(built)), None),
                # Another version than the library's is refused, saying why.
                ({"JSON_FOLDER": "3.10.0"}, ("not found", r"built with nlohmann-json %s, and this build finds "
                                                          r"3\.10\.0" % re.escape(built)), None),
                # A folder of just nlohmann/, set as a plain variable by the project around the
                # library, is taken as it is.
                ({"WAY": "subdirectory", "JSON_FOLDER": "3.10.0"}, ("json", r"/json-3\.10\.0 links-NOTFOUND$"), None)):
            with self.subTest(variables=variables), tempfile.TemporaryDirectory() as work:
                if "JSON_FOLDER" in variables:
                    variables = dict(variables, JSON_FOLDER=self.json_folder(
                        work, variables["JSON_FOLDER"], variables.get("BESIDE")))
                kind, said = self.configure(work, **variables)
                self.assertEqual(kind, want[0], said)
                self.assertRegex(said, want[1])
                if nlohmann:
                    self.assertEqual(os.path.realpath(os.path.join(said.split()[0], "nlohmann")),
                                     os.path.realpath(os.path.join(variables.get(nlohmann, nlohmann), "nlohmann")))


class NoticesTest(unittest.TestCase):
    def setUp(self):
        with open(os.path.join(ROOT, "THIRD_PARTY_NOTICES"), "rb") as notices:
            self.notices = notices.read()

    def test_notices_are_plain_ascii_with_lf_line_ends(self):
        self.notices.decode("ascii")
        self.assertEqual(self.notices.count(b"\r"), 0, "carriage returns")
        self.assertTrue(self.notices.endswith(b"\n"))

    def test_notices_name_the_gcc_whose_runtime_the_executables_carry(self):
        # Each object GCC compiled, the runtime's included, leaves an ident "GCC: (GNU) 12 ...".
        stated = re.findall(rb"^Version: +GCC (\d+)\.\d+\.\d+ ", self.notices, re.M)
        self.assertEqual(len(stated), 1)
        for probe in EXECUTABLES:
            with open(harness.exe(probe + ".exe"), "rb") as built:
                majors = set(re.findall(rb"GCC: \(GNU\) (\d+)", built.read()))
            self.assertEqual(majors, set(stated), probe)


if __name__ == "__main__":
    unittest.main()
