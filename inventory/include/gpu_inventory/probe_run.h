#pragma once
// One run of a probe as a child process: what the child did (ChildRun), and the verdict on it
// (ProbeRun) that every caller branches on.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace gpu_inventory {

// What a child process did, before anyone judges it.
struct ChildRun {
  bool started = false;          // false: it was refused, or could not be started and resumed
  std::uint32_t startError = 0;  // the Win32 error when it did not start
  std::string startProblem;      // what was refused or failed, with the system's text
  bool timedOut = false;         // still running at the timeout; the job was terminated
  bool overflowed = false;       // more than maxProbeOutput bytes; the job was terminated
  // A wait, or a read of its output or exit code, that failed: the Win32 error, with what
  // failed and the system's text; the job was terminated and the output is not the whole of it.
  std::uint32_t watchError = 0;
  std::string watchProblem;
  std::optional<std::uint32_t> exitCode;  // when the child ended by itself
  std::string output;            // standard output, at most maxProbeOutput bytes
  double seconds = 0;            // from the start until it ended or was stopped
  double timeoutSeconds = 0;     // the limit it ran under
};

inline constexpr std::size_t maxProbeOutput = 1024 * 1024;

// A variable added to a child's environment.
struct EnvironmentVariable {
  std::string name{};  // not empty, no '=' and no NUL
  std::string value{};
};

// One run to make.
struct ProbeRequest {
  std::string executable{};  // a full path to an .exe
  std::vector<std::string> arguments{};
  std::chrono::milliseconds timeout{30000};
  // Added to the environment the child inherits, each replacing a variable of the same name
  // (names compare without case, as Windows compares them); none: the environment as it is.
  std::vector<EnvironmentVariable> environment{};
  std::string purpose{};  // what the run is for, for people: "quarry", "brindle on <adapter>"
};

// Runs one executable, given by its full path to an .exe (anything else is refused, never
// resolved against the current directory or handed to cmd.exe), with the given arguments
// (UTF-8) and environment, in the executable's folder as its current directory, standard input
// and error on the null device, standard output read while it runs; after it ends, at the
// timeout (below zero is zero), past 1 MiB of output, or on any exit from this function, an
// exception included, everything it started is terminated with it. Windows only.
ChildRun runProbe(const ProbeRequest& request);

// The closed list of verdicts on a run, and notRun for a run that never happened. timedOut: no
// whole document before the limit.
enum class Outcome { notRun, answered, failed, crashed, timedOut, couldNotStart, garbled };

const char* outcomeName(Outcome outcome);  // "answered", "timedOut"... as in the JSON document

struct ProbeError {
  std::string code;
  std::string message;
};

struct ProbeRun {
  Outcome outcome = Outcome::notRun;
  std::optional<std::uint32_t> exitCode;  // the unsigned 32-bit value, when the probe ended itself
  double seconds = 0;
  // The probe printed its whole document but did not end by itself within its limit, and was
  // ended: the outcome is the document's (answered, failed or crashed), with no exit code. A
  // driver that hangs while the probe releases it, after printing, does this.
  bool endedAtLimit = false;
  std::string problem;                    // what was seen; empty when answered
  nlohmann::ordered_json document;        // the probe's valid document as printed, or null
  std::optional<ProbeError> error;        // the error object of an error document
};

}  // namespace gpu_inventory
