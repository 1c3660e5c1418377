#pragma once
// What the three fault sweeps share: the table shape, the generated cases and the checks
// that every faulted run must pass.

#include <algorithm>
#include <functional>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "fault_injection.h"
#include "test_support.h"

// What a faulted run must end in: an error document with this code, a result document
// with this reason, or (kResult) any result document, the item having been passed over.
constexpr const char* kResult = "result";
// Or nothing on standard output and exit code 1: the document could not be written.
constexpr const char* kWriteFailed = "write failed";

struct FaultOutcome {
  faults::Fault fault;
  const char* expected;
  const char* expectedWhenFirstOnly = nullptr;  // when failing the first call only differs
};

struct SweepEntry {
  const char* call;
  std::vector<FaultOutcome> outcomes;
};

struct SweepCase {
  std::string baseline;
  std::string call;
  faults::Fault fault;
  int occurrence;  // 0: every call of that name, 1: the first only
  std::string expected;
};

inline void PrintTo(const SweepCase& c, std::ostream* os) {
  *os << c.baseline << " / " << c.call << " / " << faults::name(c.fault)
      << (c.occurrence ? " (first call)" : " (every call)") << " -> " << c.expected;
}

inline std::string sweepCaseName(const testing::TestParamInfo<SweepCase>& info) {
  std::string name = info.param.baseline + "_" + info.param.call + "_" +
                     faults::name(info.param.fault) + (info.param.occurrence ? "_first" : "_every");
  std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
}

using Baselines = std::vector<std::pair<std::string, std::function<void()>>>;
// The calls of one clean baseline run, and those of them that it makes more than once.
struct BaselineCalls {
  std::string baseline;
  std::vector<std::string> calls;
  std::vector<std::string> repeated;
};
using SeenCalls = std::vector<BaselineCalls>;

struct SweepRun {
  std::string out;
  std::string err;
  int exitCode = -1;
};

// Resets the fakes, sets up the named baseline, arms the fault (none when armed is null)
// and runs the probe, capturing both output streams.
template <typename Reset, typename RunProbe>
SweepRun runSweepCase(const Baselines& baselines, const std::string& baseline,
                      const SweepCase* armed, Reset reset, RunProbe runProbe) {
  reset();
  for (const auto& entry : baselines) {
    if (entry.first == baseline) entry.second();
  }
  faults::disarm();
  if (armed != nullptr) faults::arm(armed->call, armed->fault, armed->occurrence);
  SweepRun run;
  testing::internal::CaptureStderr();
  run.out = captureStdout([&] { run.exitCode = runProbe(); });
  run.err = testing::internal::GetCapturedStderr();
  expectGuardedRun(run.exitCode);
  return run;
}

// The calls that each clean baseline run makes; each must end in a result document.
template <typename RunBaseline>
SeenCalls seenByBaseline(const Baselines& baselines, RunBaseline runBaseline) {
  SeenCalls seen;
  for (const auto& entry : baselines) {
    const SweepRun run = runBaseline(entry.first, nullptr);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    seen.push_back({entry.first, faults::seen(), faults::repeated()});
  }
  return seen;
}

// Every entry of the table for every baseline run that makes that call, armed at every
// call, and at the first only where that is another run: a call made more than once, or
// one whose failure brings a second call (a retry).
inline std::vector<SweepCase> generateSweep(const SeenCalls& seenCalls,
                                            const std::vector<SweepEntry>& table) {
  const auto contains = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  std::vector<SweepCase> cases;
  for (const BaselineCalls& run : seenCalls) {
    for (const SweepEntry& entry : table) {
      if (!contains(run.calls, entry.call)) continue;
      for (const FaultOutcome& outcome : entry.outcomes) {
        cases.push_back({run.baseline, entry.call, outcome.fault, 0, outcome.expected});
        if (outcome.expectedWhenFirstOnly != nullptr) {
          cases.push_back({run.baseline, entry.call, outcome.fault, 1, outcome.expectedWhenFirstOnly});
        } else if (contains(run.repeated, entry.call)) {
          cases.push_back({run.baseline, entry.call, outcome.fault, 1, outcome.expected});
        }
      }
    }
  }
  return cases;
}

// The table must name exactly the calls that the baseline runs make.
inline void expectTableCoversCalls(const SeenCalls& seenCalls,
                                   const std::vector<SweepEntry>& table) {
  std::vector<std::string> all;
  for (const auto& entry : seenCalls) {
    for (const std::string& call : entry.calls) {
      if (std::find(all.begin(), all.end(), call) == all.end()) all.push_back(call);
    }
  }
  for (const std::string& call : all) {
    const bool listed = std::any_of(table.begin(), table.end(),
                                    [&](const SweepEntry& e) { return call == e.call; });
    EXPECT_TRUE(listed) << "platform call without a sweep entry: " << call;
  }
  for (const SweepEntry& e : table) {
    EXPECT_NE(std::find(all.begin(), all.end(), e.call), all.end())
        << "sweep entry for a call that no run makes: " << e.call;
  }
}

// One document, strictly JSON, nothing on standard error, the expected outcome.
inline void expectOutcome(const std::string& out, const std::string& err, int exitCode,
                          const std::string& expected) {
  EXPECT_EQ(err, "");
  if (expected == kWriteFailed) {
    EXPECT_EQ(out, "");
    EXPECT_EQ(exitCode, 1);
    return;
  }
  const nlohmann::json doc = parseDocument(out);
  if (!doc.is_object()) return;
  if (doc.contains("error")) {
    EXPECT_EQ(doc["error"]["code"], expected) << out;
    EXPECT_EQ(exitCode, doc["error"]["code"] == "invalid_args" ? 2 : 1);
  } else {
    EXPECT_EQ(exitCode, 0) << out;
    if (expected != kResult) {
      EXPECT_EQ(doc.value("reason", std::string(kResult)), expected) << out;
    }
  }
}

// Each acquired object released once, in the order given, nothing else released.
inline void expectReleasedInOrder(const std::vector<std::string>& acquired,
                                  const std::vector<std::string>& released,
                                  const std::vector<std::string>& releaseOrder) {
  std::vector<std::string> expected;
  for (const std::string& object : releaseOrder) {
    const auto n = std::count(acquired.begin(), acquired.end(), object);
    EXPECT_LE(n, 1) << object << " acquired more than once";
    if (n == 1) expected.push_back(object);
  }
  EXPECT_EQ(released, expected);
}
