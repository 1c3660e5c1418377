// fennel's whole run against fake COM, DXGI and DXCore.

#include "fennel_run.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake_fennel_platform.h"
#include "json_output.h"
#include "test_support.h"

namespace {

using fake_fennel::Adapter;

struct RunResult {
  std::string out;
  int exitCode;
};

RunResult run() {
  RunResult r{};
  const FennelPlatform platform = fake_fennel::platform();
  r.out = captureStdout([&] { r.exitCode = runFennel(platform); });
  return r;
}

Adapter adapter(const char16_t* name, std::uint64_t memory, std::uint32_t luidLow,
                std::int32_t luidHigh = 0) {
  Adapter a;
  a.name = name;
  a.dedicatedVideoMemory = memory;
  a.luidLowPart = luidLow;
  a.luidHighPart = luidHigh;
  return a;
}

std::string element(int index, const std::string& name, std::uint64_t memory, std::uint32_t low,
                    std::int32_t high, bool integrated, std::uint32_t vendor = 4318,
                    std::uint32_t device = 9860) {
  return "{\"index\":" + std::to_string(index) + ",\"name\":\"" + name +
         "\",\"vendorId\":" + std::to_string(vendor) + ",\"deviceId\":" + std::to_string(device) +
         ",\"dedicatedVideoMemory\":" + std::to_string(memory) +
         ",\"luidLowPart\":" + std::to_string(low) + ",\"luidHighPart\":" + std::to_string(high) +
         ",\"isIntegratedGpu\":" + (integrated ? "true" : "false") + "}";
}

std::string document(bool dxcore, const std::vector<std::string>& elements) {
  std::string out = std::string("{\"schema\":1,\"dxcoreAvailable\":") +
                    (dxcore ? "true" : "false") + ",\"adapters\":[";
  for (std::size_t i = 0; i < elements.size(); ++i) out += (i ? "," : "") + elements[i];
  return out + "]}\n";
}

constexpr std::uint64_t kGiB = 1ull << 30;

struct RunCase {
  const char* label;
  std::function<void()> setup;
  std::string expected;
  int exitCode;
};

class FennelRunTest : public testing::TestWithParam<RunCase> {
 protected:
  void SetUp() override { fake_fennel::reset(); }
};

TEST_P(FennelRunTest, PrintsTheAdapterList) {
  GetParam().setup();
  const RunResult r = run();
  EXPECT_EQ(r.out, GetParam().expected);
  EXPECT_EQ(r.exitCode, GetParam().exitCode);
  const auto doc = parseDocument(r.out);
  expectGuardedRun(r.exitCode);
  EXPECT_EQ(doc["schema"], 1);
}

void addAdapters(std::vector<Adapter> adapters) { fake_fennel::world().adapters = adapters; }

INSTANTIATE_TEST_SUITE_P(
    Runs, FennelRunTest,
    testing::Values(
        RunCase{"no_adapters", [] {}, document(false, {}), 0},
        RunCase{"no_adapters_with_dxcore", [] { fake_fennel::world().dxcorePresent = true; },
                document(true, {}), 0},
        RunCase{"only_software",
                [] {
                  Adapter warp = adapter(u"Microsoft Basic Render Driver", 0, 5);
                  warp.flags = 2;
                  addAdapters({warp});
                },
                document(false, {}), 0},
        RunCase{"software_between_two_hardware",
                [] {
                  Adapter warp = adapter(u"WARP", 0, 2);
                  warp.flags = 2;
                  addAdapters({adapter(u"A", 8 * kGiB, 1), warp, adapter(u"B", 512u << 20, 3)});
                },
                document(false, {element(0, "A", 8 * kGiB, 1, 0, false),
                                 element(1, "B", 512u << 20, 3, 0, true)}),
                0},
        RunCase{"failing_desc_takes_no_index",
                [] {
                  Adapter broken = adapter(u"broken", 0, 2);
                  broken.descResult = static_cast<HResult>(0x80004005u);
                  addAdapters({broken, adapter(u"B", 4 * kGiB, 3)});
                },
                document(false, {element(0, "B", 4 * kGiB, 3, 0, false)}), 0},
        RunCase{"remote_flag_is_listed",
                [] {
                  Adapter remote = adapter(u"Remote", 4 * kGiB, 9);
                  remote.flags = 1;
                  addAdapters({remote});
                },
                document(false, {element(0, "Remote", 4 * kGiB, 9, 0, false)}), 0},
        RunCase{"memory_threshold_without_dxcore",
                [] {
                  addAdapters({adapter(u"below", 2147483647ull, 1), adapter(u"at", 2147483648ull, 2),
                               adapter(u"zero", 0, 3), adapter(u"huge", 24 * kGiB, 4)});
                },
                document(false, {element(0, "below", 2147483647ull, 1, 0, true),
                                 element(1, "at", 2147483648ull, 2, 0, false),
                                 element(2, "zero", 0, 3, 0, true),
                                 element(3, "huge", 24 * kGiB, 4, 0, false)}),
                0},
        RunCase{"dxcore_answers_decide",
                [] {
                  fake_fennel::world().dxcorePresent = true;
                  Adapter no = adapter(u"small discrete", 512u << 20, 1);
                  no.integratedByte = 0;
                  Adapter yes = adapter(u"big integrated", 8 * kGiB, 2);
                  yes.integratedByte = 1;
                  Adapter yes255 = adapter(u"255", 8 * kGiB, 3, -2);  // asked by its whole LUID
                  yes255.integratedByte = 255;
                  addAdapters({no, yes, yes255});
                },
                document(true, {element(0, "small discrete", 512u << 20, 1, 0, false),
                                element(1, "big integrated", 8 * kGiB, 2, 0, true),
                                element(2, "255", 8 * kGiB, 3, -2, true)}),
                0},
        RunCase{"dxcore_undecided_falls_back_to_memory",
                [] {
                  fake_fennel::world().dxcorePresent = true;
                  Adapter unknown = adapter(u"unknown", 512u << 20, 1);
                  unknown.knownToDxcore = false;
                  Adapter unsupported = adapter(u"unsupported", 512u << 20, 2);
                  unsupported.integratedSupported = false;
                  Adapter failing = adapter(u"failing", 8 * kGiB, 3);
                  failing.integratedResult = static_cast<HResult>(0x80004005u);
                  failing.integratedByte = 1;
                  Adapter answered = adapter(u"answered", 512u << 20, 4);
                  addAdapters({unknown, unsupported, failing, answered});
                },
                document(true, {element(0, "unknown", 512u << 20, 1, 0, true),
                                element(1, "unsupported", 512u << 20, 2, 0, true),
                                element(2, "failing", 8 * kGiB, 3, 0, false),
                                element(3, "answered", 512u << 20, 4, 0, false)}),
                0},
        RunCase{"values_print_in_full",
                [] {
                  Adapter a = adapter(u"n", 48 * kGiB, 4000000000u, -2);
                  a.vendorId = 0x8086;
                  a.deviceId = 0xA780;
                  addAdapters({a});
                },
                document(false,
                         {element(0, "n", 48 * kGiB, 4000000000u, -2, false, 32902, 42880)}),
                0},
        RunCase{"names_escaped_and_utf8",
                [] {
                  addAdapters({adapter(u"Quote\" Back\\slash", 4 * kGiB, 1),
                               adapter(u"Gr\u00e4fik \u30b0 \U0001F600", 4 * kGiB, 2)});
                },
                document(false, {element(0, "Quote\\\" Back\\\\slash", 4 * kGiB, 1, 0, false),
                                 element(1,
                                         "Gr\xC3\xA4"
                                         "fik \xE3\x82\xB0 \xF0\x9F\x98\x80",
                                         4 * kGiB, 2, 0, false)}),
                0},
        RunCase{"factory1_fallback_gives_the_same_document",
                [] {
                  fake_fennel::world().factory4Result = static_cast<HResult>(0x80004002u);
                  addAdapters({adapter(u"A", 4 * kGiB, 1)});
                },
                document(false, {element(0, "A", 4 * kGiB, 1, 0, false)}), 0},
        RunCase{"com_s_false_is_success",
                [] {
                  fake_fennel::world().comResult = 1;
                  addAdapters({adapter(u"A", 4 * kGiB, 1)});
                },
                document(false, {element(0, "A", 4 * kGiB, 1, 0, false)}), 0},
        RunCase{"com_init_failed",
                [] { fake_fennel::world().comResult = static_cast<HResult>(0x80010106u); },
                "{\"schema\":1,\"error\":{\"code\":\"com_init_failed\",\"message\":"
                "\"CoInitializeEx failed\"}}\n",
                1},
        RunCase{"both_factories_fail",
                [] {
                  fake_fennel::world().factory4Result = static_cast<HResult>(0x80004002u);
                  fake_fennel::world().factory1Result = static_cast<HResult>(0x887A0004u);
                },
                "{\"schema\":1,\"error\":{\"code\":\"dxgi_failed\",\"message\":"
                "\"CreateDXGIFactory1 failed: 0x887A0004\"}}\n",
                1},
        RunCase{"second_factory_succeeds_without_pointer",
                [] {
                  fake_fennel::world().factory4Delivered = false;
                  fake_fennel::world().factory1Delivered = false;
                  fake_fennel::world().factory1Result = 1;
                },
                "{\"schema\":1,\"error\":{\"code\":\"dxgi_failed\",\"message\":"
                "\"CreateDXGIFactory1 failed: 0x00000001\"}}\n",
                1},
        RunCase{"other_enum_failure_ends_the_list",
                [] {
                  addAdapters({adapter(u"A", 4 * kGiB, 1), adapter(u"B", 4 * kGiB, 2)});
                  fake_fennel::world().enumFailure = static_cast<HResult>(0x887A0005u);
                  fake_fennel::world().enumFailureOrdinal = 1;
                },
                document(false, {element(0, "A", 4 * kGiB, 1, 0, false)}), 0},
        RunCase{"description_without_nul_is_read_to_the_end_of_the_field",
                [] { addAdapters({adapter(std::u16string(130, u'n').c_str(), 4 * kGiB, 1)}); },
                document(false, {element(0, std::string(128, 'n'), 4 * kGiB, 1, 0, false)}), 0},
        RunCase{"failed_name_conversion_gives_empty_name",
                [] {
                  fake_fennel::world().conversionFails = true;
                  addAdapters({adapter(u"A", 4 * kGiB, 1)});
                },
                document(false, {element(0, "", 4 * kGiB, 1, 0, false)}), 0},
        RunCase{"failed_second_conversion_gives_empty_name",
                [] {
                  fake_fennel::world().conversionWriteFails = true;
                  addAdapters({adapter(u"A", 4 * kGiB, 1)});
                },
                document(false, {element(0, "", 4 * kGiB, 1, 0, false)}), 0}),
    LabelName{});

std::vector<std::string> eventsWithout(const std::string& prefix) {
  std::vector<std::string> kept;
  for (const std::string& e : fake_fennel::world().events) {
    if (e.rfind(prefix, 0) != 0) kept.push_back(e);
  }
  return kept;
}

TEST(FennelRun, ReleasesDxgiAndComBeforePrintingAndDxcoreLast) {
  fake_fennel::reset();
  fake_fennel::world().dxcorePresent = true;
  Adapter a = adapter(u"A", 4 * kGiB, 1);
  a.integratedByte = 1;
  Adapter warp = adapter(u"W", 0, 2);
  warp.flags = 2;
  addAdapters({a, warp});
  const RunResult r = run();
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(eventsWithout("WideCharToMultiByte"),
            (std::vector<std::string>{
                "CoInitializeEx", "CreateDXGIFactory1 IDXGIFactory4", "LoadLibraryExW dxcore.dll",
                "GetProcAddress DXCoreCreateAdapterFactory", "DXCoreCreateAdapterFactory",
                "EnumAdapters1 0", "GetAdapterByLuid 0", "IsPropertySupported 12",
                "GetProperty 12 size 1", "Release DXCore adapter 0", "Release adapter 0",
                "EnumAdapters1 1", "Release adapter 1", "Release DXGI factory", "CoUninitialize",
                "Release DXCore factory", "FreeLibrary dxcore.dll"}));
}

TEST(FennelRun, ComFailureReleasesNothing) {
  fake_fennel::reset();
  fake_fennel::world().comResult = static_cast<HResult>(0x80004005u);
  run();
  EXPECT_EQ(fake_fennel::world().events, (std::vector<std::string>{"CoInitializeEx"}));
}

TEST(FennelRun, FactoryFailureUninitialisesComWithoutTouchingDxcore) {
  fake_fennel::reset();
  fake_fennel::world().dxcorePresent = true;
  fake_fennel::world().factory4Result = static_cast<HResult>(0x80004002u);
  fake_fennel::world().factory1Result = static_cast<HResult>(0x887A0004u);
  run();
  EXPECT_EQ(fake_fennel::world().events,
            (std::vector<std::string>{"CoInitializeEx", "CreateDXGIFactory1 IDXGIFactory4",
                                      "CreateDXGIFactory1 IDXGIFactory1", "CoUninitialize"}));
}

TEST(FennelRun, WithoutDxcoreNoDxcoreCallIsMade) {
  fake_fennel::reset();
  addAdapters({adapter(u"A", 4 * kGiB, 1)});
  run();
  for (const std::string& e : fake_fennel::world().events) {
    EXPECT_EQ(e.find("DXCore"), std::string::npos) << e;
    EXPECT_EQ(e.find("GetAdapterByLuid"), std::string::npos) << e;
  }
}

TEST(FennelRun, EveryAdapterIsReleasedOnce) {
  fake_fennel::reset();
  Adapter broken = adapter(u"broken", 0, 2);
  broken.descResult = static_cast<HResult>(0x80004005u);
  addAdapters({adapter(u"A", 1, 1), broken, adapter(u"C", 1, 3)});
  run();
  for (const char* released : {"Release adapter 0", "Release adapter 1", "Release adapter 2"}) {
    const auto& events = fake_fennel::world().events;
    EXPECT_EQ(std::count(events.begin(), events.end(), released), 1) << released;
  }
}

}  // namespace
