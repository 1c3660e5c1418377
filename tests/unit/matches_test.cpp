// The two matches against a fake OpenCL runtime: which platform and device win, what is
// counted, what is printed.

#include <CL/cl_ext.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake_opencl.h"
#include "match_d3d11.h"
#include "match_luid.h"
#include "test_support.h"

namespace {

using fake_opencl::Device;
using fake_opencl::Platform;

constexpr std::uint32_t kLow = 100926;
constexpr std::int32_t kHigh = -1;

OpenClRuntime fakeRuntime() {
  OpenClRuntime r;
  r.getPlatformIDs = fake_opencl::getPlatformIDs;
  r.getPlatformInfo = fake_opencl::getPlatformInfo;
  r.getDeviceIDs = fake_opencl::getDeviceIDs;
  r.getDeviceInfo = fake_opencl::getDeviceInfo;
  r.getExtensionFunctionAddressForPlatform = fake_opencl::getExtensionFunctionAddressForPlatform;
  return r;
}

std::vector<cl_platform_id> platformHandles() {
  std::vector<cl_platform_id> handles;
  for (Platform& p : fake_opencl::runtime().platforms) {
    handles.push_back(reinterpret_cast<cl_platform_id>(&p));
  }
  return handles;
}

Device device(const char* name, cl_device_type type = CL_DEVICE_TYPE_GPU) {
  Device d;
  d.name = name;
  d.type = type;
  return d;
}

Device luidGpu(const char* name, std::uint32_t low = kLow, std::int32_t high = kHigh) {
  Device d = device(name);
  d.extensions = "cl_khr_fp64 cl_khr_device_uuid";
  d.luidValid = true;
  d.luid = fake_opencl::luidBytes(low, high);
  return d;
}

Platform sharingPlatform(const char* name, std::vector<Device> devices) {
  Platform p;
  p.name = name;
  p.extensions = "cl_khr_icd cl_khr_d3d11_sharing";
  p.d3d11Devices = std::move(devices);
  return p;
}

Platform luidPlatform(const char* name, std::vector<Device> devices) {
  Platform p;
  p.name = name;
  p.devices = std::move(devices);
  return p;
}

struct MatchOutcome {
  bool matched;
  std::string out;
  MatchCounters counters;
};

int adapterToken;

MatchOutcome runSharing() {
  MatchOutcome o{};
  const OpenClRuntime runtime = fakeRuntime();
  const auto platforms = platformHandles();
  o.counters.platformCount = static_cast<std::uint32_t>(platforms.size());
  guardOutputForTest();
  o.out = captureStdout(
      [&] { o.matched = matchByD3D11Sharing(&adapterToken, platforms, runtime, o.counters); });
  return o;
}

MatchOutcome runLuid(std::uint32_t low = kLow, std::int32_t high = kHigh) {
  MatchOutcome o{};
  const OpenClRuntime runtime = fakeRuntime();
  const auto platforms = platformHandles();
  guardOutputForTest();
  o.out = captureStdout([&] { o.matched = matchByLuid(low, high, platforms, runtime, o.counters); });
  return o;
}

bool anyCallMentions(const std::string& text) {
  const auto& calls = fake_opencl::runtime().calls;
  return std::any_of(calls.begin(), calls.end(),
                     [&](const std::string& c) { return c.find(text) != std::string::npos; });
}

std::string matchDocument(const std::string& selector, const std::string& platform,
                          const std::string& device, unsigned index, const char* method) {
  return "{\"schema\":1,\"matched\":true,\"selector\":\"" + selector + "\",\"platform\":\"" +
         platform + "\",\"device\":\"" + device + "\",\"deviceIndex\":" + std::to_string(index) +
         ",\"method\":\"" + method + "\"}\n";
}

struct SharingCase {
  const char* label;
  std::function<void()> setup;
  std::string expected;  // empty: no match
  std::uint32_t sharingPlatforms;
};

class SharingMatchTest : public testing::TestWithParam<SharingCase> {
 protected:
  void SetUp() override { fake_opencl::reset(); }
};

TEST_P(SharingMatchTest, ChoosesPlatformAndDevice) {
  GetParam().setup();
  const MatchOutcome o = runSharing();
  EXPECT_EQ(o.matched, !GetParam().expected.empty());
  EXPECT_EQ(o.out, GetParam().expected);
  EXPECT_EQ(o.counters.d3d11SharingPlatforms, GetParam().sharingPlatforms);
  EXPECT_EQ(o.counters.luidExtDevices, 0u);
  if (o.matched) {
    EXPECT_EQ(parseDocument(o.out)["method"], "d3d11_sharing");
  }
  for (cl_uint set : fake_opencl::runtime().d3d11DeviceSets) {
    EXPECT_EQ(set, kD3D11DeviceSet) << "both calls ask for the same device set";
  }
  EXPECT_FALSE(anyCallMentions("with a count pointer")) << "the list call takes no count pointer";
}

void addPlatform(Platform p) { fake_opencl::runtime().platforms.push_back(std::move(p)); }

INSTANTIATE_TEST_SUITE_P(
    Platforms, SharingMatchTest,
    testing::Values(
        SharingCase{"cpu_then_gpu_picks_gpu",
                    [] {
                      addPlatform(sharingPlatform(
                          "P", {device("cpu", CL_DEVICE_TYPE_CPU), device("gpu")}));
                    },
                    matchDocument("P:GPU:gpu", "P", "gpu", 1, "d3d11_sharing"), 1},
        SharingCase{"cpu_only_picks_index_zero",
                    [] { addPlatform(sharingPlatform("P", {device("cpu", CL_DEVICE_TYPE_CPU)})); },
                    matchDocument("P:GPU:cpu", "P", "cpu", 0, "d3d11_sharing"), 1},
        SharingCase{"two_gpus_picks_first",
                    [] { addPlatform(sharingPlatform("P", {device("g0"), device("g1")})); },
                    matchDocument("P:GPU:g0", "P", "g0", 0, "d3d11_sharing"), 1},
        SharingCase{"gpu_and_default_is_a_gpu",
                    [] {
                      addPlatform(sharingPlatform(
                          "P", {device("cpu", CL_DEVICE_TYPE_CPU),
                                device("gd", CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_DEFAULT)}));
                    },
                    matchDocument("P:GPU:gd", "P", "gd", 1, "d3d11_sharing"), 1},
        SharingCase{"failing_type_query_is_not_a_gpu",
                    [] {
                      Device broken = device("broken");
                      broken.typeError = CL_INVALID_DEVICE;
                      addPlatform(sharingPlatform("P", {broken, device("gpu")}));
                    },
                    matchDocument("P:GPU:gpu", "P", "gpu", 1, "d3d11_sharing"), 1},
        SharingCase{"upper_case_extension_name",
                    [] {
                      Platform p = sharingPlatform("P", {device("gpu")});
                      p.extensions = "CL_KHR_D3D11_SHARING";
                      addPlatform(p);
                    },
                    matchDocument("P:GPU:gpu", "P", "gpu", 0, "d3d11_sharing"), 1},
        SharingCase{"no_extension_not_counted",
                    [] {
                      Platform p = sharingPlatform("P", {device("gpu")});
                      p.extensions = "cl_khr_icd";
                      addPlatform(p);
                    },
                    "", 0},
        SharingCase{"extension_query_fails_not_counted",
                    [] {
                      Platform p = sharingPlatform("P", {device("gpu")});
                      p.extensionsError = CL_INVALID_VALUE;
                      addPlatform(p);
                    },
                    "", 0},
        SharingCase{"null_function_counted_no_match",
                    [] {
                      Platform p = sharingPlatform("P", {device("gpu")});
                      p.offersD3D11Function = false;
                      addPlatform(p);
                    },
                    "", 1},
        SharingCase{"count_fails_then_next_platform",
                    [] {
                      Platform p = sharingPlatform("A", {device("a")});
                      p.d3d11CountError = CL_DEVICE_NOT_FOUND;
                      addPlatform(p);
                      addPlatform(sharingPlatform("B", {device("b")}));
                    },
                    matchDocument("B:GPU:b", "B", "b", 0, "d3d11_sharing"), 2},
        SharingCase{"empty_list_then_next_platform",
                    [] {
                      addPlatform(sharingPlatform("A", {}));
                      addPlatform(sharingPlatform("B", {device("b")}));
                    },
                    matchDocument("B:GPU:b", "B", "b", 0, "d3d11_sharing"), 2},
        SharingCase{"list_fails_then_next_platform",
                    [] {
                      Platform p = sharingPlatform("A", {device("a")});
                      p.d3d11ListError = CL_OUT_OF_RESOURCES;
                      addPlatform(p);
                      addPlatform(sharingPlatform("B", {device("b")}));
                    },
                    matchDocument("B:GPU:b", "B", "b", 0, "d3d11_sharing"), 2},
        SharingCase{"null_device_passes_platform_over",
                    [] {
                      Device missing = device("missing");
                      missing.nullHandle = true;
                      addPlatform(sharingPlatform("A", {missing}));
                      addPlatform(sharingPlatform("B", {device("b")}));
                    },
                    matchDocument("B:GPU:b", "B", "b", 0, "d3d11_sharing"), 2},
        SharingCase{"absurd_sizes_read_as_failures",
                    [] {
                      Platform a = sharingPlatform("A", {device("a")});
                      a.absurdDeviceCount = 0xFFFFFFFFu;
                      addPlatform(a);
                      Platform b = sharingPlatform("B", {device("b")});
                      b.absurdNameSize = true;
                      addPlatform(b);
                    },
                    matchDocument(":GPU:b", "", "b", 0, "d3d11_sharing"), 2},
        SharingCase{"quote_in_platform_name",
                    [] { addPlatform(sharingPlatform("Q\"CL\\", {device("d\x01")})); },
                    matchDocument("Q\\\"CL\\\\:GPU:d\\u0001", "Q\\\"CL\\\\", "d\\u0001", 0,
                                  "d3d11_sharing"),
                    1},
        SharingCase{"failing_name_query_gives_empty_platform",
                    [] {
                      Platform p = sharingPlatform("Hidden", {device("gpu")});
                      p.nameError = CL_INVALID_VALUE;
                      addPlatform(p);
                    },
                    matchDocument(":GPU:gpu", "", "gpu", 0, "d3d11_sharing"), 1},
        SharingCase{"failing_device_name_gives_empty_device",
                    [] {
                      Device d = device("gpu");
                      d.nameError = CL_INVALID_VALUE;
                      addPlatform(sharingPlatform("P", {d}));
                    },
                    matchDocument("P:GPU:", "P", "", 0, "d3d11_sharing"), 1}),
    LabelName{});

TEST(SharingMatch, FirstPlatformWinsAndLaterOnesAreNotQueried) {
  fake_opencl::reset();
  addPlatform(sharingPlatform("First", {device("f")}));
  addPlatform(sharingPlatform("Second", {device("s")}));
  const MatchOutcome o = runSharing();
  EXPECT_EQ(o.out, matchDocument("First:GPU:f", "First", "f", 0, "d3d11_sharing"));
  EXPECT_FALSE(anyCallMentions("Second"));
  EXPECT_EQ(o.counters.d3d11SharingPlatforms, 1u);
}

TEST(SharingMatch, ReadsNameAndExtensionsOfEveryPlatformWalked) {
  fake_opencl::reset();
  Platform plain;
  plain.name = "Plain";
  addPlatform(plain);
  addPlatform(sharingPlatform("Shares", {}));
  const MatchOutcome o = runSharing();
  EXPECT_FALSE(o.matched);
  EXPECT_EQ(o.out, "");
  EXPECT_TRUE(anyCallMentions("clGetPlatformInfo Plain 2306"));  // CL_PLATFORM_NAME
  EXPECT_TRUE(anyCallMentions("clGetPlatformInfo Plain 2308"));  // CL_PLATFORM_EXTENSIONS
  EXPECT_FALSE(anyCallMentions("clGetExtensionFunctionAddressForPlatform Plain"));
}

struct LuidCase {
  const char* label;
  std::function<void()> setup;
  std::string expected;  // empty: no match
  std::uint32_t luidExtDevices;
  std::uint32_t low = kLow;
  std::int32_t high = kHigh;
};

class LuidMatchTest : public testing::TestWithParam<LuidCase> {
 protected:
  void SetUp() override { fake_opencl::reset(); }
};

TEST_P(LuidMatchTest, ComparesTheLuidOfGpuDevices) {
  GetParam().setup();
  const MatchOutcome o = runLuid(GetParam().low, GetParam().high);
  EXPECT_EQ(o.matched, !GetParam().expected.empty());
  EXPECT_EQ(o.out, GetParam().expected);
  EXPECT_EQ(o.counters.luidExtDevices, GetParam().luidExtDevices);
  EXPECT_EQ(o.counters.d3d11SharingPlatforms, 0u);
  EXPECT_FALSE(anyCallMentions("with a count pointer")) << "the list call takes no count pointer";
  for (const std::string& call : fake_opencl::runtime().calls) {
    if (call.find("LUID") == std::string::npos) continue;
    EXPECT_EQ(call.substr(call.size() - 7), " size 8") << "both LUID queries pass 8 bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, LuidMatchTest,
    testing::Values(
        LuidCase{"cpu_gpu_index_counts_every_device",
                 [] {
                   addPlatform(luidPlatform("P", {device("cpu", CL_DEVICE_TYPE_CPU), luidGpu("g")}));
                 },
                 matchDocument("P:GPU:g", "P", "g", 1, "luid"), 1},
        LuidCase{"cpu_with_the_luid_is_ignored",
                 [] {
                   Device cpu = luidGpu("cpu");
                   cpu.type = CL_DEVICE_TYPE_CPU;
                   addPlatform(luidPlatform("P", {cpu}));
                 },
                 "", 0},
        LuidCase{"invalid_luid_counted_never_matched",
                 [] {
                   Device g = luidGpu("g");
                   g.luidValid = false;
                   addPlatform(luidPlatform("P", {g}));
                 },
                 "", 1},
        LuidCase{"luid_valid_query_fails",
                 [] {
                   Device g = luidGpu("g");
                   g.luidValidError = CL_INVALID_VALUE;
                   addPlatform(luidPlatform("P", {g}));
                 },
                 "", 1},
        LuidCase{"luid_query_fails",
                 [] {
                   Device g = luidGpu("g");
                   g.luidError = CL_INVALID_VALUE;
                   addPlatform(luidPlatform("P", {g}));
                 },
                 "", 1},
        LuidCase{"high_part_differs",
                 [] { addPlatform(luidPlatform("P", {luidGpu("g", kLow, 0)})); }, "", 1},
        LuidCase{"low_part_differs",
                 [] { addPlatform(luidPlatform("P", {luidGpu("g", kLow + 1, kHigh)})); }, "", 1},
        LuidCase{"all_ff_bytes",
                 [] { addPlatform(luidPlatform("P", {luidGpu("g", 0xFFFFFFFFu, -1)})); },
                 matchDocument("P:GPU:g", "P", "g", 0, "luid"), 1, 0xFFFFFFFFu, -1},
        LuidCase{"luid_parts_little_endian",
                 [] {
                   Device g = luidGpu("g");
                   g.luid = {0x01, 0, 0, 0, 0x02, 0, 0, 0};
                   addPlatform(luidPlatform("P", {g}));
                 },
                 matchDocument("P:GPU:g", "P", "g", 0, "luid"), 1, 1, 2},
        LuidCase{"validity_in_any_byte",
                 [] {
                   Device g = luidGpu("g");
                   g.luidValidBytes = std::string("\x00\x01\x00\x00", 4);
                   addPlatform(luidPlatform("P", {g}));
                 },
                 matchDocument("P:GPU:g", "P", "g", 0, "luid"), 1},
        LuidCase{"absurd_device_count_passes_platform_over",
                 [] {
                   Platform a = luidPlatform("A", {luidGpu("a")});
                   a.absurdDeviceCount = 0xFFFFFFFFu;
                   addPlatform(a);
                   addPlatform(luidPlatform("B", {luidGpu("b")}));
                 },
                 matchDocument("B:GPU:b", "B", "b", 0, "luid"), 1},
        LuidCase{"extension_query_fails_not_counted",
                 [] {
                   Device g = luidGpu("g");
                   g.extensionsError = CL_INVALID_VALUE;
                   addPlatform(luidPlatform("P", {g}));
                 },
                 "", 0},
        LuidCase{"without_uuid_extension_not_counted",
                 [] {
                   Device g = luidGpu("g");
                   g.extensions = "cl_khr_fp64";
                   addPlatform(luidPlatform("P", {g}));
                 },
                 "", 0},
        LuidCase{"earlier_platform_wins",
                 [] {
                   addPlatform(luidPlatform("A", {luidGpu("a")}));
                   addPlatform(luidPlatform("B", {luidGpu("b")}));
                 },
                 matchDocument("A:GPU:a", "A", "a", 0, "luid"), 1},
        LuidCase{"failing_device_list_passes_platform_over",
                 [] {
                   Platform a = luidPlatform("A", {luidGpu("a")});
                   a.deviceListError = CL_OUT_OF_RESOURCES;
                   addPlatform(a);
                   Platform b = luidPlatform("B", {luidGpu("b")});
                   b.deviceCountError = CL_DEVICE_NOT_FOUND;
                   addPlatform(b);
                   addPlatform(luidPlatform("C", {luidGpu("c")}));
                 },
                 matchDocument("C:GPU:c", "C", "c", 0, "luid"), 1},
        LuidCase{"totals_over_platforms_without_match",
                 [] {
                   addPlatform(luidPlatform("A", {luidGpu("a0", 1, 0), luidGpu("a1", 2, 0)}));
                   addPlatform(luidPlatform("B", {device("cpu", CL_DEVICE_TYPE_CPU),
                                                  luidGpu("b0", 3, 0)}));
                 },
                 "", 3}),
    LabelName{});

TEST(LuidMatch, StopsAtTheFirstMatchingDevice) {
  fake_opencl::reset();
  addPlatform(luidPlatform("P", {luidGpu("first"), luidGpu("second")}));
  addPlatform(luidPlatform("Q", {luidGpu("third")}));
  const MatchOutcome o = runLuid();
  EXPECT_EQ(o.out, matchDocument("P:GPU:first", "P", "first", 0, "luid"));
  EXPECT_FALSE(anyCallMentions("second"));
  EXPECT_FALSE(anyCallMentions(" Q "));
  EXPECT_TRUE(anyCallMentions("clGetDeviceIDs P count all"));
}

}  // namespace
