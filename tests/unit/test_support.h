#pragma once
// Helpers shared by the unit tests: capture what a run prints, check it as a document.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <utility>

#include "fake_process.h"
#include "output_guard.h"

// What reached standard output while body ran: the document that a guarded run wrote
// through the fake process, after anything written to the real standard output.
template <typename Body>
std::string captureStdout(Body&& body) {
  fake_process::process().written.clear();
  testing::internal::CaptureStdout();
  std::forward<Body>(body)();
  return testing::internal::GetCapturedStdout() + fake_process::process().written;
}

// One line, one final line feed, and a strict parse.
inline nlohmann::json parseDocument(const std::string& document) {
  EXPECT_FALSE(document.empty());
  if (document.empty()) return nullptr;
  EXPECT_EQ(document.back(), '\n') << document;
  EXPECT_EQ(document.find('\n'), document.size() - 1) << "more than one line: " << document;
  EXPECT_EQ(document.find('\r'), std::string::npos) << document;
  nlohmann::json parsed = nlohmann::json::parse(document, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << document;
  return parsed;
}

// The run guarded its output, crashes and exits from its start, and ended the process itself
// with the exit code it returned. Only a null device that could not be opened leaves the output
// unguarded, and then the run goes no further than its error document.
inline void expectGuardedRun(int exitCode) {
  const fake_process::Process& p = fake_process::process();
  EXPECT_EQ(p.endedWith, exitCode) << "the run did not end the process with its exit code";
  if (!p.silenced) {
    EXPECT_FALSE(p.crashesCaught) << "the platform's chatter was not diverted";
    EXPECT_EQ(exitCode, 1);
    return;
  }
  EXPECT_TRUE(p.crashesCaught) << "a crash would leave no document";
  EXPECT_TRUE(p.exitsCaught) << "an exit would leave no document";
}

// Output functions used outside a whole run write as a guarded run does.
inline void guardOutputForTest() {
  fake_process::reset();
  guardStdout(fake_process::api());
}

// How many bytes have reached standard output so far (while it is captured).
long stdoutBytesSoFar();

// Names parameterised cases after their label field.
struct LabelName {
  template <typename Param>
  std::string operator()(const testing::TestParamInfo<Param>& param) const {
    return param.param.label;
  }
};
