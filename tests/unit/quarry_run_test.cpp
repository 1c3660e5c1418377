// quarry's whole run against fake Vulkan entry points.

#include "quarry_run.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_vulkan.h"
#include "json_output.h"
#include "test_support.h"

namespace {

using fake_vulkan::Device;

struct RunResult {
  std::string out;
  int exitCode;
};

RunResult run() {
  RunResult r{};
  r.out = captureStdout([&] { r.exitCode = runQuarry(fake_vulkan::platform()); });
  return r;
}

Device exampleNvidia() {
  Device d = fake_vulkan::device("Example GPU", 4318, 9860);
  d.properties.apiVersion = 4206869;
  d.properties.driverVersion = 2315976704u;
  d.luidValid = VK_TRUE;
  const uint8_t luid[8] = {0x3e, 0x8a, 0x01, 0x00, 0xff, 0xff, 0xff, 0xff};
  std::memcpy(d.luid, luid, 8);
  d.driverId = VK_DRIVER_ID_NVIDIA_PROPRIETARY;
  std::strcpy(d.driverName, "Example driver");
  std::strcpy(d.driverInfo, "552.44");
  return d;
}

const std::string kExampleObject =
    "{\"vkIndex\":0,\"name\":\"Example GPU\",\"vendorId\":4318,\"deviceId\":9860,"
    "\"deviceLuidValid\":true,\"luidLowPart\":100926,\"luidHighPart\":-1,\"apiVersion\":"
    "\"1.3.277\",\"driverVersionRaw\":2315976704,\"driverVersionFormatted\":\"552.44.0.0\","
    "\"driverId\":\"NVIDIA_PROPRIETARY\",\"driverName\":\"Example driver\",\"driverInfo\":"
    "\"552.44\"}";

const char kExampleWithoutDriver[] =
    "{\"vkIndex\":0,\"name\":\"Example GPU\",\"vendorId\":4318,\"deviceId\":9860,"
    "\"deviceLuidValid\":true,\"luidLowPart\":100926,\"luidHighPart\":-1,\"apiVersion\":"
    "\"1.3.277\",\"driverVersionRaw\":2315976704,\"driverVersionFormatted\":\"552.44.0.0\"}";

struct RunCase {
  const char* label;
  std::function<void()> setup;
  std::string expected;
  int exitCode;
  std::vector<std::string> calls;
};

class QuarryRunTest : public testing::TestWithParam<RunCase> {
 protected:
  void SetUp() override { fake_vulkan::reset(); }
};

TEST_P(QuarryRunTest, PrintsTheDocumentAndCleansUp) {
  GetParam().setup();
  const RunResult r = run();
  EXPECT_EQ(r.out, GetParam().expected);
  EXPECT_EQ(r.exitCode, GetParam().exitCode);
  EXPECT_EQ(fake_vulkan::model().calls, GetParam().calls);
  EXPECT_EQ(fake_vulkan::model().liveInstances, 0) << "an instance was left alive";
  EXPECT_EQ(fake_vulkan::model().createInfoMistakes, std::vector<std::string>{});
  expectGuardedRun(r.exitCode);
  const auto doc = parseDocument(r.out);
  EXPECT_EQ(doc["schema"], 2);
  if (r.exitCode == 0) {
    EXPECT_EQ(fake_vulkan::model().stdoutAtDestroy, 0) << "destroyed after printing began";
  } else if (fake_vulkan::model().stdoutAtDestroy >= 0) {
    EXPECT_EQ(fake_vulkan::model().stdoutAtDestroy, static_cast<long>(r.out.size()))
        << "the error document comes before the instance is destroyed";
  }
}

const std::vector<std::string> kOneDeviceCalls = {
    "vkCreateInstance", "vkEnumeratePhysicalDevices count", "vkEnumeratePhysicalDevices list 1",
    "vkGetPhysicalDeviceProperties", "vkGetPhysicalDeviceProperties2 id driver",
    "vkDestroyInstance"};

INSTANTIATE_TEST_SUITE_P(
    Runs, QuarryRunTest,
    testing::Values(
        RunCase{"example_device",
                [] { fake_vulkan::model().devices = {exampleNvidia()}; },
                std::string("{\"schema\":2,\"devices\":[") + kExampleObject + "]}\n", 0,
                kOneDeviceCalls},
        RunCase{"no_devices_skips_second_call", [] {}, "{\"schema\":2,\"devices\":[]}\n", 0,
                {"vkCreateInstance", "vkEnumeratePhysicalDevices count", "vkDestroyInstance"}},
        RunCase{"fallback_to_1_1_has_no_driver_keys",
                [] {
                  fake_vulkan::model().createResults = {VK_ERROR_INCOMPATIBLE_DRIVER, VK_SUCCESS};
                  fake_vulkan::model().devices = {exampleNvidia()};
                },
                std::string("{\"schema\":2,\"devices\":[") + kExampleWithoutDriver + "]}\n",
                0,
                {"vkCreateInstance", "vkCreateInstance", "vkEnumeratePhysicalDevices count",
                 "vkEnumeratePhysicalDevices list 1", "vkGetPhysicalDeviceProperties",
                 "vkGetPhysicalDeviceProperties2 id", "vkDestroyInstance"}},
        RunCase{"no_vulkan_loader_on_the_machine",
                [] { fake_vulkan::model().loaderPresent = false; },
                "{\"schema\":2,\"error\":{\"code\":\"vulkan_init_failed\",\"message\":"
                "\"vulkan-1.dll not found\"}}\n",
                1, {}},
        RunCase{"both_creations_fail",
                [] { fake_vulkan::model().createResults = {VK_ERROR_INCOMPATIBLE_DRIVER}; },
                "{\"schema\":2,\"error\":{\"code\":\"vulkan_init_failed\",\"message\":"
                "\"vkCreateInstance failed with error code -9\"}}\n",
                1, {"vkCreateInstance", "vkCreateInstance"}},
        RunCase{"success_without_handle_is_a_failure",
                [] {
                  fake_vulkan::model().nullHandleAttempts = 2;
                  fake_vulkan::model().devices = {exampleNvidia()};
                },
                "{\"schema\":2,\"error\":{\"code\":\"vulkan_init_failed\",\"message\":"
                "\"vkCreateInstance failed with error code -3\"}}\n",
                1, {"vkCreateInstance", "vkCreateInstance"}},
        RunCase{"success_without_handle_falls_back_to_1_1",
                [] {
                  fake_vulkan::model().nullHandleAttempts = 1;
                  fake_vulkan::model().devices = {exampleNvidia()};
                },
                std::string("{\"schema\":2,\"devices\":[") + kExampleWithoutDriver + "]}\n", 0,
                {"vkCreateInstance", "vkCreateInstance", "vkEnumeratePhysicalDevices count",
                 "vkEnumeratePhysicalDevices list 1", "vkGetPhysicalDeviceProperties",
                 "vkGetPhysicalDeviceProperties2 id", "vkDestroyInstance"}},
        RunCase{"null_handle_is_passed_over_and_indexes_stay",
                [] {
                  fake_vulkan::model().devices = {exampleNvidia(), exampleNvidia()};
                  fake_vulkan::model().nullEntryAt = 0;
                },
                std::string("{\"schema\":2,\"devices\":[") + kExampleObject.substr(0, 11) + "1" +
                    kExampleObject.substr(12) + "]}\n",
                0,
                {"vkCreateInstance", "vkEnumeratePhysicalDevices count",
                 "vkEnumeratePhysicalDevices list 2", "vkGetPhysicalDeviceProperties",
                 "vkGetPhysicalDeviceProperties2 id driver", "vkDestroyInstance"}},
        RunCase{"second_creation_result_is_reported",
                [] {
                  fake_vulkan::model().createResults = {VK_ERROR_INCOMPATIBLE_DRIVER,
                                                        VK_ERROR_INITIALIZATION_FAILED};
                },
                "{\"schema\":2,\"error\":{\"code\":\"vulkan_init_failed\",\"message\":"
                "\"vkCreateInstance failed with error code -3\"}}\n",
                1, {"vkCreateInstance", "vkCreateInstance"}},
        RunCase{"count_incomplete_is_an_error",
                [] {
                  fake_vulkan::model().countResult = VK_INCOMPLETE;
                  fake_vulkan::model().devices = {exampleNvidia()};
                },
                "{\"schema\":2,\"error\":{\"code\":\"vulkan_enum_failed\",\"message\":"
                "\"vkEnumeratePhysicalDevices failed with error code 5\"}}\n",
                1, {"vkCreateInstance", "vkEnumeratePhysicalDevices count", "vkDestroyInstance"}},
        RunCase{"count_error",
                [] { fake_vulkan::model().countResult = VK_ERROR_OUT_OF_HOST_MEMORY; },
                "{\"schema\":2,\"error\":{\"code\":\"vulkan_enum_failed\",\"message\":"
                "\"vkEnumeratePhysicalDevices failed with error code -1\"}}\n",
                1, {"vkCreateInstance", "vkEnumeratePhysicalDevices count", "vkDestroyInstance"}},
        RunCase{"absurd_count_is_out_of_memory",
                [] { fake_vulkan::model().extraCount = 0xFFFFFFFFu; },
                "{\"schema\":2,\"error\":{\"code\":\"vulkan_enum_failed\",\"message\":"
                "\"vkEnumeratePhysicalDevices failed with error code -1\"}}\n",
                1, {"vkCreateInstance", "vkEnumeratePhysicalDevices count", "vkDestroyInstance"}},
        RunCase{"list_error",
                [] {
                  fake_vulkan::model().listResult = VK_ERROR_INITIALIZATION_FAILED;
                  fake_vulkan::model().devices = {exampleNvidia()};
                },
                "{\"schema\":2,\"error\":{\"code\":\"vulkan_enum_failed\",\"message\":"
                "\"vkEnumeratePhysicalDevices (2nd call) failed with error code -3\"}}\n",
                1,
                {"vkCreateInstance", "vkEnumeratePhysicalDevices count",
                 "vkEnumeratePhysicalDevices list 1", "vkDestroyInstance"}},
        RunCase{"list_incomplete_lists_what_was_written",
                [] {
                  fake_vulkan::model().listResult = VK_INCOMPLETE;
                  fake_vulkan::model().devices = {exampleNvidia()};
                  fake_vulkan::model().extraCount = 1;
                },
                std::string("{\"schema\":2,\"devices\":[") + kExampleObject + "]}\n", 0,
                {"vkCreateInstance", "vkEnumeratePhysicalDevices count",
                 "vkEnumeratePhysicalDevices list 2", "vkGetPhysicalDeviceProperties",
                 "vkGetPhysicalDeviceProperties2 id driver", "vkDestroyInstance"}},
        RunCase{"list_count_larger_than_the_array_is_capped",
                [] {
                  fake_vulkan::model().devices = {exampleNvidia()};
                  fake_vulkan::model().inflatedListCount = 5;
                },
                std::string("{\"schema\":2,\"devices\":[") + kExampleObject + "]}\n", 0,
                kOneDeviceCalls},
        RunCase{"list_success_with_fewer_devices",
                [] {
                  fake_vulkan::model().devices = {exampleNvidia(), exampleNvidia()};
                  fake_vulkan::model().shrinkList = true;
                },
                std::string("{\"schema\":2,\"devices\":[") + kExampleObject + "]}\n", 0,
                {"vkCreateInstance", "vkEnumeratePhysicalDevices count",
                 "vkEnumeratePhysicalDevices list 2", "vkGetPhysicalDeviceProperties",
                 "vkGetPhysicalDeviceProperties2 id driver", "vkDestroyInstance"}}),
    LabelName{});

TEST(QuarryRun, AsksFor12ThenFor11) {
  fake_vulkan::reset();
  fake_vulkan::model().createResults = {VK_ERROR_INCOMPATIBLE_DRIVER, VK_ERROR_INCOMPATIBLE_DRIVER};
  run();
  EXPECT_EQ(fake_vulkan::model().requestedApiVersions,
            (std::vector<std::uint32_t>{VK_API_VERSION_1_2, VK_API_VERSION_1_1}));
}

struct DeviceCase {
  const char* label;
  std::function<void(Device&)> change;
  std::string object;  // the device object expected, after the common head
};

class DeviceObjectTest : public testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceObjectTest, PrintsTheRecord) {
  fake_vulkan::reset();
  Device d = exampleNvidia();
  GetParam().change(d);
  fake_vulkan::model().devices = {d};
  const RunResult r = run();
  EXPECT_EQ(r.out, "{\"schema\":2,\"devices\":[" + GetParam().object + "]}\n");
  parseDocument(r.out);
}

INSTANTIATE_TEST_SUITE_P(
    Records, DeviceObjectTest,
    testing::Values(
        DeviceCase{"luid_not_valid", [](Device& d) { d.luidValid = VK_FALSE; },
                   "{\"vkIndex\":0,\"name\":\"Example GPU\",\"vendorId\":4318,\"deviceId\":9860,"
                   "\"deviceLuidValid\":false,\"apiVersion\":\"1.3.277\",\"driverVersionRaw\":"
                   "2315976704,\"driverVersionFormatted\":\"552.44.0.0\",\"driverId\":"
                   "\"NVIDIA_PROPRIETARY\",\"driverName\":\"Example driver\",\"driverInfo\":"
                   "\"552.44\"}"},
        DeviceCase{"luid_valid_two_is_false", [](Device& d) { d.luidValid = 2; },
                   "{\"vkIndex\":0,\"name\":\"Example GPU\",\"vendorId\":4318,\"deviceId\":9860,"
                   "\"deviceLuidValid\":false,\"apiVersion\":\"1.3.277\",\"driverVersionRaw\":"
                   "2315976704,\"driverVersionFormatted\":\"552.44.0.0\",\"driverId\":"
                   "\"NVIDIA_PROPRIETARY\",\"driverName\":\"Example driver\",\"driverInfo\":"
                   "\"552.44\"}"},
        DeviceCase{"luid_parts_little_endian",
                   [](Device& d) {
                     const uint8_t luid[8] = {0x01, 0, 0, 0, 0x02, 0, 0, 0};
                     std::memcpy(d.luid, luid, 8);
                     d.driverId = -1;
                     d.driverName[0] = '\0';
                     d.driverInfo[0] = '\0';
                   },
                   "{\"vkIndex\":0,\"name\":\"Example GPU\",\"vendorId\":4318,\"deviceId\":9860,"
                   "\"deviceLuidValid\":true,\"luidLowPart\":1,\"luidHighPart\":2,"
                   "\"apiVersion\":\"1.3.277\",\"driverVersionRaw\":2315976704,"
                   "\"driverVersionFormatted\":\"552.44.0.0\",\"driverId\":\"UNKNOWN(-1)\"}"},
        DeviceCase{"positive_luid",
                   [](Device& d) {
                     const uint8_t luid[8] = {0x9c, 0x2f, 0x01, 0x00, 0, 0, 0, 0};
                     std::memcpy(d.luid, luid, 8);
                     d.driverName[0] = '\0';
                     d.driverInfo[0] = '\0';
                     d.driverId = 0;
                   },
                   "{\"vkIndex\":0,\"name\":\"Example GPU\",\"vendorId\":4318,\"deviceId\":9860,"
                   "\"deviceLuidValid\":true,\"luidLowPart\":77724,\"luidHighPart\":0,"
                   "\"apiVersion\":\"1.3.277\",\"driverVersionRaw\":2315976704,"
                   "\"driverVersionFormatted\":\"552.44.0.0\",\"driverId\":\"UNKNOWN(0)\"}"},
        DeviceCase{"escaped_name_and_unterminated_driver_strings",
                   [](Device& d) {
                     std::strcpy(d.properties.deviceName, "A\"B\\C\x01\xC3\xA9");
                     std::memset(d.driverName, 'n', VK_MAX_DRIVER_NAME_SIZE);
                     std::memset(d.driverInfo, 'i', VK_MAX_DRIVER_INFO_SIZE);
                     d.properties.vendorID = 4098;
                     d.luidValid = VK_FALSE;
                   },
                   "{\"vkIndex\":0,\"name\":\"A\\\"B\\\\C\\u0001\xC3\xA9\",\"vendorId\":4098,"
                   "\"deviceId\":9860,\"deviceLuidValid\":false,\"apiVersion\":\"1.3.277\","
                   "\"driverVersionRaw\":2315976704,\"driverVersionFormatted\":\"552.176.0\","
                   "\"driverId\":\"NVIDIA_PROPRIETARY\",\"driverName\":\"" +
                       std::string(VK_MAX_DRIVER_NAME_SIZE, 'n') + "\",\"driverInfo\":\"" +
                       std::string(VK_MAX_DRIVER_INFO_SIZE, 'i') + "\"}"},
        DeviceCase{"unterminated_device_name",
                   [](Device& d) {
                     std::memset(d.properties.deviceName, 'x', VK_MAX_PHYSICAL_DEVICE_NAME_SIZE);
                     d.luidValid = VK_FALSE;
                     d.driverName[0] = '\0';
                   },
                   "{\"vkIndex\":0,\"name\":\"" + std::string(VK_MAX_PHYSICAL_DEVICE_NAME_SIZE, 'x') +
                       "\",\"vendorId\":4318,\"deviceId\":9860,\"deviceLuidValid\":false,"
                       "\"apiVersion\":\"1.3.277\",\"driverVersionRaw\":2315976704,"
                       "\"driverVersionFormatted\":\"552.44.0.0\",\"driverId\":"
                       "\"NVIDIA_PROPRIETARY\",\"driverInfo\":\"552.44\"}"}),
    LabelName{});

TEST(QuarryRun, SeparatesDevicesWithOneCommaInOrder) {
  fake_vulkan::reset();
  fake_vulkan::model().devices = {fake_vulkan::device("a", 1, 2), fake_vulkan::device("b", 3, 4),
                                  fake_vulkan::device("c", 5, 6)};
  const RunResult r = run();
  const auto doc = parseDocument(r.out);
  ASSERT_EQ(doc["devices"].size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(doc["devices"][i]["vkIndex"], i);
  EXPECT_EQ(doc["devices"][2]["name"], "c");
  EXPECT_NE(r.out.find("\"},{\"vkIndex\":1,"), std::string::npos) << r.out;
}

}  // namespace
