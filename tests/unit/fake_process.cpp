#include "fake_process.h"

#include <thread>

#include "fault_injection.h"

namespace fake_process {

namespace {

bool silenceStdout() {
  if (faults::at("open the null device") == faults::Fault::errorCode) return false;
  process().silenced = true;
  return true;
}

bool writeStdout(const char* bytes, std::size_t length) {
  if (faults::at("write the document") == faults::Fault::errorCode) return false;
  if (process().duringWrite) {
    process().written.append(bytes, length / 2);
    process().duringWrite();
    process().written.append(bytes + length / 2, length - length / 2);
    return true;
  }
  process().written.append(bytes, length);
  return true;
}

void catchCrashes() {
  process().crashesCaught = true;
  const std::vector<std::string>& calls = faults::seen();
  process().crashHandlersInstalledAfter.push_back(calls.empty() ? "" : calls.back());
  process().crashHandlersInstalledAtCall.push_back(faults::history().size());
}

void catchExits() { process().exitsCaught = true; }

std::uint64_t currentThread() {
  return std::hash<std::thread::id>{}(std::this_thread::get_id()) >> 2 | 1;
}

void yieldToOthers() {
  process().reportWaited = true;
  std::this_thread::yield();
}

void awaitEnd() { process().awaitedEnd = true; }

void endProcess(int exitCode) { process().endedWith = exitCode; }

}  // namespace

Process& process() {
  static Process instance;
  return instance;
}

void reset() {
  Process& p = process();
  p.written.clear();
  p.silenced = p.crashesCaught = p.exitsCaught = p.awaitedEnd = false;
  p.crashHandlersInstalledAfter.clear();
  p.crashHandlersInstalledAtCall.clear();
  p.endedWith = -1;
  p.reportWaited = false;
  p.duringWrite = nullptr;
  faults::disarm();  // a fault armed by an earlier test must not leak into this one
}

ProcessApi api() {
  return {silenceStdout, writeStdout,   catchCrashes, catchExits,
          currentThread, yieldToOthers, awaitEnd,     endProcess};
}

}  // namespace fake_process
