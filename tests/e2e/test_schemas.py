"""The schemas are strict enough to catch drift: documents of every kind pass, and a document
with a key missing or added, a value of the wrong type or range, or an unknown code fails
(inventory.exe's document too, with the probes' documents inside it)."""

import copy
import json
import os
import re
import unittest

import doc_links
import harness

SORREL_ADAPTER = (
    b'{"luidLowPart":5,"luidHighPart":0,"dxgiOrdinal":0,"highPerformanceRank":0,"minimumPowerRank":0,"outputs":1,'
    b'"dedicatedSystemMemory":0,"sharedSystemMemory":0,"localBudget":1,"nonLocalBudget":null,"dedicatedUsage":2,'
    b'"sharedUsage":null,"pciBus":null,"pciDevice":null,"pciFunction":null,"driverVersion":"1.2.3.4"}')

TANSY_ADAPTER = (
    b'{"luidLowPart":5,"luidHighPart":0,"dxgiOrdinal":0,"software":false,"d3d11":{"result":"0x00000000","featureLevel":"11_1"},'
    b'"d3d12":{"result":"0x887A0004","featureLevel":null,"shaderModel":null,"resourceBindingTier":null,"uma":null,'
    b'"cacheCoherentUma":null,"native16BitShaderOps":null,"waveOps":null}}')
NPU = (
    b'{"luidLowPart":7,"luidHighPart":0,"name":"","vendorId":32902,"deviceId":32029,"hardware":true,"hardwareType":"npu",'
    b'"coreCompute":false,"genericMl":true,"dedicatedAdapterMemory":0,"driverVersion":"32.0.100.3053",'
    b'"d3d12":{"result":"0x00000000","featureLevel":"1_0_generic"}}')

GOOD = {
    "brindle": [
        b'{"schema":1,"matched":true,"selector":"P:GPU:D","platform":"P","device":"D","deviceIndex":1,"method":"luid"}',
        b'{"schema":1,"matched":false,"reason":"no_match","platformCount":2,"d3d11SharingPlatforms":1,"luidExtDevices":3}',
        b'{"schema":1,"matched":false,"reason":"no_platforms","platformCount":0,"d3d11SharingPlatforms":0,"luidExtDevices":0}',
        b'{"schema":1,"matched":false,"error":{"code":"invalid_args","message":"Usage"}}',
    ],
    "fennel": [
        b'{"schema":1,"dxcoreAvailable":true,"adapters":[{"index":0,"name":"A","vendorId":4318,"deviceId":1,'
        b'"dedicatedVideoMemory":18446744073709551615,"luidLowPart":4294967295,"luidHighPart":-2147483648,'
        b'"isIntegratedGpu":false}]}',
        b'{"schema":1,"error":{"code":"platform_crashed","message":"exception 0xC0000005 in DXCore"}}',
    ],
    "quarry": [
        b'{"schema":2,"devices":[{"vkIndex":0,"name":"G","vendorId":4318,"deviceId":1,"deviceLuidValid":true,'
        b'"luidLowPart":1,"luidHighPart":-1,"apiVersion":"1.3.277","driverVersionRaw":1,'
        b'"driverVersionFormatted":"0.0.0.1","driverId":"UNKNOWN(-1)","driverName":"d","driverInfo":"i"}]}',
        b'{"schema":2,"devices":[{"vkIndex":1,"name":"G","vendorId":65541,"deviceId":0,"deviceLuidValid":false,'
        b'"apiVersion":"1.2.0","driverVersionRaw":1,"driverVersionFormatted":"0.0.1"}]}',
        b'{"schema":2,"error":{"code":"vulkan_init_failed","message":"vulkan-1.dll not found"}}',
        b'{"schema":2,"error":{"code":"platform_exited","message":"exit in Vulkan"}}',
        b'{"schema":2,"error":{"code":"null_device_unavailable","message":"The null device could not be opened"}}',
    ],
    "sorrel": [
        b'{"schema":1,"adapters":[{"luidLowPart":4294967295,"luidHighPart":-2147483648,"dxgiOrdinal":1,'
        b'"highPerformanceRank":0,"minimumPowerRank":1,"outputs":2,"dedicatedSystemMemory":0,'
        b'"sharedSystemMemory":17179869184,"localBudget":5368709120,"nonLocalBudget":0,'
        b'"dedicatedUsage":18446744073709551615,"sharedUsage":0,"pciBus":1,"pciDevice":0,"pciFunction":65535,'
        b'"driverVersion":"32.0.15.65535"},{"luidLowPart":5,"luidHighPart":0,"dxgiOrdinal":2,'
        b'"highPerformanceRank":null,"minimumPowerRank":null,"outputs":0,"dedicatedSystemMemory":0,'
        b'"sharedSystemMemory":0,"localBudget":null,"nonLocalBudget":null,"dedicatedUsage":null,'
        b'"sharedUsage":null,"pciBus":null,"pciDevice":null,"pciFunction":null,"driverVersion":null}]}',
        b'{"schema":1,"error":{"code":"platform_crashed","message":"exception 0xC0000005 in PDH"}}',
    ],
    "tansy": [
        b'{"schema":1,"dxcoreAvailable":true,"adapters":[{"luidLowPart":4294967295,"luidHighPart":-2147483648,'
        b'"dxgiOrdinal":0,"software":false,"d3d11":{"result":"0x00000001","featureLevel":"12_1"},'
        b'"d3d12":{"result":"0x00000000","featureLevel":"12_2","shaderModel":"6.9","resourceBindingTier":3,'
        b'"uma":false,"cacheCoherentUma":false,"native16BitShaderOps":true,"waveOps":true}},'
        b'{"luidLowPart":5,"luidHighPart":0,"dxgiOrdinal":1,"software":true,"d3d11":{"result":"0x80070057",'
        b'"featureLevel":null},"d3d12":{"result":"0x887A0004","featureLevel":null,"shaderModel":null,'
        b'"resourceBindingTier":null,"uma":null,"cacheCoherentUma":null,"native16BitShaderOps":null,"waveOps":null}},'
        b'{"luidLowPart":6,"luidHighPart":0,"dxgiOrdinal":2,"software":false,"d3d11":null,"d3d12":{"result":'
        b'"0x00000000","featureLevel":"45568","shaderModel":"5.1","resourceBindingTier":null,"uma":null,'
        b'"cacheCoherentUma":null,"native16BitShaderOps":null,"waveOps":null}}],'
        b'"computeAdapters":[{"luidLowPart":7,"luidHighPart":-1,"name":"","vendorId":32902,"deviceId":32029,'
        b'"hardware":true,"hardwareType":"npu","coreCompute":false,"genericMl":true,"dedicatedAdapterMemory":0,'
        b'"driverVersion":"32.0.100.65535","d3d12":{"result":"0x00000000","featureLevel":"1_0_generic"}},'
        b'{"luidLowPart":8,"luidHighPart":0,"name":"A","vendorId":null,"deviceId":null,"hardware":null,'
        b'"hardwareType":null,"coreCompute":true,"genericMl":false,"dedicatedAdapterMemory":null,'
        b'"driverVersion":null,"d3d12":null}]}',
        b'{"schema":1,"dxcoreAvailable":false,"adapters":[],"computeAdapters":[]}',
        b'{"schema":1,"error":{"code":"platform_crashed","message":"exception 0xC0000005 in Direct3D 12"}}',
        b'{"schema":1,"error":{"code":"invalid_args","message":"Usage"}}',
    ],
    "inventory": [
        b'{"schema":2,"fennel":{"outcome":"answered","exitCode":null,"seconds":30.0,"endedAtLimit":true,"document":{"schema":1,'
        b'"dxcoreAvailable":false,"adapters":[{"index":0,"name":"A","vendorId":1,"deviceId":1,'
        b'"dedicatedVideoMemory":1,"luidLowPart":5,"luidHighPart":0,"isIntegratedGpu":true}]}},'
        b'"quarry":{"outcome":"failed","exitCode":1,"seconds":0.1,"problem":"new_code: m",'
        b'"document":{"schema":2,"error":{"code":"new_code","message":"m"}}},'
        b'"quarryWithoutImplicitLayers":{"outcome":"answered","exitCode":0,"seconds":0.2,"document":{"schema":2,'
        b'"devices":[{"vkIndex":0,"name":"G","vendorId":65541,"deviceId":0,"deviceLuidValid":false,'
        b'"apiVersion":"1.2.0","driverVersionRaw":1,"driverVersionFormatted":"0.0.1"}]}},'
        b'"vulkanFrom":"quarryWithoutImplicitLayers",'
        b'"sorrel":{"outcome":"answered","exitCode":0,"seconds":0.2,"document":{"schema":1,"adapters":[' + SORREL_ADAPTER + b']}},'
        b'"tansy":{"outcome":"crashed","exitCode":1,"seconds":0.3,"problem":"platform_crashed: m",'
        b'"document":{"schema":1,"error":{"code":"platform_crashed","message":"m"}}},'
        b'"tansyPerAdapter":[{"outcome":"answered","exitCode":0,"seconds":0.2,"document":{"schema":1,'
        b'"dxcoreAvailable":false,"adapters":[' + TANSY_ADAPTER + b'],"computeAdapters":[]}}],'
        b'"order":{"highPerformance":[0],"minimumPower":[0],"from":"windows"},'
        b'"graphicsSettings":{"program":"C:\\\\Python\\\\python.exe","preference":"highPerformance",'
        b'"setting":"SwapEffectUpgradeEnable=1;GpuPreference=2;","globalSetting":null,"highPerformanceAdapter":null,'
        b'"chosenAdapter":0},'
        b'"pick":{"prefer":"highPerformance","userChoice":true,"needs":["d3d12"],"adapter":null,"because":null,'
        b'"candidates":[{"adapter":0,"eligible":false,"reasons":["noDirect3d12Device"]}]},'
        b'"adapters":[{"adapter":{"index":0,"name":"A","vendorId":1,"deviceId":1,"dedicatedVideoMemory":1,'
        b'"luidLowPart":5,"luidHighPart":0,"isIntegratedGpu":true},"kind":"hardware","state":' + SORREL_ADAPTER + b','
        b'"freeDedicatedMemory":0,"vulkanDevices":[],"preferredVulkanDevice":null,'
        b'"brindle":{"outcome":"timedOut","exitCode":null,"seconds":30.0,"problem":"no answer within 30 s"},'
        b'"openclKind":null,"capabilities":' + TANSY_ADAPTER + b'}],"computeAdapters":[],'
        b'"otherVulkanDevices":[{"kind":"software","device":{"vkIndex":0,"name":"G","vendorId":65541,"deviceId":0,'
        b'"deviceLuidValid":false,"apiVersion":"1.2.0","driverVersionRaw":1,"driverVersionFormatted":"0.0.1"}}]}',
    ],
}


def changed(document, change):
    doc = copy.deepcopy(json.loads(document))
    change(doc)
    return json.dumps(doc, separators=(",", ":")).encode()


def drop(key):
    return lambda doc: doc.pop(key)


def tansy_answered(doc):
    """The inventory document with tansy's run over every adapter answered: no runs per adapter."""
    doc["tansy"] = {"outcome": "answered", "exitCode": 0, "seconds": 0.3, "document": {
        "schema": 1, "dxcoreAvailable": True, "adapters": [json.loads(TANSY_ADAPTER)],
        "computeAdapters": [json.loads(NPU)]}}
    doc.pop("tansyPerAdapter")
    doc["computeAdapters"] = [json.loads(NPU)]


def sorrel_crashed(state_kept=False, order_from="windows"):
    """The inventory document with sorrel crashed; its adapter keeps its state or not."""
    def change(doc):
        doc["sorrel"] = {"outcome": "crashed", "exitCode": 3221225477, "seconds": 0.1,
                         "problem": "ended by exception 0xC0000005 without a document"}
        doc["order"]["from"] = order_from
        if not state_kept:
            doc["adapters"][0].update(state=None, freeDedicatedMemory=None)
    return change


# (probe, index of a good document, change, what the change breaks)
BAD = [
    ("brindle", 0, drop("deviceIndex"), "missing key"),
    ("brindle", 0, lambda d: d.update(extra=1), "extra key"),
    ("brindle", 0, lambda d: d.update(method="guess"), "unknown method"),
    ("brindle", 1, lambda d: d.update(platformCount="2"), "string for a number"),
    ("brindle", 1, lambda d: d.update(luidExtDevices=-1), "negative counter"),
    ("brindle", 2, lambda d: d.update(platformCount=1), "platforms without platforms"),
    ("brindle", 3, lambda d: d["error"].update(code="oops"), "unknown code"),
    ("brindle", 3, lambda d: d.update(schema=2), "wrong schema"),
    ("fennel", 0, lambda d: d["adapters"][0].update(luidHighPart=2147483648), "high part out of range"),
    ("fennel", 0, lambda d: d["adapters"][0].update(dedicatedVideoMemory=2**64), "memory out of range"),
    ("fennel", 0, lambda d: d["adapters"][0].pop("isIntegratedGpu"), "missing key"),
    ("fennel", 1, lambda d: d["error"].update(code="vulkan_init_failed"), "another probe's code"),
    ("quarry", 0, lambda d: d["devices"][0].pop("luidLowPart"), "valid LUID without its low part"),
    ("quarry", 1, lambda d: d["devices"][0].update(luidLowPart=1, luidHighPart=0), "LUID not valid yet printed"),
    ("quarry", 0, lambda d: d["devices"][0].update(driverId="MESA_LLAMAPIPE"), "unknown driver name"),
    ("quarry", 0, lambda d: d["devices"][0].update(driverName=""), "empty driver name"),
    ("quarry", 0, lambda d: d["devices"][0].update(vendorId=4294967296), "identifier out of range"),
    ("quarry", 0, lambda d: d["devices"][0].update(apiVersion=1.3), "number for a version text"),
    ("sorrel", 0, lambda d: d["adapters"][1].update(pciBus=0), "a bus without its device and function"),
    ("sorrel", 0, lambda d: d["adapters"][0].update(pciFunction=None), "a location without its function"),
    ("sorrel", 0, lambda d: d["adapters"][0].update(pciDevice=65536), "a device number past 16 bits"),
    ("sorrel", 0, lambda d: d["adapters"][0].update(driverVersion="32.0.15"), "a version of three numbers"),
    ("sorrel", 0, lambda d: d["adapters"][0].update(driverVersion="1.65536.0.0"), "a version part past 16 bits"),
    ("sorrel", 0, lambda d: d["adapters"][0].update(highPerformanceRank=-1), "a negative rank"),
    ("sorrel", 0, lambda d: d["adapters"][0].pop("outputs"), "missing key"),
    ("sorrel", 0, lambda d: d["adapters"][0].update(name="A"), "extra key"),
    ("sorrel", 1, lambda d: d["error"].update(code="com_init_failed"), "a code sorrel never gives"),
    ("tansy", 0, lambda d: d["adapters"][1]["d3d12"].update(uma=True), "a device's answer without a device"),
    ("tansy", 0, lambda d: d["adapters"][0]["d3d11"].update(result="0x80004005"), "a Direct3D 11 level without a device"),
    ("tansy", 0, lambda d: d["adapters"][1]["d3d11"].update(result="0x8007005a"), "a result in lower case"),
    ("tansy", 0, lambda d: d["adapters"][0]["d3d12"].update(featureLevel="12_3"), "a feature level without a name"),
    ("tansy", 0, lambda d: d["adapters"][2]["d3d12"].update(featureLevel="045568"), "a level's number with a zero first"),
    ("tansy", 0, lambda d: d["adapters"][0]["d3d12"].update(shaderModel="7.0"), "a shader model past 6.9"),
    ("tansy", 0, lambda d: d["adapters"][0]["d3d12"].update(shaderModel=6.6), "a number for a shader model"),
    ("tansy", 0, lambda d: d["adapters"][0]["d3d12"].update(resourceBindingTier=-1), "a negative tier"),
    ("tansy", 0, lambda d: d["adapters"][0].pop("software"), "missing key"),
    ("tansy", 0, lambda d: d["adapters"][0].update(name="A"), "extra key"),
    ("tansy", 0, lambda d: d["adapters"][0].update(luidHighPart=2**31), "a high part past 32 bits"),
    ("tansy", 0, lambda d: d.update(dxcoreAvailable=False), "compute adapters without DXCore"),
    ("tansy", 0, lambda d: d["computeAdapters"][0].update(hardwareType="gpu2"), "an unknown hardware type"),
    ("tansy", 0, lambda d: d["computeAdapters"][0]["d3d12"].update(featureLevel="11_0"), "a graphics level for compute"),
    ("tansy", 0, lambda d: d["computeAdapters"][0]["d3d12"].update(result="0x887A0004"), "a compute level without a device"),
    ("tansy", 0, lambda d: d["computeAdapters"][0].update(driverVersion="32.0.100"), "a version of three numbers"),
    ("tansy", 0, lambda d: d["computeAdapters"][0].update(dedicatedAdapterMemory=2**64), "memory past 64 bits"),
    ("tansy", 0, lambda d: d["computeAdapters"][1].update(name=None), "no name"),
    ("tansy", 0, lambda d: d.pop("computeAdapters"), "no compute adapters"),
    ("tansy", 2, lambda d: d["error"].update(code="dxgi_factory_failed"), "brindle's code"),
    ("tansy", 2, lambda d: d.update(schema=2), "wrong schema"),
    ("inventory", 0, lambda d: d["fennel"].update(problem="x"), "a problem with an answer"),
    ("inventory", 0, lambda d: d["fennel"].pop("document"), "an answer without its document"),
    ("inventory", 0, lambda d: d["quarry"].pop("problem"), "a failure without its problem"),
    ("inventory", 0, lambda d: d["quarry"].update(outcome="slow"), "unknown outcome"),
    ("inventory", 0, lambda d: d["quarry"].update(exitCode=-1), "signed exit code"),
    ("inventory", 0, lambda d: d["quarry"].update(extra=1), "extra key in a run"),
    ("inventory", 0, lambda d: d["fennel"]["document"]["adapters"][0].pop("name"), "a probe's document broken"),
    ("inventory", 0, lambda d: d["adapters"][0]["adapter"].update(luidHighPart=2**31), "an adapter broken"),
    ("inventory", 0, lambda d: d["otherVulkanDevices"][0]["device"].update(luidLowPart=1), "a device broken"),
    ("inventory", 0, lambda d: d.update(schema=1), "the former schema"),
    ("inventory", 0, drop("vulkanFrom"), "no vulkanFrom"),
    ("inventory", 0, lambda d: d.update(vulkanFrom="quarryAgain"), "unknown vulkanFrom"),
    ("inventory", 0, lambda d: d["quarryWithoutImplicitLayers"].pop("document"), "a retry answered without its document"),
    ("inventory", 0, lambda d: d["otherVulkanDevices"].__setitem__(0, d["otherVulkanDevices"][0]["device"]),
     "a device without its kind"),
    ("inventory", 0, lambda d: d["otherVulkanDevices"][0].update(kind="emulated"), "unknown device kind"),
    ("inventory", 0, lambda d: d["adapters"][0].update(kind="virtual"), "unknown adapter kind"),
    ("inventory", 0, lambda d: d["adapters"][0].pop("preferredVulkanDevice"), "no preferred device"),
    ("inventory", 0, lambda d: d["adapters"][0].update(preferredVulkanDevice=-1), "negative preferred device"),
    ("inventory", 0, lambda d: d["adapters"][0].update(openclKind="software"), "software OpenCL kind"),
    ("inventory", 0, lambda d: d.pop("quarryWithoutImplicitLayers"), "devices from a second run that did not happen"),
    ("inventory", 0, lambda d: d.update(vulkanFrom="quarry"), "devices from a run that failed"),
    ("inventory", 0, lambda d: d.update(vulkanFrom=None), "no devices though the second run answered"),
    ("inventory", 0, lambda d: d["quarry"].update(outcome="answered", exitCode=0, document=d["quarryWithoutImplicitLayers"]["document"]) or d["quarry"].pop("problem"),
     "a second run after an answer"),
    ("inventory", 0, drop("sorrel"), "no sorrel run"),
    ("inventory", 0, lambda d: d["sorrel"]["document"]["adapters"][0].pop("outputs"), "sorrel's document broken"),
    ("inventory", 0, drop("order"), "no order"),
    ("inventory", 0, lambda d: d["order"].pop("from"), "an order without its source"),
    ("inventory", 0, lambda d: d["order"].update({"from": "driver"}), "unknown order source"),
    ("inventory", 0, lambda d: d["order"].update(highPerformance=[0, 0]), "an adapter twice in an order"),
    ("inventory", 0, lambda d: d["order"].update(minimumPower=[64]), "a position past the last adapter there can be"),
    ("inventory", 0, lambda d: d["adapters"][0].pop("state"), "no state"),
    ("inventory", 0, lambda d: d["adapters"][0]["state"].update(pciBus=1), "a state broken"),
    ("inventory", 0, lambda d: d["adapters"][0].update(freeDedicatedMemory=-1), "negative free memory"),
    ("inventory", 0, lambda d: d["adapters"][0].update(state=None), "free memory without a state"),
    ("inventory", 0, sorrel_crashed(order_from="windows"), "Windows' order from a sorrel run that crashed"),
    ("inventory", 0, lambda d: d["adapters"][0].update(kind="software"), "Windows' order of no hardware adapter"),
    ("inventory", 0, lambda d: d["fennel"].update(exitCode=0), "an exit code from a run ended at its limit"),
    ("inventory", 0, lambda d: d["fennel"].update(endedAtLimit=False), "endedAtLimit other than true"),
    ("inventory", 0, lambda d: d["adapters"][0]["brindle"].update(endedAtLimit=True), "ended at its limit without a document"),
    ("inventory", 0, drop("graphicsSettings"), "no graphics settings"),
    ("inventory", 0, drop("pick"), "no pick"),
    ("inventory", 0, lambda d: d["pick"].update(prefer="fastest"), "an unknown order preferred"),
    ("inventory", 0, lambda d: d["pick"].update(extra=1), "extra key in the pick"),
    ("inventory", 0, lambda d: d["pick"].update(needs=["gpu"]), "an unknown need"),
    ("inventory", 0, lambda d: d["pick"].update(needs=["d3d12=13_0"]), "a level out of range"),
    ("inventory", 0, lambda d: d["pick"].update(needs=["d3d11=12_2"]), "a Direct3D 11 level past 12_1"),
    ("inventory", 0, lambda d: d["pick"].update(needs=["memory=0"]), "a need of no memory"),
    ("inventory", 0, lambda d: d["pick"].update(needs=["memory=4GiB"]), "memory not in bytes"),
    ("inventory", 0, lambda d: d["pick"].update(needs=["shader-model=6.10"]), "a shader model out of range"),
    ("inventory", 0, lambda d: d["pick"].update(needs=["vulkan", "vulkan"]), "a need twice"),
    ("inventory", 0, lambda d: d["pick"]["candidates"][0].update(reasons=["slow"]), "an unknown reason"),
    ("inventory", 0, lambda d: d["pick"]["candidates"][0].update(reasons=["software", "software"]), "a reason twice"),
    ("inventory", 0, lambda d: d["pick"]["candidates"][0].update(eligible=True), "eligible with a reason"),
    ("inventory", 0, lambda d: d["pick"]["candidates"][0].update(reasons=[]), "passed over for no reason"),
    ("inventory", 0, lambda d: d["pick"]["candidates"][0].update(adapter=64), "a candidate past the last adapter"),
    ("inventory", 0, lambda d: d["pick"].update(because="userChoice"), "a reason to stand first without a pick"),
    ("inventory", 0, lambda d: d["pick"].update(adapter=0), "a pick without why it stands first"),
    ("inventory", 0, lambda d: d["pick"].update(adapter=0, because="bestGuess"), "an unknown why"),
    ("inventory", 0, lambda d: d["graphicsSettings"].pop("globalSetting"), "graphics settings without the global one"),
    ("inventory", 0, lambda d: d["graphicsSettings"].pop("highPerformanceAdapter"), "no high-performance adapter"),
    ("inventory", 0, lambda d: d["graphicsSettings"].update(highPerformanceAdapter=64), "a high-performance adapter past the last"),
    ("inventory", 0, lambda d: d["graphicsSettings"].update(preference="maximumPower"), "unknown preference"),
    ("inventory", 0, lambda d: d["graphicsSettings"].update(preference="unspecified"), "a choice though Windows decides"),
    ("inventory", 0, lambda d: d["graphicsSettings"].update(program=None), "a preference of no program"),
    ("inventory", 0, lambda d: d["graphicsSettings"].update(setting=None), "a preference read from no string"),
    ("inventory", 0, lambda d: d["graphicsSettings"].update(setting="x" * 4097), "a setting past 4096 characters"),
    ("inventory", 0, sorrel_crashed(state_kept=True, order_from="rule"), "a state from a sorrel run that crashed"),
    ("inventory", 0, drop("tansy"), "no tansy run"),
    ("inventory", 0, drop("computeAdapters"), "no compute adapters"),
    ("inventory", 0, lambda d: d["adapters"][0].pop("capabilities"), "no capabilities"),
    ("inventory", 0, lambda d: d["adapters"][0]["capabilities"]["d3d12"].update(uma=True), "capabilities broken"),
    ("inventory", 0, lambda d: d.update(computeAdapters=[json.loads(NPU)]), "compute adapters from a run that crashed"),
    ("inventory", 0, drop("tansyPerAdapter"), "capabilities from no run that answered"),
    ("inventory", 0, lambda d: d.update(tansyPerAdapter=[]), "no run per adapter"),
    ("inventory", 0, lambda d: tansy_answered(d) or d.update(tansyPerAdapter=[d["tansy"]]), "runs per adapter after an answer"),
    ("inventory", 0, lambda d: d["tansy"].update(outcome="failed", problem="dxgi_failed: m",
                                                document={"schema": 1, "error": {"code": "dxgi_failed", "message": "m"}}),
     "runs per adapter after an error document"),
    ("inventory", 0, lambda d: d["tansyPerAdapter"][0]["document"]["adapters"][0].pop("software"), "a run per adapter broken"),
    ("inventory", 0, lambda d: tansy_answered(d) or d["computeAdapters"][0].update(hardwareType="fpga"),
     "a compute adapter broken"),
]
GOOD["inventory"].append(changed(GOOD["inventory"][0], tansy_answered))


# The documentation's samples: a JSON fence names its probe ("```json fennel") and holds one
# document per line, or (for "inventory") one indented document; a fence inside a list item is
# indented with it.
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DOCUMENTATION = ["README.md", "CHANGELOG.md", "CONTRIBUTING.md"] + [
    "docs/" + name for name in sorted(os.listdir(os.path.join(ROOT, "docs"))) if name.endswith(".md")]
SAMPLE = re.compile(r"^( *(?:> *)?)(```+|~~~+) *json\b *(\w*)[^\n]*\n(.*?)^\1\2 *$", re.M | re.S | re.I)
# Any fence that opens as JSON of some kind: each must be one that SAMPLE reads.
JSON_FENCE = re.compile(r"^[ \t]*(?:>[ \t]*)?(?:```+|~~~+)[ \t]*json", re.M | re.I)


def documentation_samples(name):
    with open(os.path.join(ROOT, name), encoding="utf-8") as f:
        text = f.read()
    samples = SAMPLE.findall(text)
    if len(samples) != len(JSON_FENCE.findall(text)):
        raise AssertionError("%s: a JSON fence that is not closed as it opened, or not plain json" % name)
    for indent, _, probe, body in samples:
        lines = [line[len(indent):] for line in body.splitlines()]
        if probe == "inventory":
            whole = json.loads("\n".join(lines), object_pairs_hook=harness._reject_duplicates)
            lines = [json.dumps(whole, separators=(",", ":"), ensure_ascii=False)]
        for line in lines:
            yield probe, line.encode()


class SchemaTest(unittest.TestCase):
    def test_the_documentation_samples_pass(self):
        probes = set()
        for name in DOCUMENTATION:
            for probe, document in documentation_samples(name):
                with self.subTest(name=name, document=document[:60]):
                    self.assertTrue(probe in GOOD, "a JSON sample that names no schema: %r" % probe)
                    harness.parse_document(document + b"\n", probe)
                    probes.add(probe)
        self.assertEqual(probes, set(GOOD))

    def test_the_probe_samples_are_those_inside_the_inventory_sample(self):
        samples = {}
        for probe, document in documentation_samples("docs/probes.md"):
            samples.setdefault(probe, []).append(json.loads(document))
        [inventory] = [json.loads(document) for _, document in documentation_samples("docs/inventory.md")]
        inside = {probe: [inventory[probe]["document"]] for probe in ("fennel", "quarry", "sorrel", "tansy")}
        inside["brindle"] = [entry["brindle"]["document"] for entry in inventory["adapters"]]
        for probe, documents in samples.items():
            self.assertIn(documents[0], inside[probe], probe)

    def test_documents_of_every_kind_pass(self):
        for probe, documents in GOOD.items():
            for document in documents:
                harness.parse_document(document + b"\n", probe)

    def test_drifted_documents_fail(self):
        for probe, index, change, what in BAD:
            document = changed(GOOD[probe][index], change) + b"\n"
            with self.assertRaises(AssertionError, msg="%s: %s" % (probe, what)):
                harness.parse_document(document, probe)


def source_file(path):
    full = os.path.join(ROOT, path)
    if not os.path.isfile(full):
        return None
    with open(full, "rb") as f:
        return f.read()


# A page and what the link check must say of it; the pages beside it are README.md, with a
# heading "## Quick start" twice, and docs/a.svg, which is not a picture.
LINK_CASES = [
    ("[a](../README.md#quick-start) [b](../README.md#quick-start-1) ![c](../LICENSE) [d]: #e\n## E", []),
    ("`[a](missing.md)`\n```\n[b](missing.md)\n```\n[c](https://example.com/x) <a id=\"f\"></a>[g](#f)", []),
    ("> ```\n> [a](missing.md)\n> ```\n<!-- [b](missing.md) -->[c](gone.md)", ["names docs/gone.md"]),
    ("## From C++: `the` tool's _own_ (x)\n[a](#from-c-the-tools-own-x)", []),
    ("## Foo\n## Foo 1\n## Foo\n[a](#foo-2) [b](#foo-1)\n\nBar\n---\n[c](#bar)", []),
    ("[a\nb](missing.md) [c](missing.md \"t\") [d](<missing.md> 't')", ["names docs/missing.md"] * 3),
    ("[![a](gone.svg)](../LICENSE) [b](../LICENSE?x=1)", ["names docs/gone.svg"]),
    ("[a](missing.md)", ["names docs/missing.md"]),
    ("[a](../README.md#nowhere)", ["names no heading of README.md"]),
    ("[a](../../outside.md)", ["leads out of the project"]),
    ("[a](/README.md)", ["a path from the root"]),
    ("[a](../LICENSE#x)", ["not Markdown"]),
    ("![a](a.svg)", ["is not an SVG picture"]),
    ("[a][r] [b][nowhere]\n\n[r]: gone.md\n[^1]: A note.", ["no link definition", "names docs/gone.md"]),
]


class DocumentationTest(unittest.TestCase):
    def test_the_readme_stays_a_way_in(self):
        # The reference lives in docs/: the README keeps to what a newcomer needs first.
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            self.assertLessEqual(len(f.read().splitlines()), 250)

    def test_every_relative_link_and_anchor_resolves(self):
        for name in DOCUMENTATION:
            with self.subTest(name=name):
                self.assertEqual(doc_links.problems(name, source_file), [])

    def test_a_link_to_no_file_or_no_heading_is_found(self):
        files = {"README.md": b"# x\n## Quick start\ntext\n## Quick start\n", "LICENSE": b"MIT",
                 "docs/a.svg": b"<html/>"}
        for page, expected in LINK_CASES:
            with self.subTest(page=page):
                found = doc_links.problems("docs/page.md", {**files, "docs/page.md": page.encode()}.get)
                self.assertEqual(len(found), len(expected), found)
                for problem, words in zip(found, expected):
                    self.assertIn(words, problem)


if __name__ == "__main__":
    unittest.main()
