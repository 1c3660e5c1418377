#include "json_output.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#endif

#include <chrono>
#include <functional>
#include <string>
#include <thread>

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
  guardOutputForTest();
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

  guardOutputForTest();
  const std::string out = captureStdout([&] { printJsonError("long", buffer.text); });
  EXPECT_EQ(parseDocument(out)["message"], std::string(127, 'x'));
}

TEST(FormatMessage, KeepsEscapesWithinTheCutMessage) {
  // 126 plain bytes and a quote: the quote is the 127th byte and survives the cut.
  const std::string text = std::string(126, 'a') + "\"tail";
  const MessageBuffer buffer = formatMessage("%s", text.c_str());
  guardOutputForTest();
  const std::string out = captureStdout([&] { printJsonError("c", buffer.text); });
  EXPECT_EQ(parseDocument(out)["message"], std::string(126, 'a') + "\"");
}

struct FatalCase {
  const char* label;
  std::function<void()> before;  // what the run did before it crashed or exited
  std::function<FatalReport()> report;
  std::string written;  // what the handler writes
  int exitCode;
  bool first = true;    // false: the run's own end had claimed the process
};

FatalReport segfault() { return reportCrash("signal", 11, false); }
FatalReport accessViolation() { return reportCrash("exception", 0xC0000005u, true); }
FatalReport exitReport() { return reportExit(true); }

class FatalReportTest : public testing::TestWithParam<FatalCase> {};

TEST_P(FatalReportTest, IsTheErrorDocumentOnlyBeforeTheDocument) {
  guardOutputForTest();
  guardCrashes(fake_process::api());
  GetParam().before();
  const std::string documentBefore = fake_process::process().written;
  const FatalReport report = GetParam().report();
  EXPECT_EQ(report.first, GetParam().first);
  if (!report.first) return;
  EXPECT_EQ(std::string(report.bytes ? report.bytes : "", report.length), GetParam().written);
  EXPECT_EQ(report.exitCode, GetParam().exitCode);
  EXPECT_FALSE(segfault().first) << "a second crash only waits";
  const FatalReport exit = reportExit(true);
  EXPECT_FALSE(exit.first) << "an exit during a report adds nothing";
  EXPECT_FALSE(emitDocument("{}\n", 0)) << "no document once a report has begun";
  EXPECT_EQ(fake_process::process().written, documentBefore);
  EXPECT_EQ(endRun(), 1);
  EXPECT_TRUE(fake_process::process().awaitedEnd) << "the run's end left to the report";
  EXPECT_EQ(fake_process::process().endedWith, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, FatalReportTest,
    testing::Values(
        FatalCase{"exception_in_a_part", [] { enterPlatformPart(kPartOpenCl); }, accessViolation,
                  "{\"code\":\"platform_crashed\",\"message\":\"exception 0xC0000005 in OpenCL\"}\n",
                  1},
        FatalCase{"signal_in_a_part", [] { enterPlatformPart(kPartVulkan); }, segfault,
                  "{\"code\":\"platform_crashed\",\"message\":\"signal 11 in Vulkan\"}\n", 1},
        FatalCase{"before_any_part", [] {}, [] { return reportCrash("exception", 0x1Du, true); },
                  "{\"code\":\"platform_crashed\",\"message\":\"exception 0x0000001D\"}\n", 1},
        FatalCase{"after_the_document", [] { emitDocument("{}\n", 2); }, segfault, "", 2},
        FatalCase{"after_a_refused_second_document",
                  [] {
                    EXPECT_TRUE(emitDocument("{}\n", 2));
                    EXPECT_FALSE(emitDocument("{\"second\":0}\n", 0));
                    EXPECT_EQ(fake_process::process().written, "{}\n");
                  },
                  segfault, "", 2},
        FatalCase{"after_a_failed_write",
                  [] {
                    faults::arm("write the document", faults::Fault::errorCode);
                    emitDocument("{}\n", 0);
                  },
                  segfault, "", 1},
        FatalCase{"exit_in_a_part", [] { enterPlatformPart(kPartDxcore); }, exitReport,
                  "{\"code\":\"platform_exited\",\"message\":\"exit in DXCore\"}\n", 1},
        FatalCase{"exit_before_any_part", [] {}, exitReport,
                  "{\"code\":\"platform_exited\",\"message\":\"exit\"}\n", 1},
        FatalCase{"exit_after_the_document", [] { emitDocument("{}\n", 2); }, exitReport, "", 2},
        // An exit that ended every other thread, one of them in its report: the code it chose.
        FatalCase{"exit_after_a_report_of_a_thread_now_gone", [] { segfault(); },
                  [] { return reportExit(false); }, "", 1},
        FatalCase{"exit_after_a_crash_after_the_document_of_a_thread_now_gone",
                  [] {
                    emitDocument("{}\n", 2);
                    segfault();
                  },
                  [] { return reportExit(false); }, "", 2},
        FatalCase{"exit_after_the_run_ended",
                  [] {
                    emitDocument("{}\n", 2);
                    EXPECT_EQ(endRun(), 2);
                    EXPECT_EQ(fake_process::process().endedWith, 2);
                  },
                  exitReport, "", 2, false}),
    LabelName{});

// A crash partway through the document's write: one document, and the exit code that goes
// with what the parent reads.
TEST(DocumentClaim, ACrashInAnotherThreadWaitsForTheDocumentAndTakesItsCode) {
  guardOutputForTest();
  guardCrashes(fake_process::api());
  FatalReport report{};
  std::thread reporter;
  fake_process::process().duringWrite = [&] {
    reporter = std::thread([&] { report = segfault(); });
    // The write goes on once the report waits for it (or, wrongly, after a while).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!fake_process::process().reportWaited && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
  };
  EXPECT_TRUE(emitDocument("{\"schema\":1}\n", 0));
  reporter.join();
  EXPECT_TRUE(fake_process::process().reportWaited) << "the report did not wait for the write";
  EXPECT_EQ(fake_process::process().written, "{\"schema\":1}\n");
  EXPECT_TRUE(report.first);
  EXPECT_EQ(report.length, 0u) << "a second document";
  EXPECT_EQ(report.exitCode, 0) << "the code of the document that was written";
}

TEST(DocumentClaim, ACrashOfTheWritingThreadEndsWithOneAndWritesNothing) {
  guardOutputForTest();
  guardCrashes(fake_process::api());
  FatalReport report{};
  fake_process::process().duringWrite = [&] { report = segfault(); };
  emitDocument("{\"schema\":1}\n", 0);
  EXPECT_TRUE(report.first);
  EXPECT_EQ(report.length, 0u);
  EXPECT_EQ(report.exitCode, 1) << "the document may be cut";
}

TEST(DocumentClaim, ARunWithoutADocumentEndsWithOne) {
  guardOutputForTest();
  EXPECT_EQ(endRun(), 1);
  EXPECT_EQ(fake_process::process().endedWith, 1);
}

TEST(DocumentClaim, WithoutTheNullDeviceTheRunEndsWithItsErrorDocument) {
  fake_process::reset();
  faults::arm("open the null device", faults::Fault::errorCode);
  EXPECT_FALSE(guardStdout(fake_process::api()));
  EXPECT_EQ(fake_process::process().written,
            "{\"code\":\"null_device_unavailable\",\"message\":\"The null device could not be "
            "opened\"}\n");
  EXPECT_EQ(endRun(), 1);
}

#ifdef _WIN32
// A C runtime up before the guard (the UCRT, which Windows' own DLLs bring) writes to the null
// device too, and the handle it had recorded is never handed to a file opened afterwards, where
// its chatter would land.
TEST(SilenceStdout, EveryCRuntimeUpBeforeTheGuardWritesToTheNullDevice) {
  const HMODULE ucrt = LoadLibraryW(L"ucrtbase.dll");
  ASSERT_NE(ucrt, nullptr);
  const auto ucrtWrite = reinterpret_cast<int(__cdecl*)(int, const void*, unsigned)>(
      reinterpret_cast<void (*)()>(GetProcAddress(ucrt, "_write")));
  const auto ucrtHandle = reinterpret_cast<intptr_t(__cdecl*)(int)>(
      reinterpret_cast<void (*)()>(GetProcAddress(ucrt, "_get_osfhandle")));
  ASSERT_TRUE(ucrtWrite != nullptr && ucrtHandle != nullptr);
  std::fflush(stdout);
  const HANDLE original = GetStdHandle(STD_OUTPUT_HANDLE);

  const bool silenced = windowsProcessApi().silenceStdout();
  wchar_t folder[MAX_PATH], path[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, L"vic", 0, path);
  const HANDLE victim = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ucrtWrite(1, "chatter", 7);
  const HANDLE ucrtOutput = reinterpret_cast<HANDLE>(ucrtHandle(1));
  LARGE_INTEGER size{};
  GetFileSizeEx(victim, &size);
  CloseHandle(victim);
  DeleteFileW(path);

  // Standard output back for the rest of the tests.
  SetHandleInformation(original, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  const int restored = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_WRONLY | _O_BINARY);
  _dup2(restored, 1);
  _close(restored);
  SetStdHandle(STD_OUTPUT_HANDLE, original);

  EXPECT_TRUE(silenced);
  EXPECT_NE(victim, original) << "the original handle was closed and its value reused";
  EXPECT_NE(ucrtOutput, original) << "the UCRT still writes to the original standard output";
  EXPECT_EQ(size.QuadPart, 0) << "the UCRT's chatter landed in a file opened after the guard";
}
#endif

}  // namespace
