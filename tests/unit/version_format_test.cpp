#include "driver_id.h"
#include "version_format.h"

#include <vulkan/vulkan.h>

#include <string>

#include "test_support.h"

namespace {

struct DriverVersionCase {
  std::uint32_t vendor;
  std::uint32_t word;
  const char* text;
};

class DriverVersionTest : public testing::TestWithParam<DriverVersionCase> {};

TEST_P(DriverVersionTest, UsesTheVendorsPacking) {
  EXPECT_EQ(formatDriverVersion(GetParam().word, GetParam().vendor), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Words, DriverVersionTest,
    testing::Values(DriverVersionCase{4318, 2315976704u, "552.44.0.0"},
                    DriverVersionCase{4318, 0, "0.0.0.0"},
                    DriverVersionCase{4318, 4227268, "1.2.3.4"},  // each field on its own bits
                    DriverVersionCase{4318, 4294967295u, "1023.255.255.63"},
                    DriverVersionCase{32902, 1660117, "101.5333"},
                    DriverVersionCase{32902, 4294967295u, "262143.16383"},
                    DriverVersionCase{32902, 2315976704u, "141356.0"},
                    DriverVersionCase{4098, 8388887, "2.0.279"},
                    DriverVersionCase{4098, 4294967295u, "1023.1023.4095"},
                    DriverVersionCase{4098, 2315976704u, "552.176.0"},
                    DriverVersionCase{0x10005, 2315976704u, "552.176.0"},  // Vulkan vendor id
                    DriverVersionCase{0x10DE0000u, 2315976704u, "552.176.0"},
                    DriverVersionCase{0, 0, "0.0.0"}));

struct ApiVersionCase {
  std::uint32_t word;
  const char* text;
};

class ApiVersionTest : public testing::TestWithParam<ApiVersionCase> {};

TEST_P(ApiVersionTest, KeepsTheVariantInTheFirstNumber) {
  EXPECT_EQ(formatApiVersion(GetParam().word), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Words, ApiVersionTest,
                         testing::Values(ApiVersionCase{4206869, "1.3.277"},
                                         ApiVersionCase{4202496, "1.2.0"},
                                         ApiVersionCase{541073413, "129.2.5"},
                                         ApiVersionCase{4294967295u, "1023.1023.4095"},
                                         ApiVersionCase{0, "0.0.0"}));

struct DriverIdCase {
  std::int32_t id;
  const char* name;
};

class DriverIdTest : public testing::TestWithParam<DriverIdCase> {};

TEST_P(DriverIdTest, NamesByNumber) { EXPECT_EQ(driverIdName(GetParam().id), GetParam().name); }

// Every name of the table, keyed by the headers' own values (26 is newer than Debian's
// headers), and the fallback around the table's ends.
INSTANTIATE_TEST_SUITE_P(
    Ids, DriverIdTest,
    testing::Values(
        DriverIdCase{VK_DRIVER_ID_AMD_PROPRIETARY, "AMD_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_AMD_OPEN_SOURCE, "AMD_OPEN_SOURCE"},
        DriverIdCase{VK_DRIVER_ID_MESA_RADV, "MESA_RADV"},
        DriverIdCase{VK_DRIVER_ID_NVIDIA_PROPRIETARY, "NVIDIA_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_INTEL_PROPRIETARY_WINDOWS, "INTEL_PROPRIETARY_WINDOWS"},
        DriverIdCase{VK_DRIVER_ID_INTEL_OPEN_SOURCE_MESA, "INTEL_OPEN_SOURCE_MESA"},
        DriverIdCase{VK_DRIVER_ID_IMAGINATION_PROPRIETARY, "IMAGINATION_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_QUALCOMM_PROPRIETARY, "QUALCOMM_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_ARM_PROPRIETARY, "ARM_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_GOOGLE_SWIFTSHADER, "GOOGLE_SWIFTSHADER"},
        DriverIdCase{VK_DRIVER_ID_GGP_PROPRIETARY, "GGP_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_BROADCOM_PROPRIETARY, "BROADCOM_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_MESA_LLVMPIPE, "MESA_LLVMPIPE"},
        DriverIdCase{VK_DRIVER_ID_MOLTENVK, "MOLTENVK"},
        DriverIdCase{VK_DRIVER_ID_COREAVI_PROPRIETARY, "COREAVI_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_JUICE_PROPRIETARY, "JUICE_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_VERISILICON_PROPRIETARY, "VERISILICON_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_MESA_TURNIP, "MESA_TURNIP"},
        DriverIdCase{VK_DRIVER_ID_MESA_V3DV, "MESA_V3DV"},
        DriverIdCase{VK_DRIVER_ID_MESA_PANVK, "MESA_PANVK"},
        DriverIdCase{VK_DRIVER_ID_SAMSUNG_PROPRIETARY, "SAMSUNG_PROPRIETARY"},
        DriverIdCase{VK_DRIVER_ID_MESA_VENUS, "MESA_VENUS"},
        DriverIdCase{VK_DRIVER_ID_MESA_DOZEN, "MESA_DOZEN"},
        DriverIdCase{VK_DRIVER_ID_MESA_NVK, "MESA_NVK"},
        DriverIdCase{VK_DRIVER_ID_IMAGINATION_OPEN_SOURCE_MESA, "IMAGINATION_OPEN_SOURCE_MESA"},
        DriverIdCase{26, "MESA_AGXV"}, DriverIdCase{0, "UNKNOWN(0)"},
        DriverIdCase{27, "UNKNOWN(27)"}, DriverIdCase{-1, "UNKNOWN(-1)"},
        DriverIdCase{2147483647, "UNKNOWN(2147483647)"},
        DriverIdCase{-2147483647 - 1, "UNKNOWN(-2147483648)"}));

}  // namespace
