// The whole run of brindle against fake COM, DXGI, module loader and OpenCL runtime.

#include "brindle_run.h"

#include <CL/cl_ext.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake_brindle_platform.h"
#include "fake_opencl.h"
#include "json_output.h"
#include "fault_injection.h"
#include "test_support.h"

namespace {

const std::vector<const char*> kLuidArgs = {"--luid-low", "1234", "--luid-high", "-1"};

struct RunResult {
  std::string out;
  int exitCode;
  std::vector<std::string> events;  // acquisitions and releases, without symbol lookups
};

RunResult run(std::vector<const char*> args) {
  args.insert(args.begin(), "brindle.exe");
  RunResult result{};
  const BrindlePlatform platform = fake_brindle::platform();
  result.out = captureStdout(
      [&] { result.exitCode = runBrindle(static_cast<int>(args.size()), args.data(), platform); });
  for (const std::string& e : fake_brindle::world().events) {
    if (e.rfind("GetProcAddress", 0) != 0) result.events.push_back(e);
  }
  return result;
}

const std::vector<std::string> kFullRelease = {
    "CoInitializeEx",         "CreateDXGIFactory1", "EnumAdapterByLuid", "LoadLibraryExW OpenCL.dll",
    "FreeLibrary OpenCL.dll", "Release adapter",    "Release factory",   "CoUninitialize"};

const char kUsage[] =
    "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"invalid_args\",\"message\":\"Usage: "
    "brindle.exe --luid-low <uint32> --luid-high <int32>\"}}\n";

const char kNoPlatforms[] =
    "{\"schema\":1,\"matched\":false,\"reason\":\"no_platforms\",\"platformCount\":0,"
    "\"d3d11SharingPlatforms\":0,\"luidExtDevices\":0}\n";

struct RunCase {
  const char* label;
  std::vector<const char*> args;
  std::function<void()> setup;
  std::string expected;
  int exitCode;
  std::vector<std::string> events;
};

class BrindleRunTest : public testing::TestWithParam<RunCase> {
 protected:
  void SetUp() override { fake_brindle::reset(); }
};

TEST_P(BrindleRunTest, PrintsOneDocumentAndReleasesInOrder) {
  const RunCase& c = GetParam();
  if (c.setup) c.setup();
  const RunResult r = run(c.args);
  EXPECT_EQ(r.out, c.expected);
  EXPECT_EQ(r.exitCode, c.exitCode);
  EXPECT_EQ(r.events, c.events);
  expectGuardedRun(r.exitCode);
  for (const std::string& call : fake_opencl::runtime().calls) {
    EXPECT_EQ(call.find("with a count pointer"), std::string::npos) << call;
  }
  for (long bytes : fake_brindle::world().stdoutAtRelease) {
    EXPECT_EQ(bytes, static_cast<long>(r.out.size())) << "released before the document";
  }
  const auto doc = parseDocument(r.out);
  EXPECT_EQ(doc["schema"], 1);
  EXPECT_TRUE(doc["matched"].is_boolean());
}

void onePlatform() {
  fake_opencl::runtime().platforms.push_back({});
  fake_opencl::runtime().platforms.back().name = "Only";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, BrindleRunTest,
    testing::Values(
        RunCase{"usage_without_arguments", {}, nullptr, kUsage, 2, {}},
        RunCase{"usage_for_help_after_both_parts",
                {"--luid-low", "1", "--luid-high", "2", "--help"}, nullptr, kUsage, 2, {}},
        RunCase{"usage_for_missing_high_part", {"--luid-low", "5", "--luid-high"}, nullptr, kUsage,
                2, {}},
        RunCase{"com_init_failed", kLuidArgs,
                [] { fake_brindle::world().comResult = static_cast<HResult>(0x80004005u); },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"com_init_failed\","
                "\"message\":\"CoInitializeEx failed\"}}\n",
                1, {"CoInitializeEx"}},
        RunCase{"factory_failed", kLuidArgs,
                [] { fake_brindle::world().factoryResult = static_cast<HResult>(0x887A0004u); },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"dxgi_factory_failed\","
                "\"message\":\"CreateDXGIFactory1 failed\"}}\n",
                1, {"CoInitializeEx", "CreateDXGIFactory1", "CoUninitialize"}},
        RunCase{"factory_null_on_success", kLuidArgs,
                [] { fake_brindle::world().factoryDelivered = false; },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"dxgi_factory_failed\","
                "\"message\":\"CreateDXGIFactory1 failed\"}}\n",
                1, {"CoInitializeEx", "CreateDXGIFactory1", "CoUninitialize"}},
        RunCase{"adapter_not_found", kLuidArgs,
                [] { fake_brindle::world().lookupResult = static_cast<HResult>(0x887A0002u); },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"dxgi_adapter_not_found\","
                "\"message\":\"EnumAdapterByLuid failed for LUID 1234:-1 (hr=0x887A0002)\"}}\n",
                1,
                {"CoInitializeEx", "CreateDXGIFactory1", "EnumAdapterByLuid", "Release factory",
                 "CoUninitialize"}},
        RunCase{"adapter_null_on_success", kLuidArgs,
                [] {
                  fake_brindle::world().lookupResult = 1;
                  fake_brindle::world().adapterDelivered = false;
                },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"dxgi_adapter_not_found\","
                "\"message\":\"EnumAdapterByLuid failed for LUID 1234:-1 (hr=0x00000001)\"}}\n",
                1,
                {"CoInitializeEx", "CreateDXGIFactory1", "EnumAdapterByLuid", "Release factory",
                 "CoUninitialize"}},
        RunCase{"opencl_dll_missing", kLuidArgs,
                [] { fake_brindle::world().openClPresent = false; },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"opencl_dll_missing\","
                "\"message\":\"OpenCL.dll not found\"}}\n",
                1,
                {"CoInitializeEx", "CreateDXGIFactory1", "EnumAdapterByLuid",
                 "LoadLibraryExW OpenCL.dll", "Release adapter", "Release factory",
                 "CoUninitialize"}},
        RunCase{"symbols_missing", kLuidArgs,
                [] { fake_opencl::runtime().missingExports = {"clGetDeviceIDs"}; },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":\"opencl_symbols_missing\","
                "\"message\":\"OpenCL.dll is missing required exports\"}}\n",
                1, kFullRelease},
        RunCase{"platform_not_found_khr", kLuidArgs,
                [] {
                  fake_opencl::runtime().platformCountResult = -1001;
                  fake_opencl::runtime().overridePlatformCount = true;
                  fake_opencl::runtime().platformCount = 3;
                },
                kNoPlatforms, 0, kFullRelease},
        RunCase{"count_error_with_zero_count", kLuidArgs,
                [] { fake_opencl::runtime().platformCountResult = CL_OUT_OF_HOST_MEMORY; },
                kNoPlatforms, 0, kFullRelease},
        RunCase{"count_zero", kLuidArgs, nullptr, kNoPlatforms, 0, kFullRelease},
        RunCase{"count_error_with_count", kLuidArgs,
                [] {
                  fake_opencl::runtime().platformCountResult = CL_INVALID_VALUE;
                  fake_opencl::runtime().overridePlatformCount = true;
                  fake_opencl::runtime().platformCount = 2;
                },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":"
                "\"opencl_platform_enum_failed\",\"message\":\"clGetPlatformIDs failed: -30\"}}\n",
                1, kFullRelease},
        RunCase{"absurd_platform_count", kLuidArgs,
                [] {
                  fake_opencl::runtime().overridePlatformCount = true;
                  fake_opencl::runtime().platformCount = 0xFFFFFFFFu;
                },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":"
                "\"opencl_platform_enum_failed\",\"message\":\"clGetPlatformIDs failed: -6\"}}\n",
                1, kFullRelease},
        RunCase{"list_error", kLuidArgs,
                [] {
                  onePlatform();
                  fake_opencl::runtime().platformListResult = CL_OUT_OF_RESOURCES;
                },
                "{\"schema\":1,\"matched\":false,\"error\":{\"code\":"
                "\"opencl_platform_enum_failed\",\"message\":\"clGetPlatformIDs (2nd call) "
                "failed: -5\"}}\n",
                1, kFullRelease},
        RunCase{"no_match", kLuidArgs, onePlatform,
                "{\"schema\":1,\"matched\":false,\"reason\":\"no_match\",\"platformCount\":1,"
                "\"d3d11SharingPlatforms\":0,\"luidExtDevices\":0}\n",
                0, kFullRelease}),
    LabelName{});

TEST(BrindleRun, LooksUpTheLuidFromTheCommandLine) {
  fake_brindle::reset();
  fake_brindle::world().lookupResult = static_cast<HResult>(0x887A0002u);
  const RunResult r = run({"--luid-low", "--help", "--luid-high", "3"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(fake_brindle::world().lookedUpLow, 0u);
  EXPECT_EQ(fake_brindle::world().lookedUpHigh, 3);
  EXPECT_NE(r.out.find("LUID 0:3 (hr=0x887A0002)"), std::string::npos) << r.out;
}

TEST(BrindleRun, ResolvesAllFiveEntryPointsBeforeJudgingAny) {
  fake_brindle::reset();
  fake_opencl::runtime().missingExports = {"clGetPlatformIDs"};
  run(kLuidArgs);
  std::vector<std::string> lookups;
  for (const std::string& e : fake_brindle::world().events) {
    if (e.rfind("GetProcAddress ", 0) == 0) lookups.push_back(e.substr(15));
  }
  EXPECT_EQ(lookups, (std::vector<std::string>{"clGetPlatformIDs", "clGetPlatformInfo",
                                               "clGetDeviceIDs", "clGetDeviceInfo",
                                               "clGetExtensionFunctionAddressForPlatform"}));
  EXPECT_TRUE(fake_opencl::runtime().calls.empty()) << "no OpenCL call without its entry points";
}

TEST(BrindleRun, EachRequiredEntryPointIsRequired) {
  for (const char* name :
       {"clGetPlatformIDs", "clGetPlatformInfo", "clGetDeviceIDs", "clGetDeviceInfo"}) {
    fake_brindle::reset();
    fake_opencl::runtime().missingExports = {name};
    const RunResult r = run(kLuidArgs);
    EXPECT_EQ(r.exitCode, 1) << name;
    EXPECT_EQ(parseDocument(r.out)["error"]["code"], "opencl_symbols_missing") << name;
  }
}

// Without clGetExtensionFunctionAddressForPlatform the sharing match does not run at all.
TEST(BrindleRun, SkipsTheSharingMatchWithoutTheExtensionLookup) {
  fake_brindle::reset();
  fake_opencl::runtime().missingExports = {"clGetExtensionFunctionAddressForPlatform"};
  fake_opencl::Platform p;
  p.name = "Sharing";
  p.extensions = "cl_khr_d3d11_sharing";
  p.d3d11Devices.push_back({});
  fake_opencl::runtime().platforms.push_back(p);
  const RunResult r = run(kLuidArgs);
  EXPECT_EQ(r.out,
            "{\"schema\":1,\"matched\":false,\"reason\":\"no_match\",\"platformCount\":1,"
            "\"d3d11SharingPlatforms\":0,\"luidExtDevices\":0}\n");
  EXPECT_EQ(r.exitCode, 0);
  for (const std::string& call : fake_opencl::runtime().calls) {
    EXPECT_EQ(call.find("D3D11"), std::string::npos) << call;
  }
}

TEST(BrindleRun, SharingMatchGetsTheLookedUpAdapterAndWinsOverTheLuidMatch) {
  fake_brindle::reset();
  static void* seen = nullptr;
  fake_opencl::runtime().acceptAdapter = [](void* adapter) {
    seen = adapter;
    return true;
  };
  fake_opencl::Platform p;
  p.name = "Vendor CL";
  p.extensions = "cl_khr_d3d11_sharing";
  fake_opencl::Device gpu;
  gpu.name = "GPU 0";
  gpu.extensions = "cl_khr_device_uuid";
  gpu.luidValid = true;
  gpu.luid = fake_opencl::luidBytes(1234, -1);
  p.d3d11Devices.push_back(gpu);
  p.devices.push_back(gpu);
  fake_opencl::runtime().platforms.push_back(p);

  const RunResult r = run(kLuidArgs);
  EXPECT_EQ(r.out,
            "{\"schema\":1,\"matched\":true,\"selector\":\"Vendor CL:GPU:GPU 0\",\"platform\":"
            "\"Vendor CL\",\"device\":\"GPU 0\",\"deviceIndex\":0,\"method\":\"d3d11_sharing\"}\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(seen, fake_brindle::adapterObject());
  EXPECT_EQ(r.events, kFullRelease);
  for (const std::string& call : fake_opencl::runtime().calls) {
    EXPECT_EQ(call.find("clGetDeviceIDs "), std::string::npos) << "LUID match ran: " << call;
  }
}

// A sharing platform whose sharing function finds nothing, and a GPU with the LUID.
void sharingFindsNothing() {
  fake_opencl::Platform p;
  p.name = "Vendor CL";
  p.extensions = "cl_khr_d3d11_sharing";
  p.d3d11CountError = CL_DEVICE_NOT_FOUND;
  fake_opencl::Device cpu;
  cpu.name = "CPU";
  cpu.type = CL_DEVICE_TYPE_CPU;
  fake_opencl::Device gpu;
  gpu.name = "GPU";
  gpu.extensions = "cl_khr_device_uuid";
  gpu.luidValid = true;
  gpu.luid = fake_opencl::luidBytes(1234, -1);
  p.devices = {cpu, gpu};
  fake_opencl::runtime().platforms.push_back(p);
}

TEST(BrindleRun, LuidMatchRunsWhenSharingFindsNothing) {
  fake_brindle::reset();
  sharingFindsNothing();
  const RunResult r = run(kLuidArgs);
  EXPECT_EQ(r.out,
            "{\"schema\":1,\"matched\":true,\"selector\":\"Vendor CL:GPU:GPU\",\"platform\":"
            "\"Vendor CL\",\"device\":\"GPU\",\"deviceIndex\":1,\"method\":\"luid\"}\n");
  EXPECT_EQ(r.events, kFullRelease);
}

// Every call into the OpenCL runtime, the platform's sharing function included, gives the
// crash handlers back to the probe before the next call: the runtime loads its drivers on the
// first calls, and any later one may run code that installs handlers of its own.
TEST(BrindleRun, TakesTheCrashHandlersBackAfterEveryOpenClCall) {
  fake_brindle::reset();
  sharingFindsNothing();
  run(kLuidArgs);
  const std::vector<std::string>& calls = faults::history();
  const std::vector<std::size_t>& reclaimed =
      fake_process::process().crashHandlersInstalledAtCall;
  std::vector<std::string> openClCalls;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].rfind("cl", 0) != 0) continue;
    openClCalls.push_back(calls[i]);
    EXPECT_NE(std::find(reclaimed.begin(), reclaimed.end(), i + 1), reclaimed.end())
        << "no reclaim after call " << i + 1 << ": " << calls[i];
  }
  for (const char* call : {"clGetPlatformIDs count", "clGetDeviceIDsFromD3D11KHR count",
                           "clGetExtensionFunctionAddressForPlatform", "clGetDeviceInfo CL_DEVICE_LUID_KHR"}) {
    EXPECT_NE(std::find(openClCalls.begin(), openClCalls.end(), call), openClCalls.end()) << call;
  }
}

}  // namespace
