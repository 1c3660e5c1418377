// The verdict on a probe's run and the strict reading of its document, from the bytes and
// exit code a child left: every outcome, the ways a document can break its schema, and the
// bounds that keep reading a mebibyte of output linear.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "gpu_inventory/probe_documents.h"
#include "preferences/graphics_settings.h"
#include "preferences/program_path.h"
#include "documents/strict_json.h"

namespace {

using namespace gpu_inventory;

const std::string adapter =
    R"({"index":0,"name":"A","vendorId":1,"deviceId":2,"dedicatedVideoMemory":3,"luidLowPart":4,"luidHighPart":-5,"isIntegratedGpu":true})";
const std::string fennelDoc = R"({"schema":1,"dxcoreAvailable":true,"adapters":[)" + adapter + "]}";
const std::string device =
    R"json({"vkIndex":0,"name":"V","vendorId":1,"deviceId":2,"deviceLuidValid":true,"luidLowPart":4,"luidHighPart":-5,"apiVersion":"1.3.0","driverVersionRaw":1,"driverVersionFormatted":"0.0.1","driverId":"UNKNOWN(-3)"})json";
const std::string quarryDoc = R"({"schema":2,"devices":[)" + device + "]}";
const std::string state =
    R"({"luidLowPart":4,"luidHighPart":-5,"dxgiOrdinal":1,"highPerformanceRank":null,"minimumPowerRank":2,"outputs":3,"dedicatedSystemMemory":4,"sharedSystemMemory":5,"localBudget":6,"nonLocalBudget":null,"dedicatedUsage":7,"sharedUsage":8,"pciBus":9,"pciDevice":65535,"pciFunction":0,"driverVersion":"65535.0.10.99"})";
const std::string sorrelDoc = R"({"schema":1,"adapters":[)" + state + "]}";
const std::string d3d12 =
    R"({"result":"0x00000000","featureLevel":"45568","shaderModel":"6.9","resourceBindingTier":2,"uma":true,"cacheCoherentUma":null,"native16BitShaderOps":false,"waveOps":true})";
const std::string examined =
    R"({"luidLowPart":4,"luidHighPart":-5,"dxgiOrdinal":0,"software":true,"d3d11":{"result":"0x00000000","featureLevel":"10_1"},"d3d12":)" + d3d12 + "}";
const std::string npu =
    R"({"luidLowPart":4,"luidHighPart":0,"name":"","vendorId":null,"deviceId":null,"hardware":null,"hardwareType":"npu","coreCompute":false,"genericMl":true,"dedicatedAdapterMemory":null,"driverVersion":null,"d3d12":{"result":"0x887A0004","featureLevel":null}})";
const std::string tansyDoc = R"({"schema":1,"dxcoreAvailable":true,"adapters":[)" + examined + R"(],"computeAdapters":[)" + npu + "]}";
const std::string noMatch =
    R"({"schema":1,"matched":false,"reason":"no_match","platformCount":1,"d3d11SharingPlatforms":0,"luidExtDevices":0})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

std::string error(int schema, const std::string& code, bool matched = false) {
  return "{\"schema\":" + std::to_string(schema) + (matched ? ",\"matched\":false" : "") +
         ",\"error\":{\"code\":\"" + code + "\",\"message\":\"m\"}}";
}

// A fennel or quarry document listing the item count times, each on a LUID of its own.
std::string listing(const std::string& head, const std::string& item, std::size_t count) {
  std::string text = head;
  for (std::size_t i = 0; i < count; ++i) {
    text += (i ? "," : "") + replaced(item, "\"luidLowPart\":4", "\"luidLowPart\":" + std::to_string(i));
  }
  return text + "]}";
}

// A mebibyte of what the parent must refuse quickly: [{},{},...] and {"k0":0,"k1":0,...}.
std::string mebibyteOfObjects() {
  std::string text = "[{}";
  while (text.size() < maxProbeOutput - 4) text += ",{}";
  return text + "]";
}

std::string mebibyteOfKeys() {
  std::string text = "{\"k0\":0";
  for (std::size_t i = 1; text.size() < maxProbeOutput - 32; ++i) text += ",\"k" + std::to_string(i) + "\":0";
  return text + "}";
}

enum class Probe { fennel, quarry, brindle, sorrel, tansy };

struct VerdictCase {
  const char* label;
  Probe probe;
  std::string output;
  std::uint32_t exitCode;
  Outcome outcome;
  bool keepsDocument;   // a valid document is kept whatever the verdict
  std::string problem;  // a part of the problem text
  bool timedOut = false;
  bool overflowed = false;
  bool started = true;
  std::uint32_t watchError = 0;  // a wait or read that failed
};

ProbeRun judged(const VerdictCase& c) {
  ChildRun child;
  child.started = c.started;
  child.startError = 2;
  child.startProblem = "C:\\p\\fennel.exe: not found";
  child.timedOut = c.timedOut;
  child.overflowed = c.overflowed;
  child.watchError = c.watchError;
  child.watchProblem = "reading its output failed: broken";
  // A runner may give an exit code with a run it ended at the limit: it is not the probe's.
  if (!c.overflowed && c.started) child.exitCode = c.exitCode;
  child.output = c.output;
  child.timeoutSeconds = 30;
  switch (c.probe) {
    case Probe::fennel: return readFennelRun(child).run;
    case Probe::quarry: return readQuarryRun(child).run;
    case Probe::brindle: return readBrindleRun(child).run;
    case Probe::sorrel: return readSorrelRun(child).run;
    case Probe::tansy: return readTansyRun(child).run;
  }
  return {};
}

class VerdictTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(VerdictTest, OutcomeAndProblem) {
  const VerdictCase& c = GetParam();
  const ProbeRun run = judged(c);
  EXPECT_EQ(outcomeName(run.outcome), std::string(outcomeName(c.outcome))) << run.problem;
  EXPECT_NE(run.problem.find(c.problem), std::string::npos) << run.problem;
  EXPECT_EQ(run.problem.empty(), c.outcome == Outcome::answered) << run.problem;
  EXPECT_EQ(!run.document.is_null(), c.keepsDocument);
  // A whole document before the limit is kept, with no exit code, and says it was ended.
  EXPECT_EQ(run.endedAtLimit, c.timedOut && c.keepsDocument);
  if (c.timedOut) {
    EXPECT_EQ(run.exitCode, std::nullopt);
  }
  if (c.probe == Probe::fennel && c.outcome == Outcome::answered) {
    ChildRun child;
    child.started = true;
    child.timedOut = c.timedOut;
    if (!c.timedOut) child.exitCode = c.exitCode;
    child.output = c.output;
    EXPECT_FALSE(readFennelRun(child).adapters.empty());
  }
}

const std::string lf = "\n";

INSTANTIATE_TEST_SUITE_P(Runs, VerdictTest, testing::Values(
    VerdictCase{"fennel_answers", Probe::fennel, fennelDoc + lf, 0, Outcome::answered, true, ""},
    VerdictCase{"quarry_answers", Probe::quarry, quarryDoc + lf, 0, Outcome::answered, true, ""},
    VerdictCase{"brindle_answers", Probe::brindle, noMatch + lf, 0, Outcome::answered, true, ""},
    VerdictCase{"sorrel_answers", Probe::sorrel, sorrelDoc + lf, 0, Outcome::answered, true, ""},
    VerdictCase{"sorrel_no_location_nor_version", Probe::sorrel, replaced(replaced(replaced(replaced(sorrelDoc, "\"pciBus\":9", "\"pciBus\":null"), "65535,", "null,"), ":0,\"driverVersion\"", ":null,\"driverVersion\""), "\"65535.0.10.99\"", "null") + lf, 0, Outcome::answered, true, ""},
    VerdictCase{"sorrel_location_in_part", Probe::sorrel, replaced(sorrelDoc, "\"pciBus\":9", "\"pciBus\":null") + lf, 0, Outcome::garbled, false, "adapters[0]: a PCI location in part"},
    VerdictCase{"sorrel_pci_device_past_16_bits", Probe::sorrel, replaced(sorrelDoc, "65535,", "65536,") + lf, 0, Outcome::garbled, false, "pciDevice"},
    VerdictCase{"sorrel_version_of_3_numbers", Probe::sorrel, replaced(sorrelDoc, "65535.0.10.99", "65535.0.10") + lf, 0, Outcome::garbled, false, "driverVersion: not four numbers"},
    VerdictCase{"sorrel_version_past_16_bits", Probe::sorrel, replaced(sorrelDoc, "65535.0.10.99", "65536.0.10.99") + lf, 0, Outcome::garbled, false, "driverVersion"},
    VerdictCase{"sorrel_version_leading_zero", Probe::sorrel, replaced(sorrelDoc, "65535.0.10.99", "65535.0.010.99") + lf, 0, Outcome::garbled, false, "driverVersion"},
    VerdictCase{"sorrel_version_empty_part", Probe::sorrel, replaced(sorrelDoc, "65535.0.10.99", "65535..10.99") + lf, 0, Outcome::garbled, false, "driverVersion"},
    VerdictCase{"sorrel_negative_rank", Probe::sorrel, replaced(sorrelDoc, "\"minimumPowerRank\":2", "\"minimumPowerRank\":-1") + lf, 0, Outcome::garbled, false, "minimumPowerRank"},
    VerdictCase{"sorrel_outputs_null", Probe::sorrel, replaced(sorrelDoc, "\"outputs\":3", "\"outputs\":null") + lf, 0, Outcome::garbled, false, "outputs"},
    VerdictCase{"sorrel_null_key_left_out", Probe::sorrel, replaced(sorrelDoc, "\"nonLocalBudget\":null,", "") + lf, 0, Outcome::garbled, false, "nonLocalBudget: missing"},
    VerdictCase{"sorrel_luid_twice", Probe::sorrel, replaced(sorrelDoc, "]}", "," + state + "]}") + lf, 0, Outcome::garbled, false, "adapters[1]: the LUID of adapters[0]"},
    VerdictCase{"sorrel_adapter_of_17_keys", Probe::sorrel, replaced(sorrelDoc, "\"outputs\"", "\"x\":0,\"outputs\"") + lf, 0, Outcome::garbled, false, "adapters[0]: more than 16 keys"},
    VerdictCase{"tansy_answers", Probe::tansy, tansyDoc + lf, 0, Outcome::answered, true, ""},
    VerdictCase{"tansy_without_runtimes", Probe::tansy, replaced(replaced(replaced(tansyDoc, "{\"result\":\"0x00000000\",\"featureLevel\":\"10_1\"}", "null"), d3d12, "null"), "{\"result\":\"0x887A0004\",\"featureLevel\":null}", "null") + lf, 0, Outcome::answered, true, ""},
    VerdictCase{"tansy_usage", Probe::tansy, error(1, "invalid_args") + lf, 2, Outcome::failed, true, "invalid_args"},
    VerdictCase{"tansy_lower_case_hresult", Probe::tansy, replaced(tansyDoc, "0x887A0004", "0x887a0004") + lf, 0, Outcome::garbled, false, "computeAdapters[0].d3d12.result: not 0x"},
    VerdictCase{"tansy_unknown_level_name", Probe::tansy, replaced(tansyDoc, "10_1", "13_0") + lf, 0, Outcome::garbled, false, "adapters[0].d3d11.featureLevel: unknown"},
    VerdictCase{"tansy_level_number_leading_zero", Probe::tansy, replaced(tansyDoc, "45568", "045568") + lf, 0, Outcome::garbled, false, "adapters[0].d3d12.featureLevel: unknown"},
    VerdictCase{"tansy_level_as_a_number", Probe::tansy, replaced(tansyDoc, "\"45568\"", "45568") + lf, 0, Outcome::garbled, false, "featureLevel: not a string"},
    VerdictCase{"tansy_shader_model_6_10", Probe::tansy, replaced(tansyDoc, "6.9", "6.10") + lf, 0, Outcome::garbled, false, "shaderModel: not 5.1 to 6.9"},
    VerdictCase{"tansy_d3d11_level_with_failure", Probe::tansy, replaced(tansyDoc, "\"0x00000000\",\"featureLevel\":\"10_1\"", "\"0x80070057\",\"featureLevel\":\"10_1\"") + lf, 0, Outcome::garbled, false, "adapters[0].d3d11: a feature level with a failed result"},
    VerdictCase{"tansy_d3d12_answer_without_device", Probe::tansy, replaced(tansyDoc, "\"0x00000000\",\"featureLevel\":\"45568\"", "\"0x887A0004\",\"featureLevel\":null") + lf, 0, Outcome::garbled, false, "adapters[0].d3d12: an answer without a device"},
    VerdictCase{"tansy_d3d12_key_missing", Probe::tansy, replaced(tansyDoc, ",\"waveOps\":true", "") + lf, 0, Outcome::garbled, false, "adapters[0].d3d12.waveOps: missing"},
    VerdictCase{"tansy_compute_without_dxcore", Probe::tansy, replaced(tansyDoc, "\"dxcoreAvailable\":true", "\"dxcoreAvailable\":false") + lf, 0, Outcome::garbled, false, "computeAdapters: listed without DXCore"},
    VerdictCase{"tansy_unknown_hardware_type", Probe::tansy, replaced(tansyDoc, "\"npu\"", "\"fpga\"") + lf, 0, Outcome::garbled, false, "hardwareType: unknown"},
    VerdictCase{"tansy_compute_level_of_graphics", Probe::tansy, replaced(replaced(tansyDoc, "0x887A0004", "0x00000000"), "\"featureLevel\":null}}", "\"featureLevel\":\"11_0\"}}") + lf, 0, Outcome::garbled, false, "computeAdapters[0].d3d12.featureLevel: not 1_0_core"},
    VerdictCase{"tansy_compute_version_of_3_numbers", Probe::tansy, replaced(tansyDoc, "\"driverVersion\":null", "\"driverVersion\":\"1.2.3\"") + lf, 0, Outcome::garbled, false, "driverVersion: not four numbers"},
    VerdictCase{"tansy_compute_luid_twice", Probe::tansy, replaced(tansyDoc, "]}", "," + npu + "]}") + lf, 0, Outcome::garbled, false, "computeAdapters[1]: the LUID of computeAdapters[0]"},
    VerdictCase{"tansy_adapter_luid_twice", Probe::tansy, replaced(tansyDoc, "],\"computeAdapters\"", "," + examined + "],\"computeAdapters\"") + lf, 0, Outcome::garbled, false, "adapters[1]: the LUID of adapters[0]"},
    VerdictCase{"tansy_compute_of_13_keys", Probe::tansy, replaced(tansyDoc, "\"name\":\"\"", "\"name\":\"\",\"x\":0") + lf, 0, Outcome::garbled, false, "computeAdapters[0]: more than 12 keys"},
    VerdictCase{"tansy_adapter_extra_key", Probe::tansy, replaced(tansyDoc, "\"software\":true", "\"software\":true,\"x\":0") + lf, 0, Outcome::garbled, false, "adapters[0].x: unexpected key"},
    VerdictCase{"tansy_no_compute_list", Probe::tansy, replaced(tansyDoc, ",\"computeAdapters\":[" + npu + "]", "") + lf, 0, Outcome::garbled, false, "computeAdapters: missing"},
    VerdictCase{"tansy_65_compute_adapters", Probe::tansy, listing(R"({"schema":1,"dxcoreAvailable":true,"adapters":[],"computeAdapters":[)", npu, 65) + lf, 0, Outcome::garbled, false, "computeAdapters: more than 64 entries"},
    VerdictCase{"error_document", Probe::fennel, error(1, "dxgi_failed") + lf, 1, Outcome::failed, true, "dxgi_failed: m"},
    VerdictCase{"unknown_code_is_still_failed", Probe::quarry, error(2, "gpu_on_fire") + lf, 1, Outcome::failed, true, "gpu_on_fire"},
    VerdictCase{"crash_document", Probe::fennel, error(1, "platform_crashed") + lf, 1, Outcome::crashed, true, "platform_crashed"},
    VerdictCase{"exit_document", Probe::quarry, error(2, "platform_exited") + lf, 1, Outcome::crashed, true, "platform_exited"},
    VerdictCase{"usage_document", Probe::brindle, error(1, "invalid_args", true) + lf, 2, Outcome::failed, true, "invalid_args"},
    VerdictCase{"exit_contradicts_error", Probe::brindle, error(1, "invalid_args", true) + lf, 7, Outcome::garbled, true, "exit code 7 with an error document (exit code 2)"},
    VerdictCase{"exit_contradicts_result", Probe::fennel, fennelDoc + lf, 7, Outcome::garbled, true, "exit code 7 with a result"},
    VerdictCase{"exception_without_document", Probe::quarry, "", 0xC0000409u, Outcome::crashed, false, "exception 0xC0000409"},
    VerdictCase{"exception_after_junk", Probe::quarry, "half a doc", 0xC0000005u, Outcome::crashed, false, "0xC0000005"},
    VerdictCase{"nothing_and_exit_0", Probe::quarry, "", 0, Outcome::garbled, false, "no output"},
    VerdictCase{"no_final_line_feed", Probe::fennel, fennelDoc, 0, Outcome::garbled, false, "line feed"},
    VerdictCase{"two_lines", Probe::fennel, fennelDoc + lf + fennelDoc + lf, 0, Outcome::garbled, false, "more than one line"},
    VerdictCase{"carriage_return", Probe::fennel, fennelDoc + "\r\n", 0, Outcome::garbled, false, "carriage return"},
    VerdictCase{"key_twice", Probe::fennel, replaced(fennelDoc, "{\"schema\":1", "{\"schema\":1,\"schema\":1") + lf, 0, Outcome::garbled, false, "given twice"},
    VerdictCase{"other_schema", Probe::fennel, R"({"schema":2,"devices":[]})" + lf, 0, Outcome::garbled, false, "schema 2, not 1"},
    VerdictCase{"not_an_object", Probe::fennel, "[1]\n", 0, Outcome::garbled, false, "not an object"},
    VerdictCase{"extra_key", Probe::fennel, replaced(fennelDoc, ",\"isIntegratedGpu\":true", ",\"x\":true") + lf, 0, Outcome::garbled, false, "adapters[0].x: unexpected"},
    VerdictCase{"missing_key", Probe::fennel, replaced(fennelDoc, ",\"isIntegratedGpu\":true", "") + lf, 0, Outcome::garbled, false, "isIntegratedGpu: missing"},
    VerdictCase{"high_part_range", Probe::fennel, replaced(fennelDoc, "-5", "2147483648") + lf, 0, Outcome::garbled, false, "luidHighPart"},
    VerdictCase{"memory_past_64_bits", Probe::fennel, replaced(fennelDoc, "\"dedicatedVideoMemory\":3", "\"dedicatedVideoMemory\":18446744073709551616") + lf, 0, Outcome::garbled, false, "dedicatedVideoMemory"},
    VerdictCase{"fraction", Probe::fennel, replaced(fennelDoc, "\"index\":0", "\"index\":0.5") + lf, 0, Outcome::garbled, false, "index"},
    VerdictCase{"luid_not_valid", Probe::quarry, replaced(quarryDoc, "\"deviceLuidValid\":true", "\"deviceLuidValid\":false") + lf, 0, Outcome::garbled, false, "not marked valid"},
    VerdictCase{"unknown_driver", Probe::quarry, replaced(quarryDoc, "UNKNOWN(-3)", "MESA_LLAMAPIPE") + lf, 0, Outcome::garbled, false, "driverId"},
    VerdictCase{"short_version", Probe::quarry, replaced(quarryDoc, "1.3.0", "1.3") + lf, 0, Outcome::garbled, false, "apiVersion"},
    VerdictCase{"empty_driver_name", Probe::quarry, replaced(quarryDoc, "\"driverId\"", "\"driverName\":\"\",\"driverId\"") + lf, 0, Outcome::garbled, false, "driverName: empty"},
    VerdictCase{"platforms_without_platforms", Probe::brindle, replaced(noMatch, "no_match", "no_platforms") + lf, 0, Outcome::garbled, false, "no_platforms"},
    VerdictCase{"unknown_method", Probe::brindle, R"({"schema":1,"matched":true,"selector":"s","platform":"p","device":"d","deviceIndex":0,"method":"guess"})" + lf, 0, Outcome::garbled, false, "method"},
    VerdictCase{"nested_deep", Probe::fennel, std::string(100000, '[') + lf, 0, Outcome::garbled, false, "nested too deep"},
    VerdictCase{"nested_32_deep", Probe::fennel, std::string(32, '[') + std::string(32, ']') + lf, 0, Outcome::garbled, false, "not an object"},
    VerdictCase{"nested_33_deep", Probe::fennel, std::string(33, '[') + std::string(33, ']') + lf, 0, Outcome::garbled, false, "nested too deep"},
    VerdictCase{"64_adapters", Probe::fennel, listing(R"({"schema":1,"dxcoreAvailable":true,"adapters":[)", adapter, 64) + lf, 0, Outcome::answered, true, ""},
    VerdictCase{"65_adapters", Probe::fennel, listing(R"({"schema":1,"dxcoreAvailable":true,"adapters":[)", adapter, 65) + lf, 0, Outcome::garbled, false, "adapters: more than 64 entries"},
    VerdictCase{"luid_twice", Probe::fennel, replaced(fennelDoc, "]}", "," + adapter + "]}") + lf, 0, Outcome::garbled, false, "adapters[1]: the LUID of adapters[0]"},
    VerdictCase{"65_devices", Probe::quarry, listing(R"({"schema":2,"devices":[)", device, 65) + lf, 0, Outcome::garbled, false, "devices: more than 64 entries"},
    VerdictCase{"adapter_of_9_keys", Probe::fennel, replaced(fennelDoc, "\"index\"", "\"x\":0,\"index\"") + lf, 0, Outcome::garbled, false, "adapters[0]: more than 8 keys"},
    VerdictCase{"device_of_14_keys", Probe::quarry, replaced(quarryDoc, "\"vkIndex\"", "\"driverName\":\"n\",\"driverInfo\":\"i\",\"x\":0,\"vkIndex\"") + lf, 0, Outcome::garbled, false, "devices[0]: more than 13 keys"},
    VerdictCase{"a_mebibyte_of_objects", Probe::fennel, mebibyteOfObjects() + lf, 0, Outcome::garbled, false, "document: more than 64 entries"},
    VerdictCase{"a_mebibyte_of_keys", Probe::brindle, mebibyteOfKeys() + lf, 0, Outcome::garbled, false, "document: more than 7 keys"},
    VerdictCase{"read_failed", Probe::fennel, fennelDoc + lf, 0, Outcome::garbled, false, "reading its output failed: broken (error 6)", false, false, true, 6},
    VerdictCase{"document_then_hang", Probe::fennel, fennelDoc + lf, 0, Outcome::answered, true, "", true},
    VerdictCase{"error_document_then_hang", Probe::quarry, error(2, "vulkan_init_failed") + lf, 0, Outcome::failed, true, "vulkan_init_failed: m", true},
    VerdictCase{"half_a_document_then_hang", Probe::fennel, fennelDoc.substr(0, 20), 0, Outcome::timedOut, false, "no answer within 30 s", true},
    VerdictCase{"vkindex_twice", Probe::quarry, replaced(quarryDoc, "]}", "," + replaced(device, "\"luidLowPart\":4", "\"luidLowPart\":5") + "]}") + lf, 0, Outcome::garbled, false, "devices[1]: the vkIndex of devices[0]"},
    VerdictCase{"hang", Probe::fennel, "", 0, Outcome::timedOut, false, "no answer within 30 s", true},
    VerdictCase{"flood", Probe::quarry, quarryDoc + lf, 0, Outcome::garbled, false, "more than 1 MiB", false, true},
    VerdictCase{"missing_executable", Probe::fennel, "", 0, Outcome::couldNotStart, false, "fennel.exe: not found (error 2)", false, false, false}),
    [](const testing::TestParamInfo<VerdictCase>& p) { return std::string(p.param.label); });

TEST(Reading, NamesThatAreNotUtf8AreReadWithReplacementCharacters) {
  ChildRun child;
  child.started = true;
  child.exitCode = 0;
  child.output = replaced(fennelDoc, "\"A\"", "\"A\xFF\xC3(\xE0\x80\xC0\xAF\xF0\x9F\x98\x80\"") + lf;
  const FennelRun fennel = readFennelRun(child);
  ASSERT_EQ(fennel.run.outcome, Outcome::answered) << fennel.run.problem;
  // Each ill-formed sequence (a lone byte, a lead without its continuation, an overlong
  // beginning, a two-byte overlong form's lead and its continuation, as a Latin-1 text can hold)
  // becomes one U+FFFD each; a well-formed character stays.
  EXPECT_EQ(fennel.adapters.at(0).name,
            "A\xEF\xBF\xBD\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80");
  EXPECT_EQ(fennel.adapters.at(0).luidHighPart, -5);
  EXPECT_EQ(repairUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
}

TEST(Reading, EachOfSorrelsFieldsLandsInItsMember) {
  ChildRun child;
  child.started = true;
  child.exitCode = 0;
  child.output = sorrelDoc + lf;
  const SorrelRun sorrel = readSorrelRun(child);
  ASSERT_EQ(sorrel.run.outcome, Outcome::answered) << sorrel.run.problem;
  const SorrelAdapter& a = sorrel.adapters.at(0);
  EXPECT_EQ(std::make_tuple(a.luidLowPart, a.luidHighPart, a.dxgiOrdinal, a.outputs), std::make_tuple(4u, -5, 1u, 3u));
  EXPECT_EQ(std::make_tuple(a.highPerformanceRank, a.minimumPowerRank), std::make_tuple(std::optional<std::uint32_t>(), std::optional<std::uint32_t>(2)));
  EXPECT_EQ(std::make_tuple(a.dedicatedSystemMemory, a.sharedSystemMemory), std::make_tuple(std::uint64_t{4}, std::uint64_t{5}));
  using U64 = std::optional<std::uint64_t>;
  EXPECT_EQ(std::make_tuple(a.localBudget, a.nonLocalBudget, a.dedicatedUsage, a.sharedUsage),
            std::make_tuple(U64(6), U64(), U64(7), U64(8)));
  EXPECT_EQ(std::make_tuple(a.pciBus, a.pciDevice, a.pciFunction),
            std::make_tuple(std::optional<std::uint32_t>(9), std::optional<std::uint16_t>(65535), std::optional<std::uint16_t>(0)));
  EXPECT_EQ(a.driverVersion, "65535.0.10.99");
  EXPECT_EQ(a.asPrinted, nlohmann::ordered_json::parse(state));
}

}  // namespace

namespace {

using Type = RegistryValue::Type;

RegistryValue text(const std::string& value) { return {Type::string, value}; }

struct SettingsCase {
  const char* label;
  RegistryValue value;
  std::optional<GpuPreference> preference;
  std::optional<std::string> kept;  // the setting as the document holds it
  std::optional<PciIds> adapter;
};

const PciIds rtx{0x10DE, 0x2684, 0x88AC1043};
const std::string manyCharacters(4096, 'x');
std::string repeated(const std::string& unit, std::size_t times) {
  std::string all;
  for (std::size_t i = 0; i < times; ++i) all += unit;
  return all;
}

TEST(GraphicsSettings, EachValueIsReadAsTheRulesMakeIt) {
  const auto other = GpuPreference::other;
  const std::vector<SettingsCase> cases = {
      {"no value", {}, std::nullopt, std::nullopt, std::nullopt},
      {"let Windows decide", text("GpuPreference=0;"), GpuPreference::unspecified, "GpuPreference=0;", std::nullopt},
      {"power saving", text("GpuPreference=1;"), GpuPreference::minimumPower, "GpuPreference=1;", std::nullopt},
      {"high performance", text("GpuPreference=2;"), GpuPreference::highPerformance, "GpuPreference=2;", std::nullopt},
      {"last token without ;", text("GpuPreference=2"), GpuPreference::highPerformance, "GpuPreference=2", std::nullopt},
      {"unknown and empty tokens", text(";SwapEffectUpgradeEnable=1;;GpuPreference=1;AutoHDREnable=1"),
       GpuPreference::minimumPower, ";SwapEffectUpgradeEnable=1;;GpuPreference=1;AutoHDREnable=1", std::nullopt},
      {"repeated alike", text("GpuPreference=2;GpuPreference=02;"), GpuPreference::highPerformance, "GpuPreference=2;GpuPreference=02;", std::nullopt},
      {"one GPU", text("SpecificAdapter=10DE&2684&88AC1043;GpuPreference=1073741824;"), GpuPreference::specificAdapter,
       "SpecificAdapter=10DE&2684&88AC1043;GpuPreference=1073741824;", rtx},
      {"one GPU in lower case", text("GpuPreference=1;SpecificAdapter=10de&2684&88ac1043"), GpuPreference::specificAdapter,
       "GpuPreference=1;SpecificAdapter=10de&2684&88ac1043", rtx},
      {"one GPU named twice alike", text("SpecificAdapter=10DE&2684&88AC1043;SpecificAdapter=10de&2684&88ac1043;"),
       GpuPreference::specificAdapter, "SpecificAdapter=10DE&2684&88AC1043;SpecificAdapter=10de&2684&88ac1043;", rtx},
      {"two GPUs beside power saving", text("SpecificAdapter=10DE&2684&1;SpecificAdapter=1002&73FF&1;GpuPreference=1;"),
       GpuPreference::minimumPower, "SpecificAdapter=10DE&2684&1;SpecificAdapter=1002&73FF&1;GpuPreference=1;", std::nullopt},
      {"two fields beside another number", text("SpecificAdapter=10DE&2684;GpuPreference=1073741824;"), other,
       "SpecificAdapter=10DE&2684;GpuPreference=1073741824;", std::nullopt},
      {"not hexadecimal beside high performance", text("SpecificAdapter=10DE&XYZ&0;GpuPreference=2;"),
       GpuPreference::highPerformance, "SpecificAdapter=10DE&XYZ&0;GpuPreference=2;", std::nullopt},
      {"an empty field", text("SpecificAdapter=&2684&1;"), other, "SpecificAdapter=&2684&1;", std::nullopt},
      {"nine digits in a field", text("SpecificAdapter=123456789&1&1;"), other, "SpecificAdapter=123456789&1&1;", std::nullopt},
      {"four fields", text("SpecificAdapter=1&2&3&4;"), other, "SpecificAdapter=1&2&3&4;", std::nullopt},
      {"another number", text("GpuPreference=3;"), other, "GpuPreference=3;", std::nullopt},
      {"past 32 bits", text("GpuPreference=4294967298;"), other, "GpuPreference=4294967298;", std::nullopt},
      {"two that disagree", text("GpuPreference=2;GpuPreference=1;"), other, "GpuPreference=2;GpuPreference=1;", std::nullopt},
      {"no number", text("GpuPreference=;"), other, "GpuPreference=;", std::nullopt},
      {"a sign", text("GpuPreference=+2;"), other, "GpuPreference=+2;", std::nullopt},
      {"a space", text("GpuPreference= 2;"), other, "GpuPreference= 2;", std::nullopt},
      {"a name in other case", text("gpupreference=2;"), other, "gpupreference=2;", std::nullopt},
      {"no equals sign", text("GpuPreference;"), other, "GpuPreference;", std::nullopt},
      // No choice named at all: Windows 11 keeps a program's other settings in the same value.
      {"no GpuPreference", text("SwapEffectUpgradeEnable=1;"), GpuPreference::unspecified, "SwapEffectUpgradeEnable=1;",
       std::nullopt},
      {"only other settings", text("AutoHDREnable=2097;SwapEffectUpgradeEnable=1"), GpuPreference::unspecified,
       "AutoHDREnable=2097;SwapEffectUpgradeEnable=1", std::nullopt},
      {"empty", text(""), GpuPreference::unspecified, "", std::nullopt},
      {"a malformed SpecificAdapter alone", text("SwapEffectUpgradeEnable=1;SpecificAdapter=10DE;"), other,
       "SwapEffectUpgradeEnable=1;SpecificAdapter=10DE;", std::nullopt},
      {"a name with spaces around", text("SwapEffectUpgradeEnable=1; GpuPreference =2;"), other,
       "SwapEffectUpgradeEnable=1; GpuPreference =2;", std::nullopt},
      {"a SpecificAdapter in other case", text("specificadapter=10DE&2684&1;"), other, "specificadapter=10DE&2684&1;",
       std::nullopt},
      {"cut with only other settings before the cut", text("SwapEffectUpgradeEnable=1;" + manyCharacters), other,
       "SwapEffectUpgradeEnable=1;" + manyCharacters.substr(26), std::nullopt},
      {"not a string", {Type::other, ""}, other, std::nullopt, std::nullopt},
      {"read to its first NUL", text(std::string("GpuPreference=2;\0GpuPreference=1;", 33)), GpuPreference::highPerformance,
       "GpuPreference=2;", std::nullopt},
      {"read no further than 4096 characters", text(manyCharacters + ";GpuPreference=2;"), other, manyCharacters, std::nullopt},
      {"a token that the cut leaves in part", text(std::string(4080, 'x') + ";GpuPreference=21;"), other,
       std::string(4080, 'x') + ";GpuPreference=2", std::nullopt},
      {"a whole token before the cut", text("GpuPreference=1;" + manyCharacters), GpuPreference::minimumPower,
       "GpuPreference=1;" + manyCharacters.substr(16), std::nullopt},
      {"4096 characters, not bytes", text(repeated("\xC3\xA9", 4095) + "GpuPreference=2;"), other,
       repeated("\xC3\xA9", 4095) + "G", std::nullopt},
      {"a mebibyte of tokens", text("GpuPreference=2;" + std::string(1 << 20, ';')), GpuPreference::highPerformance,
       "GpuPreference=2;" + std::string(4080, ';'), std::nullopt},
  };
  for (const SettingsCase& c : cases) {
    const GraphicsSettings settings = graphicsSettingsOf("C:\\Python\\python.exe", c.value, {});
    EXPECT_EQ(settings.program, "C:\\Python\\python.exe") << c.label;
    EXPECT_EQ(settings.preference, c.preference) << c.label;
    EXPECT_EQ(settings.setting, c.kept) << c.label;
    EXPECT_TRUE(settings.specificAdapter == c.adapter) << c.label;
    EXPECT_EQ(settings.globalSetting, std::nullopt) << c.label;
  }
  // No program: nothing is looked up for it.
  EXPECT_EQ(graphicsSettingsOf(std::nullopt, text("GpuPreference=2;"), {}).preference, std::nullopt);
}

TEST(GraphicsSettings, TheGlobalValueNamesWindowsHighPerformanceGpu) {
  const std::vector<SettingsCase> cases = {
      {"none", {}, std::nullopt, std::nullopt, std::nullopt},
      {"named", text("SwapEffectUpgradeEnable=1;HighPerfAdapter=10DE&2684&88AC1043"), std::nullopt,
       "SwapEffectUpgradeEnable=1;HighPerfAdapter=10DE&2684&88AC1043", rtx},
      {"malformed", text("HighPerfAdapter=10DE&2684;"), std::nullopt, "HighPerfAdapter=10DE&2684;", std::nullopt},
      {"two that disagree", text("HighPerfAdapter=10DE&2684&1;HighPerfAdapter=10DE&2685&1;"), std::nullopt,
       "HighPerfAdapter=10DE&2684&1;HighPerfAdapter=10DE&2685&1;", std::nullopt},
      {"not a string", {Type::other, ""}, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const SettingsCase& c : cases) {
    const GraphicsSettings settings = graphicsSettingsOf(std::nullopt, text("GpuPreference=2;"), c.value);
    EXPECT_EQ(settings.globalSetting, c.kept) << c.label;
    EXPECT_TRUE(settings.highPerformanceAdapter == c.adapter) << c.label;
  }
}

// Windows keeps a program's settings under its plain name, never with a device prefix.
TEST(ProgramPath, WithoutDevicePrefix) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\\\\?\\C:\\Games\\g.exe", "C:\\Games\\g.exe"},
      {"\\\\.\\c:\\g.exe", "c:\\g.exe"},
      {"\\\\?\\UNC\\server\\share\\g.exe", "\\\\server\\share\\g.exe"},
      {"\\\\?\\unc\\server\\share\\g.exe", "\\\\server\\share\\g.exe"},
      // Anything else as given: a volume by its GUID, a device, no prefix, a prefix alone.
      {"\\\\?\\Volume{0b1c}\\g.exe", "\\\\?\\Volume{0b1c}\\g.exe"},
      {"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive0"},
      {"\\\\?\\UNC\\", "\\\\?\\UNC\\"},
      {"\\\\?\\C:", "\\\\?\\C:"},
      {"\\\\server\\share\\g.exe", "\\\\server\\share\\g.exe"},
      {"C:\\g.exe", "C:\\g.exe"},
      {"//?/C:/g.exe", "//?/C:/g.exe"},
      {"", ""},
  };
  for (const auto& [given, plain] : cases) EXPECT_EQ(withoutDevicePrefix(given), plain) << given;
}

}  // namespace
