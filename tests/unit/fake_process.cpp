#include "fake_process.h"

#include "fault_injection.h"

namespace fake_process {

namespace {

void silenceStdout() { process().silenced = true; }

bool writeStdout(const char* bytes, std::size_t length) {
  if (faults::at("write the document") == faults::Fault::errorCode) return false;
  process().written.append(bytes, length);
  return true;
}

void catchCrashes() {
  process().crashesCaught = true;
  const std::vector<std::string>& calls = faults::seen();
  process().crashHandlersInstalledAfter.push_back(calls.empty() ? "" : calls.back());
}

void catchExits() { process().exitsCaught = true; }

void endProcess(int exitCode) { process().endedWith = exitCode; }

}  // namespace

Process& process() {
  static Process instance;
  return instance;
}

void reset() {
  process() = Process{};
  faults::disarm();  // a fault armed by an earlier test must not leak into this one
}

ProcessApi api() { return {silenceStdout, writeStdout, catchCrashes, catchExits, endProcess}; }

}  // namespace fake_process
