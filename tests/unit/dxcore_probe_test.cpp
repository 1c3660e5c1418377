// The DXCore probe on its own: creation outcomes, release order and name conversion.

#include "dxcore_probe.h"
#include "fennel_run.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_fennel_platform.h"
#include "test_support.h"

namespace {

struct CreationCase {
  const char* label;
  std::function<void()> setup;
  bool available;
  std::vector<std::string> events;
};

class DxcoreCreationTest : public testing::TestWithParam<CreationCase> {
 protected:
  void SetUp() override {
    fake_fennel::reset();
    fake_fennel::world().dxcorePresent = true;
  }
};

TEST_P(DxcoreCreationTest, HoldsModuleAndFactoryOnlyTogether) {
  GetParam().setup();
  const FennelPlatform platform = fake_fennel::platform();
  DxcoreProbe probe = createDxcoreProbe(platform);
  EXPECT_EQ(probe.available, GetParam().available);
  EXPECT_EQ(probe.module != nullptr, GetParam().available);
  EXPECT_EQ(probe.factory != nullptr, GetParam().available);
  EXPECT_EQ(fake_fennel::world().events, GetParam().events);
  destroyDxcoreProbe(platform, probe);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, DxcoreCreationTest,
    testing::Values(
        CreationCase{"available", [] {}, true,
                     {"LoadLibraryExW dxcore.dll", "GetProcAddress DXCoreCreateAdapterFactory",
                      "DXCoreCreateAdapterFactory"}},
        CreationCase{"no_library", [] { fake_fennel::world().dxcorePresent = false; }, false,
                     {"LoadLibraryExW dxcore.dll"}},
        CreationCase{"no_entry_point", [] { fake_fennel::world().dxcoreEntryPoint = false; },
                     false,
                     {"LoadLibraryExW dxcore.dll", "GetProcAddress DXCoreCreateAdapterFactory",
                      "FreeLibrary dxcore.dll"}},
        CreationCase{"factory_fails",
                     [] { fake_fennel::world().dxcoreFactoryResult = static_cast<HResult>(0x80004002u); },
                     false,
                     {"LoadLibraryExW dxcore.dll", "GetProcAddress DXCoreCreateAdapterFactory",
                      "DXCoreCreateAdapterFactory", "FreeLibrary dxcore.dll"}},
        CreationCase{"factory_success_without_pointer",
                     [] { fake_fennel::world().dxcoreFactoryDelivered = false; }, false,
                     {"LoadLibraryExW dxcore.dll", "GetProcAddress DXCoreCreateAdapterFactory",
                      "DXCoreCreateAdapterFactory", "FreeLibrary dxcore.dll"}}),
    LabelName{});

TEST(DxcoreProbe, DestructionReleasesTheFactoryBeforeUnloading) {
  fake_fennel::reset();
  fake_fennel::world().dxcorePresent = true;
  const FennelPlatform platform = fake_fennel::platform();
  DxcoreProbe probe = createDxcoreProbe(platform);
  fake_fennel::world().events.clear();
  destroyDxcoreProbe(platform, probe);
  EXPECT_EQ(fake_fennel::world().events,
            (std::vector<std::string>{"Release DXCore factory", "FreeLibrary dxcore.dll"}));
  EXPECT_FALSE(probe.available);
  destroyDxcoreProbe(platform, probe);
  EXPECT_EQ(fake_fennel::world().events.size(), 2u) << "a destroyed probe holds nothing";
}

TEST(DxcoreProbe, UnsupportedPropertyIsUndecidedWithoutReadingIt) {
  fake_fennel::reset();
  fake_fennel::world().dxcorePresent = true;
  fake_fennel::Adapter a;
  a.luidLowPart = 7;
  a.integratedSupported = false;
  fake_fennel::world().adapters = {a};
  const FennelPlatform platform = fake_fennel::platform();
  DxcoreProbe probe = createDxcoreProbe(platform);
  fake_fennel::world().events.clear();
  EXPECT_EQ(queryIsIntegrated(platform, probe, 7, 0), IntegratedAnswer::undecided);
  EXPECT_EQ(fake_fennel::world().events,
            (std::vector<std::string>{"GetAdapterByLuid 0", "IsPropertySupported 12",
                                      "Release DXCore adapter 0"}));
  EXPECT_EQ(queryIsIntegrated(platform, probe, 8, 0), IntegratedAnswer::undecided);
  destroyDxcoreProbe(platform, probe);
}

TEST(DxcoreProbe, IsDestroyedWhenTheRunIsLeftByAnException) {
  fake_fennel::reset();
  fake_fennel::world().dxcorePresent = true;
  // The name conversion throws while the document is printed.
  fake_fennel::Adapter named;
  named.name = std::u16string(1, u'x');
  fake_fennel::world().adapters = {named};
  FennelPlatform platform = fake_fennel::platform();
  platform.text.wideToUtf8 = [](const char16_t*, int, char*, int) -> int {
    throw std::runtime_error("conversion");
  };
  testing::internal::CaptureStdout();
  EXPECT_THROW(runFennel(platform), std::runtime_error);
  testing::internal::GetCapturedStdout();
  const auto& events = fake_fennel::world().events;
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], "Release DXCore factory");
  EXPECT_EQ(events.back(), "FreeLibrary dxcore.dll");
}

TEST(ToUtf8, EmptyTextMakesNoPlatformCall) {
  fake_fennel::reset();
  EXPECT_EQ(toUtf8(fake_fennel::platform(), u""), "");
  EXPECT_TRUE(fake_fennel::world().events.empty());
}

TEST(ToUtf8, FailedSizeQueryGivesEmptyWithoutConverting) {
  fake_fennel::reset();
  fake_fennel::world().conversionFails = true;
  EXPECT_EQ(toUtf8(fake_fennel::platform(), u"abc"), "");
  EXPECT_EQ(fake_fennel::world().events, (std::vector<std::string>{"WideCharToMultiByte size"}));
}

}  // namespace
