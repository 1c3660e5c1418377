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

struct FatalCase {
  const char* label;
  std::function<void()> before;  // what the run did before it crashed or exited
  std::function<FatalReport()> report;
  std::string written;  // what the handler writes
  int exitCode;
  bool runEnded;
};

FatalReport segfault() { return reportCrash("signal", 11, false); }
FatalReport accessViolation() { return reportCrash("exception", 0xC0000005u, true); }

class FatalReportTest : public testing::TestWithParam<FatalCase> {};

TEST_P(FatalReportTest, IsTheErrorDocumentOnlyBeforeTheDocument) {
  fake_process::reset();
  guardStdout(fake_process::api());
  guardCrashes(fake_process::api());
  GetParam().before();
  const FatalReport report = GetParam().report();
  EXPECT_TRUE(report.first);
  EXPECT_EQ(std::string(report.bytes ? report.bytes : "", report.length), GetParam().written);
  EXPECT_EQ(report.exitCode, GetParam().exitCode);
  EXPECT_EQ(report.runEnded, GetParam().runEnded);
  if (report.runEnded) return;
  EXPECT_FALSE(segfault().first) << "a second crash only waits";
  const FatalReport exit = reportExit();
  EXPECT_FALSE(exit.first);
  EXPECT_EQ(exit.length, 0u) << "an exit during a report adds nothing";
  EXPECT_EQ(exit.exitCode, report.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, FatalReportTest,
    testing::Values(
        FatalCase{"exception_in_a_part", [] { enterPlatformPart(kPartOpenCl); }, accessViolation,
                  "{\"code\":\"platform_crashed\",\"message\":\"exception 0xC0000005 in OpenCL\"}\n",
                  1, false},
        FatalCase{"signal_in_a_part", [] { enterPlatformPart(kPartVulkan); }, segfault,
                  "{\"code\":\"platform_crashed\",\"message\":\"signal 11 in Vulkan\"}\n", 1,
                  false},
        FatalCase{"before_any_part", [] {}, [] { return reportCrash("exception", 0x1Du, true); },
                  "{\"code\":\"platform_crashed\",\"message\":\"exception 0x0000001D\"}\n", 1,
                  false},
        FatalCase{"after_the_document", [] { emitDocument("{}\n", 2); }, segfault, "", 2, false},
        FatalCase{"after_a_failed_write",
                  [] {
                    faults::arm("write the document", faults::Fault::errorCode);
                    emitDocument("{}\n", 0);
                  },
                  segfault, "", 1, false},
        FatalCase{"exit_in_a_part", [] { enterPlatformPart(kPartDxcore); }, reportExit,
                  "{\"code\":\"platform_exited\",\"message\":\"exit in DXCore\"}\n", 1, false},
        FatalCase{"exit_before_any_part", [] {}, reportExit,
                  "{\"code\":\"platform_exited\",\"message\":\"exit\"}\n", 1, false},
        FatalCase{"exit_after_the_document", [] { emitDocument("{}\n", 2); }, reportExit, "", 2,
                  false},
        FatalCase{"exit_after_the_run_ended",
                  [] {
                    emitDocument("{}\n", 2);
                    EXPECT_EQ(endRun(2), 2);
                    EXPECT_EQ(fake_process::process().endedWith, 2);
                  },
                  reportExit, "", 2, true}),
    LabelName{});

}  // namespace
