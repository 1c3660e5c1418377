#include "opencl_queries.h"

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

using std::string_literals::operator""s;

// A runtime answer of exact bytes, reported with a size of its own.
struct RawAnswer {
  cl_int sizeResult = CL_SUCCESS;
  size_t reportedSize = 0;
  cl_int dataResult = CL_SUCCESS;
  std::string bytes;  // written into the buffer, at most the buffer's size
  int calls = 0;
};

RawAnswer raw;

cl_int CL_API_CALL rawPlatformInfo(cl_platform_id, cl_platform_info, size_t valueSize, void* value,
                                   size_t* valueSizeRet) {
  ++raw.calls;
  if (value == nullptr) {
    if (valueSizeRet != nullptr) *valueSizeRet = raw.reportedSize;
    return raw.sizeResult;
  }
  std::memcpy(value, raw.bytes.data(), std::min(valueSize, raw.bytes.size()));
  return raw.dataResult;
}

struct StringCase {
  const char* label;
  RawAnswer answer;
  std::string expected;
};

class QueryInfoStringTest : public testing::TestWithParam<StringCase> {};

TEST_P(QueryInfoStringTest, ReadsUpToTheFirstZeroWithinTheReportedSize) {
  raw = GetParam().answer;
  EXPECT_EQ(queryInfoString(rawPlatformInfo, nullptr, CL_PLATFORM_NAME), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, QueryInfoStringTest,
    testing::Values(
        StringCase{"terminated", {CL_SUCCESS, 6, CL_SUCCESS, "PoCL\0\0"s, 0}, "PoCL"},
        StringCase{"no_terminating_zero", {CL_SUCCESS, 5, CL_SUCCESS, "ABCDE", 0}, "ABCD"},
        StringCase{"embedded_zero", {CL_SUCCESS, 6, CL_SUCCESS, "AB\0XY\0"s, 0}, "AB"},
        StringCase{"size_query_fails", {CL_INVALID_VALUE, 6, CL_SUCCESS, "PoCL\0"s, 0}, ""},
        StringCase{"size_zero", {CL_SUCCESS, 0, CL_SUCCESS, "", 0}, ""},
        StringCase{"data_query_fails", {CL_SUCCESS, 5, CL_OUT_OF_RESOURCES, "PoCL\0"s, 0}, ""},
        StringCase{"size_one", {CL_SUCCESS, 1, CL_SUCCESS, "X", 0}, ""},
        StringCase{"high_bytes_kept", {CL_SUCCESS, 4, CL_SUCCESS, "\xC3\xA9!\0"s, 0},
                   "\xC3\xA9!"}),
    LabelName{});

TEST(QueryInfoString, DoesNotAskForDataAfterAFailedSizeQuery) {
  raw = RawAnswer{CL_INVALID_VALUE, 6, CL_SUCCESS, "x", 0};
  queryInfoString(rawPlatformInfo, nullptr, CL_PLATFORM_NAME);
  EXPECT_EQ(raw.calls, 1);
}

struct ExtensionCase {
  const char* list;
  const char* name;
  bool expected;
};

class HasExtensionTest : public testing::TestWithParam<ExtensionCase> {};

TEST_P(HasExtensionTest, FoldsCaseAndSearchesSubstrings) {
  EXPECT_EQ(hasExtension(GetParam().list, GetParam().name), GetParam().expected)
      << GetParam().list << " / " << (GetParam().name ? GetParam().name : "(null)");
}

INSTANTIATE_TEST_SUITE_P(
    Lists, HasExtensionTest,
    testing::Values(
        ExtensionCase{"cl_khr_icd CL_KHR_D3D11_SHARING", "cl_khr_d3d11_sharing", true},
        ExtensionCase{"cl_khr_icd cl_khr_d3d11_sharing", "CL_KHR_D3D11_Sharing", true},
        ExtensionCase{"cl_khr_device_uuid_extra", "cl_khr_device_uuid", true},
        ExtensionCase{"xcl_khr_device_uuid", "cl_khr_device_uuid", true},
        ExtensionCase{"cl_khr_icd cl_khr_fp64", "cl_khr_device_uuid", false},
        ExtensionCase{"", "cl_khr_device_uuid", false},
        ExtensionCase{"cl_khr_icd", "", false},
        ExtensionCase{"cl_khr_icd", nullptr, false},
        ExtensionCase{"cl_khr", "cl_khr_icd", false},
        ExtensionCase{"cl_khr_icd", "cl_khr_icd", true},
        ExtensionCase{"cl_khr_d3d11_sharin g", "cl_khr_d3d11_sharing", false},
        ExtensionCase{"[cl_KHR_ICD]", "cl_khr_icd", true}));

}  // namespace
