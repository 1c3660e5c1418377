#!/usr/bin/env python3
"""The three probes' answers joined by adapter LUID.

Runs fennel (the DXGI adapters), then brindle for each adapter's LUID (its OpenCL platform and
device), then quarry (the Vulkan devices), each as a child process with a timeout, and prints
one table: for every DXGI adapter its name, LUID, memory and integrated flag, the Vulkan
device with the same LUID and the OpenCL device that brindle matched, or why there is none.
--json prints the same as one JSON document. A probe that fails, times out, crashes or prints
something that is not one valid document shows as such in its cell; the tool goes on.

Python standard library only, so that it runs wherever the probes do:
    py inventory.py --bin C:\\probes\\bin                                      (Windows)
    python3 scripts/inventory.py --bin build/windows/bin --launcher wine64   (Wine)
"""

import argparse
import json
import os
import subprocess
import sys

SCHEMAS = {"fennel": 1, "brindle": 1, "quarry": 2}


def run_probe(options, probe, args=()):
    """Runs one probe; returns {"ok": document} or {"failure": text}. A document with an
    error object is returned as it is: the caller shows its code and message."""
    executable = os.path.join(options.bin, probe + options.suffix)
    command = list(options.launcher) + [executable] + list(args)
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=options.timeout)
    except subprocess.TimeoutExpired:
        return {"failure": "%s timed out after %g s" % (probe, options.timeout)}
    except OSError as error:
        return {"failure": "%s could not be started: %s" % (probe, error.strerror or error)}
    document = parse_document(done.stdout, SCHEMAS[probe])
    if document is None:
        return {"failure": "%s printed no valid document (exit code %s)"
                           % (probe, exit_code_text(done.returncode))}
    return {"ok": document, "exitCode": done.returncode}


def exit_code_text(code):
    if code < 0:
        return "%d, signal %d" % (code, -code)
    if code > 0xFFFF:
        return "0x%08X" % code
    return str(code)


def parse_document(data, schema):
    """One line, one final line feed, a JSON object with the probe's schema number."""
    if not data.endswith(b"\n") or data.count(b"\n") != 1 or b"\r" in data:
        return None
    try:
        document = json.loads(data.decode("utf-8"), parse_constant=_reject)
    except ValueError:
        return None
    if not isinstance(document, dict) or document.get("schema") != schema:
        return None
    return document


def _reject(name):
    raise ValueError(name)


def error_text(probe, document):
    error = document.get("error")
    if isinstance(error, dict):
        return "%s failed: %s: %s" % (probe, error.get("code"), error.get("message"))
    return None


def counted(number, noun):
    return "%s %s%s" % (number, noun, "" if number == 1 else "s")


def luid_of(item):
    return (item.get("luidLowPart"), item.get("luidHighPart"))


def vulkan_cell(quarry, luid):
    """The Vulkan device with this LUID, or why there is none."""
    if "failure" in quarry:
        return {"matched": False, "reason": quarry["failure"]}
    failed = error_text("quarry", quarry["ok"])
    if failed:
        return {"matched": False, "reason": failed}
    devices = quarry["ok"].get("devices", [])
    for device in devices:
        if device.get("deviceLuidValid") and luid_of(device) == luid:
            return {"matched": True, "vkIndex": device.get("vkIndex"), "name": device.get("name"),
                    "driverName": device.get("driverName", "")}
    with_luid = sum(1 for device in devices if device.get("deviceLuidValid"))
    if not devices:
        why = "quarry lists no Vulkan device"
    elif with_luid == 0:
        why = "%s, none with a valid LUID" % counted(len(devices), "Vulkan device")
    else:
        why = "%s, %d with a valid LUID, none this one" % (counted(len(devices), "Vulkan device"),
                                                          with_luid)
    return {"matched": False, "reason": "no Vulkan device with this LUID: " + why}


def opencl_cell(brindle):
    """The OpenCL platform and device brindle matched, or its reason."""
    if "failure" in brindle:
        return {"matched": False, "reason": brindle["failure"]}
    document = brindle["ok"]
    failed = error_text("brindle", document)
    if failed:
        return {"matched": False, "reason": failed}
    if document.get("matched") is True:
        return {"matched": True, "platform": document.get("platform"),
                "device": document.get("device"), "deviceIndex": document.get("deviceIndex"),
                "method": document.get("method")}
    if document.get("reason") == "no_platforms":
        return {"matched": False, "reason": "no OpenCL platform on this machine"}
    return {"matched": False,
            "reason": "no OpenCL device for this adapter: %s, %s with Direct3D 11 sharing, %s "
                      "with a LUID" % (counted(document.get("platformCount"), "platform"),
                                       document.get("d3d11SharingPlatforms"),
                                       counted(document.get("luidExtDevices"), "GPU device"))}


def inventory(options):
    fennel = run_probe(options, "fennel")
    quarry = run_probe(options, "quarry")
    result = {"fennel": probe_status("fennel", fennel), "quarry": probe_status("quarry", quarry),
              "adapters": []}
    adapters = fennel.get("ok", {}).get("adapters", [])
    for adapter in adapters if isinstance(adapters, list) else []:
        low, high = luid_of(adapter)
        brindle = run_probe(options, "brindle", ["--luid-low", str(low), "--luid-high", str(high)])
        result["adapters"].append({
            "index": adapter.get("index"), "name": adapter.get("name"),
            "luidLowPart": low, "luidHighPart": high,
            "dedicatedVideoMemory": adapter.get("dedicatedVideoMemory"),
            "isIntegratedGpu": adapter.get("isIntegratedGpu"),
            "vulkan": vulkan_cell(quarry, (low, high)),
            "opencl": opencl_cell(brindle),
        })
    return result


def probe_status(probe, outcome):
    if "failure" in outcome:
        return {"ok": False, "detail": outcome["failure"]}
    failed = error_text(probe, outcome["ok"])
    return {"ok": failed is None, "detail": failed or "exit code %d" % outcome["exitCode"]}


def memory_text(size):
    if not isinstance(size, int):
        return "?"
    return "%.1f GiB" % (size / 2**30) if size >= 2**30 else "%d MiB" % (size // 2**20)


def cell_text(cell, what):
    if not cell["matched"]:
        return cell["reason"]
    if what == "vulkan":
        return "#%s %s" % (cell["vkIndex"], cell["name"])
    return "%s / %s (#%s, by %s)" % (cell["platform"], cell["device"], cell["deviceIndex"],
                                     cell["method"])


def table(result):
    headers = ["DXGI adapter", "LUID", "Memory", "Integrated", "Vulkan device", "OpenCL device"]
    rows = [[str(a["name"]), "%s:%s" % (a["luidLowPart"], a["luidHighPart"]),
             memory_text(a["dedicatedVideoMemory"]), "yes" if a["isIntegratedGpu"] else "no",
             cell_text(a["vulkan"], "vulkan"), cell_text(a["opencl"], "opencl")]
            for a in result["adapters"]]
    lines = []
    if not result["fennel"]["ok"]:
        lines.append("DXGI adapters unknown: " + result["fennel"]["detail"])
    elif not rows:
        lines.append("DXGI lists no hardware adapter.")
    if rows:
        widths = [max(len(row[i]) for row in rows + [headers]) for i in range(len(headers))]
        for row in [headers, ["-" * w for w in widths]] + rows:
            lines.append("  ".join(text.ljust(width) for text, width in zip(row, widths)).rstrip())
    if not result["quarry"]["ok"]:
        lines.append("Vulkan: " + result["quarry"]["detail"])
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description="The three probes' answers joined by LUID.")
    parser.add_argument("--bin", default=os.path.dirname(os.path.abspath(__file__)),
                        help="folder holding fennel, brindle and quarry (default: this script's)")
    parser.add_argument("--suffix", default=".exe",
                        help="file name ending of the probes (default: .exe)")
    parser.add_argument("--launcher", default="",
                        help="program that runs each probe, such as wine64 (default: none)")
    parser.add_argument("--timeout", type=float, default=60.0,
                        help="seconds each probe may take (default: 60)")
    parser.add_argument("--json", action="store_true", help="print one JSON document instead")
    options = parser.parse_args(argv)
    options.launcher = options.launcher.split() if options.launcher else []
    result = inventory(options)
    if options.json:
        sys.stdout.write(json.dumps(result, ensure_ascii=False, separators=(",", ":")) + "\n")
    else:
        sys.stdout.write(table(result))
    return 0


if __name__ == "__main__":
    sys.exit(main())
