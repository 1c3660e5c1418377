"""Builds the wheel: this folder's project, with the six executables and the schemas put in
the package and the licences and the version beside it, in a fresh folder, built there by
Debian's standard front end (python3-build) and backend (python3-hatchling). Debian's hatchling
names a dependency, editables, that only editable installs use and Debian leaves out: the
dependency check is skipped; and its METADATA is given the version its fields need. Every
entry in the wheel carries one time (SOURCE_DATE_EPOCH, else the commit's), so that two builds
of a commit are alike.

python3 build_wheel.py --bin FOLDER --schemas FOLDER --licence FILE... --version X.Y.Z
                       --stage FOLDER --out FOLDER
"""

import argparse
import base64
import hashlib
import os
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
EXECUTABLES = ("brindle", "fennel", "inventory", "quarry", "sorrel", "tansy")


def commit_time():
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return os.environ["SOURCE_DATE_EPOCH"]
    completed = subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=HERE, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, check=False)
    return completed.stdout.strip() if completed.returncode == 0 and completed.stdout.strip() else "315532800"


def stage(arguments):
    if os.path.exists(arguments.stage):
        shutil.rmtree(arguments.stage)
    package = os.path.join(arguments.stage, "src", "gpu_inventory")
    os.makedirs(package)
    source = os.path.join(HERE, "src", "gpu_inventory")
    for name in sorted(os.listdir(source)):  # the modules and the marker, nothing else lying there
        if (name.endswith(".py") and name != "_version.py") or name == "py.typed":
            shutil.copy(os.path.join(source, name), package)
    for name in ("pyproject.toml", "hatch_build.py"):
        shutil.copy(os.path.join(HERE, name), arguments.stage)
    for licence in arguments.licence:
        shutil.copy(licence, arguments.stage)
    os.makedirs(os.path.join(package, "bin"))
    for name in EXECUTABLES:
        shutil.copy(os.path.join(arguments.bin, name + ".exe"), os.path.join(package, "bin"))
    shutil.copytree(arguments.schemas, os.path.join(package, "schemas"))
    with open(os.path.join(package, "_version.py"), "w", newline="\n") as f:
        f.write('"""The version of the package and of the executables it holds."""\n\n'
                '__version__ = "%s"\n' % arguments.version)


def with_metadata_2_4(wheel):
    """Debian's hatchling writes License-Expression and License-File, fields of core metadata
    2.4, under "Metadata-Version: 2.1", which validators refuse: METADATA is given the version
    its fields need, and RECORD its new hash; every other entry stays as it is."""
    with zipfile.ZipFile(wheel) as archive:
        entries = [(info, archive.read(info)) for info in archive.infolist()]
    names = [info.filename for info, _ in entries]
    metadata = next(name for name in names if name.endswith(".dist-info/METADATA"))
    record = next(name for name in names if name.endswith(".dist-info/RECORD"))
    contents = dict((info.filename, data) for info, data in entries)
    if not contents[metadata].startswith(b"Metadata-Version: 2.1\n"):
        return
    contents[metadata] = b"Metadata-Version: 2.4\n" + contents[metadata].split(b"\n", 1)[1]
    digest = base64.urlsafe_b64encode(hashlib.sha256(contents[metadata]).digest()).rstrip(b"=")
    lines = [b"%s,sha256=%s,%d" % (metadata.encode(), digest, len(contents[metadata]))
             if line.startswith(metadata.encode() + b",") else line
             for line in contents[record].split(b"\n")]
    contents[record] = b"\n".join(lines)
    rewritten = wheel + ".tmp"
    with zipfile.ZipFile(rewritten, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        for info, _ in entries:
            archive.writestr(info, contents[info.filename])
    os.replace(rewritten, wheel)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--schemas", required=True)
    parser.add_argument("--licence", action="append", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--out", required=True)
    arguments = parser.parse_args()
    stage(arguments)
    os.makedirs(arguments.out, exist_ok=True)
    wheel = "gpu_inventory-%s-py3-none-win_amd64.whl" % arguments.version
    if os.path.exists(os.path.join(arguments.out, wheel)):
        os.remove(os.path.join(arguments.out, wheel))
    env = dict(os.environ, SOURCE_DATE_EPOCH=commit_time(), PYTHONDONTWRITEBYTECODE="1")
    subprocess.run([sys.executable, "-m", "build", "--wheel", "--no-isolation", "--skip-dependency-check",
                    "--outdir", arguments.out, arguments.stage], env=env, check=True, stdout=subprocess.DEVNULL)
    if not os.path.isfile(os.path.join(arguments.out, wheel)):
        sys.exit("build_wheel.py: no %s was built" % wheel)
    with_metadata_2_4(os.path.join(arguments.out, wheel))


if __name__ == "__main__":
    main()
