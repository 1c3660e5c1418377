#include "json_output.h"

#include <functional>
#include <string>

#include "fake_process.h"
#include "fault_injection.h"
#include "output_guard.h"

#include "test_support.h"

// A format of this test's own, to see how code and message land in it.
const char errorFormat[] = "{\"code\":\"%s\",\"message\":\"%s\"}\n";

namespace {

struct EscapeCase {
  const char* label;
  std::string input;
  std::string expected;
};

class JsonEscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscapeTest, EscapesByTheTable) {
  const EscapeCase& c = GetParam();
  EXPECT_EQ(jsonEscape(c.input), c.expected);
  // Wrapped in quotes, the result is a JSON string that decodes back to the input.
  const auto decoded = nlohmann::json::parse("\"" + jsonEscape(c.input) + "\"", nullptr, false);
  ASSERT_FALSE(decoded.is_discarded()) << c.label;
  EXPECT_EQ(decoded.get<std::string>(), c.input);
}

using std::string_literals::operator""s;

INSTANTIATE_TEST_SUITE_P(
    Bytes, JsonEscapeTest,
    testing::Values(
        EscapeCase{"empty", "", ""},
        EscapeCase{"plain", "GeForce RTX 4090", "GeForce RTX 4090"},
        EscapeCase{"quote_and_backslash", "a\"b\\c", "a\\\"b\\\\c"},
        EscapeCase{"short_escapes", "\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
        EscapeCase{"nul_inside", "a\0b"s, "a\\u0000b"},
        EscapeCase{"control_low", "\x01\x07\x0B\x0E", "\\u0001\\u0007\\u000b\\u000e"},
        EscapeCase{"control_high", "\x1A\x1F", "\\u001a\\u001f"},
        EscapeCase{"solidus_and_delete", "/\x7F", "/\x7F"},
        EscapeCase{"space", " ", " "},
        EscapeCase{"utf8", "caf\xC3\xA9", "caf\xC3\xA9"}),
    LabelName{});

TEST(JsonEscape, EveryByteBelowSpaceBecomesAnEscapeAndNoOtherDoes) {
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const std::string escaped = jsonEscape(&c, 1);
    if (byte < 0x20) {
      EXPECT_EQ(escaped[0], '\\') << byte;
      EXPECT_TRUE(escaped.size() == 2 || escaped.size() == 6) << byte;
    } else if (byte == '"' || byte == '\\') {
      EXPECT_EQ(escaped, std::string("\\") + c);
    } else {
      EXPECT_EQ(escaped, std::string(1, c)) << byte;
    }
  }
}

TEST(JsonEscape, HighBytesPassUnchangedEvenWhenNotUtf8) {
  const std::string input = "\xFF\x80\xC3";
  EXPECT_EQ(jsonEscape(input), input);
}

struct ErrorCase {
  const char* label;
  const char* code;
  const char* message;
  const char* expected;
};

class PrintJsonErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(PrintJsonErrorTest, PrintsCodeAndMessageAsData) {
  const ErrorCase& c = GetParam();
  const std::string out = captureStdout([&] { printJsonError(c.code, c.message); });
  EXPECT_EQ(out, c.expected);
  const auto parsed = parseDocument(out);
  EXPECT_EQ(parsed["code"], c.code);
  EXPECT_EQ(parsed["message"], c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, PrintJsonErrorTest,
    testing::Values(
        ErrorCase{"plain", "com_init_failed", "CoInitializeEx failed",
                  "{\"code\":\"com_init_failed\",\"message\":\"CoInitializeEx failed\"}\n"},
        ErrorCase{"percent_signs", "x%s", "100% %d %s %n",
                  "{\"code\":\"x%s\",\"message\":\"100% %d %s %n\"}\n"},
        ErrorCase{"quotes", "q\"", "say \"hi\"",
                  "{\"code\":\"q\\\"\",\"message\":\"say \\\"hi\\\"\"}\n"},
        ErrorCase{"control_bytes", "c", "line1\nline2\t\x01",
                  "{\"code\":\"c\",\"message\":\"line1\\nline2\\t\\u0001\"}\n"},
        ErrorCase{"empty", "", "", "{\"code\":\"\",\"message\":\"\"}\n"}),
    LabelName{});

TEST(FormatMessage, CutsAtOneHundredTwentySevenCharacters) {
  const std::string longText(200, 'x');
  const MessageBuffer buffer = formatMessage("%s", longText.c_str());
  EXPECT_EQ(std::string(buffer.text), std::string(127, 'x'));

  const std::string out = captureStdout([&] { printJsonError("long", buffer.text); });
  EXPECT_EQ(parseDocument(out)["message"], std::string(127, 'x'));
}

TEST(FormatMessage, KeepsEscapesWithinTheCutMessage) {
  // 126 plain bytes and a quote: the quote is the 127th byte and survives the cut.
  const std::string text = std::string(126, 'a') + "\"tail";
  const MessageBuffer buffer = formatMessage("%s", text.c_str());
  const std::string out = captureStdout([&] { printJsonError("c", buffer.text); });
  EXPECT_EQ(parseDocument(out)["message"], std::string(126, 'a') + "\"");
}

struct CrashCase {
  const char* label;
  std::function<void()> before;  // what the run did before it crashed
  const char* kind;
  std::uint32_t code;
  bool hexadecimal;
  std::string written;  // what the handler writes
  int exitCode;
};

class CrashReportTest : public testing::TestWithParam<CrashCase> {};

TEST_P(CrashReportTest, IsTheCrashDocumentOnlyBeforeTheDocument) {
  fake_process::reset();
  guardStdout(fake_process::api());
  guardCrashes(fake_process::api());
  EXPECT_TRUE(fake_process::process().silenced && fake_process::process().crashesCaught);
  GetParam().before();
  const CrashReport report = reportCrash(GetParam().kind, GetParam().code, GetParam().hexadecimal);
  EXPECT_TRUE(report.first);
  EXPECT_EQ(std::string(report.bytes ? report.bytes : "", report.length), GetParam().written);
  EXPECT_EQ(report.exitCode, GetParam().exitCode);
  EXPECT_FALSE(reportCrash("signal", 11, false).first) << "a second crash only waits";
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashReportTest,
    testing::Values(
        CrashCase{"exception_in_a_part", [] { enterPlatformPart(kPartOpenCl); }, "exception",
                  0xC0000005u, true,
                  "{\"code\":\"platform_crashed\",\"message\":\"exception 0xC0000005 in OpenCL\"}\n", 1},
        CrashCase{"signal_in_a_part", [] { enterPlatformPart(kPartVulkan); }, "signal", 11, false,
                  "{\"code\":\"platform_crashed\",\"message\":\"signal 11 in Vulkan\"}\n", 1},
        CrashCase{"before_any_part", [] {}, "exception", 0x1Du, true,
                  "{\"code\":\"platform_crashed\",\"message\":\"exception 0x0000001D\"}\n", 1},
        CrashCase{"after_the_document", [] { emitDocument("{}\n", 2); }, "signal", 6, false, "", 2},
        CrashCase{"after_a_failed_write",
                  [] {
                    faults::arm("write the document", faults::Fault::errorCode);
                    emitDocument("{}\n", 0);
                  },
                  "signal", 6, false, "", 1}),
    LabelName{});

}  // namespace
