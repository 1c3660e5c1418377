// brindle's fault sweep: every platform call of two baseline runs (one matched through
// Direct3D 11 sharing, one through the LUID) fails in each way its API allows.

#include <string>
#include <vector>

#include "brindle_run.h"
#include "fake_brindle_platform.h"
#include "fake_opencl.h"
#include "opencl_runtime.h"
#include "sweep_support.h"

namespace {

using faults::Fault;
using fake_opencl::Device;
using fake_opencl::Platform;

// A new entry point in the table needs a sweep entry below; this stops the build until then.
static_assert(sizeof(BrindlePlatform) == 16 * sizeof(void (*)()), "sweep the new platform call");
static_assert(sizeof(OpenClRuntime) == 6 * sizeof(void*), "sweep the new OpenCL entry point");

const std::vector<SweepEntry> kTable = {
    {"write the document", {{Fault::errorCode, kWriteFailed}}},
    {"open the null device", {{Fault::errorCode, "null_device_unavailable"}}},
    {"CoInitializeEx", {{Fault::errorCode, "com_init_failed"}, {Fault::successCode, kResult}}},
    {"CreateDXGIFactory1",
     {{Fault::errorCode, "dxgi_factory_failed"}, {Fault::nullOut, "dxgi_factory_failed"}}},
    {"EnumAdapterByLuid",
     {{Fault::errorCode, "dxgi_adapter_not_found"}, {Fault::nullOut, "dxgi_adapter_not_found"}}},
    {"LoadLibraryExW OpenCL.dll", {{Fault::nullOut, "opencl_dll_missing"}}},
    {"GetProcAddress clGetPlatformIDs", {{Fault::nullOut, "opencl_symbols_missing"}}},
    {"GetProcAddress clGetPlatformInfo", {{Fault::nullOut, "opencl_symbols_missing"}}},
    {"GetProcAddress clGetDeviceIDs", {{Fault::nullOut, "opencl_symbols_missing"}}},
    {"GetProcAddress clGetDeviceInfo", {{Fault::nullOut, "opencl_symbols_missing"}}},
    {"GetProcAddress clGetExtensionFunctionAddressForPlatform", {{Fault::nullOut, kResult}}},
    {"clGetPlatformIDs count",
     {{Fault::errorCode, "opencl_platform_enum_failed"}, {Fault::zeroCount, "no_platforms"}}},
    {"clGetPlatformIDs list",
     {{Fault::errorCode, "opencl_platform_enum_failed"}, {Fault::shrinkCount, kResult}}},
    {"clGetPlatformInfo CL_PLATFORM_NAME",
     {{Fault::errorCode, kResult}, {Fault::dataError, kResult}, {Fault::unterminated, kResult}}},
    {"clGetPlatformInfo CL_PLATFORM_EXTENSIONS",
     {{Fault::errorCode, kResult}, {Fault::dataError, kResult}, {Fault::unterminated, kResult}}},
    {"clGetExtensionFunctionAddressForPlatform", {{Fault::nullOut, kResult}}},
    {"clGetDeviceIDsFromD3D11KHR count", {{Fault::errorCode, kResult}, {Fault::zeroCount, kResult}}},
    {"clGetDeviceIDsFromD3D11KHR list", {{Fault::errorCode, kResult}, {Fault::shrinkCount, kResult}}},
    {"clGetDeviceIDs count", {{Fault::errorCode, kResult}, {Fault::zeroCount, kResult}}},
    {"clGetDeviceIDs list", {{Fault::errorCode, kResult}, {Fault::shrinkCount, kResult}}},
    {"clGetDeviceInfo CL_DEVICE_TYPE", {{Fault::errorCode, kResult}}},
    {"clGetDeviceInfo CL_DEVICE_NAME",
     {{Fault::errorCode, kResult}, {Fault::dataError, kResult}, {Fault::unterminated, kResult}}},
    {"clGetDeviceInfo CL_DEVICE_EXTENSIONS",
     {{Fault::errorCode, kResult}, {Fault::dataError, kResult}, {Fault::unterminated, kResult}}},
    {"clGetDeviceInfo CL_DEVICE_LUID_VALID_KHR", {{Fault::errorCode, kResult}}},
    {"clGetDeviceInfo CL_DEVICE_LUID_KHR", {{Fault::errorCode, kResult}}},
};

const std::vector<const char*> kArgs = {"brindle.exe", "--luid-low", "77", "--luid-high", "-1"};

Device gpuWithLuid(const char* name, std::uint32_t low) {
  Device d;
  d.name = name;
  d.extensions = "cl_khr_device_uuid";
  d.luidValid = true;
  d.luid = fake_opencl::luidBytes(low, -1);
  return d;
}

Device cpuDevice() {
  Device d;
  d.name = "cpu";
  d.type = CL_DEVICE_TYPE_CPU;
  return d;
}

Platform sharingPlatform() {
  Platform p;
  p.name = "Sharing";
  p.extensions = "cl_khr_d3d11_sharing";
  return p;
}

// Baselines that between them reach every call: the sharing match on the second platform,
// and the LUID match after a sharing platform that names no device.
void sharingBaseline() {
  Platform plain;
  plain.name = "Plain";
  plain.devices = {gpuWithLuid("other", 5)};
  Platform sharing = sharingPlatform();
  sharing.d3d11Devices = {cpuDevice(), gpuWithLuid("gpu", 77)};
  fake_opencl::runtime().platforms = {plain, sharing};
}

void luidBaseline() {
  Platform sharing = sharingPlatform();
  sharing.devices = {cpuDevice(), gpuWithLuid("miss", 5), gpuWithLuid("hit", 77)};
  fake_opencl::runtime().platforms = {sharing};
}

const Baselines kBaselines = {{"sharing", sharingBaseline}, {"luid", luidBaseline}};

SweepRun runBaseline(const std::string& baseline, const SweepCase* armed) {
  return runSweepCase(kBaselines, baseline, armed, fake_brindle::reset, [] {
    return runBrindle(static_cast<int>(kArgs.size()), kArgs.data(), fake_brindle::platform());
  });
}

SeenCalls seenCalls() { return seenByBaseline(kBaselines, runBaseline); }

TEST(BrindleSweep, BaselinesMatchAndTheTableNamesEveryCall) {
  EXPECT_NE(runBaseline("sharing", nullptr).out.find("\"method\":\"d3d11_sharing\""),
            std::string::npos);
  EXPECT_NE(runBaseline("luid", nullptr).out.find("\"method\":\"luid\""), std::string::npos);
  expectTableCoversCalls(seenCalls(), kTable);
}

class BrindleSweepTest : public testing::TestWithParam<SweepCase> {};

TEST_P(BrindleSweepTest, EndsInOneDocumentAndReleasesEverything) {
  const SweepRun run = runBaseline(GetParam().baseline, &GetParam());
  expectOutcome(run.out, run.err, run.exitCode, GetParam().expected);
  expectReleasedInOrder(fake_brindle::world().acquired, fake_brindle::world().released,
                        {"OpenCL.dll", "adapter", "factory", "COM"});
}

INSTANTIATE_TEST_SUITE_P(Faults, BrindleSweepTest,
                         testing::ValuesIn(generateSweep(seenCalls(), kTable)),
                         sweepCaseName);

}  // namespace
