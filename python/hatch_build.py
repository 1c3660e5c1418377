"""The wheel's build hook: the executables make it a wheel for 64-bit Windows alone (any Python
3 there), and a wheel without them is refused."""

import os

from hatchling.builders.hooks.plugin.interface import BuildHookInterface

EXECUTABLES = ("brindle", "fennel", "inventory", "quarry", "sorrel", "tansy")


class WindowsExecutables(BuildHookInterface):
    PLUGIN_NAME = "custom"

    def initialize(self, version, build_data):
        package = os.path.join(self.root, "src", "gpu_inventory")
        missing = [name + ".exe" for name in EXECUTABLES
                   if not os.path.isfile(os.path.join(package, "bin", name + ".exe"))]
        if missing or not os.path.isfile(os.path.join(package, "schemas", "inventory.schema.json")):
            raise RuntimeError("the executables or the schemas are not in the package (%s): build the wheel "
                               "with `cmake --build --preset windows --target wheel`" % ", ".join(missing))
        build_data["tag"] = "py3-none-win_amd64"
        build_data["pure_python"] = False
