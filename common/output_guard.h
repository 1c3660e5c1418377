#pragma once
// What keeps a run's standard output to its one document and its exit code to the one that
// document implies. Drivers, layers and runtimes share the probe's process: they print, crash,
// abort, end the process, or install crash handlers of their own. From the start of a run,
// whatever they print goes to the null device and the document goes to the original standard
// output in one piece; a fatal crash before the document becomes the "platform_crashed"
// document, and an exit that the run did not make becomes the "platform_exited" one.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform_api.h"

// The platform parts that a crash or exit report names.
constexpr const char* kPartDxgi = "DXGI";
constexpr const char* kPartOpenCl = "OpenCL";
constexpr const char* kPartDxcore = "DXCore";
constexpr const char* kPartVulkan = "Vulkan";

// Right after binary mode: the process's standard output goes to the null device from here
// on, and only the document reaches the original one.
void guardStdout(const ProcessApi& process);

// From here on a fatal crash or an abort in any thread ends the process with the crash
// report below.
void guardCrashes(const ProcessApi& process);

// From here on an exit of the process that the run does not make ends it with the exit
// report below.
void guardExits(const ProcessApi& process);

// After a runtime loads, and after each call that loads drivers or layers: crash handlers
// that they installed give way to the probe's again.
void reclaimCrashHandlers();

// Names the platform part whose calls follow, for the reports.
void enterPlatformPart(const char* part);

// Writes the run's one document in one piece; exitCode is the exit code it implies.
void emitDocument(const std::string& document, int exitCode);

// The last line of every run, once everything is released: ends the process (where the
// platform ends it here) with the exit code the document implies, whatever a runtime still
// loaded asks for. Returns that exit code: 1 when the document could not be written
// completely (standard output closed, a full disk), else the one given.
int endRun(int exitCode);

// What a crash or exit handler writes, and the exit code it ends the process with. Prepared
// while the process was sound: it takes no heap, no lock and no stdio, so that a corrupted
// process can still make it.
struct FatalReport {
  const char* bytes;   // the error document; none once the document is out
  std::size_t length;
  int exitCode;        // 1, or the exit code of the document already written
  bool first;          // false while another thread is reporting: that one ends the process
  bool runEnded;       // an exit after the run's own end: it goes on as asked
};

// kind is "exception" (code printed as 0x%08X) or "signal" (code printed in decimal).
FatalReport reportCrash(const char* kind, std::uint32_t code, bool hexadecimal);

// An exit of the process: "platform_exited" before the document.
FatalReport reportExit();
