#pragma once
// What keeps a run's standard output to its one document and its exit code to the one that
// document implies. Drivers, layers and runtimes share the probe's process: they print, crash,
// abort, end the process, or install crash handlers of their own, from any thread. From the
// start of a run, whatever they print goes to the null device and the document goes to the
// original standard output in one piece; a fatal crash before the document becomes the
// "platform_crashed" document, and an exit that the run did not make becomes the
// "platform_exited" one.
//
// The document's life is one atomic phase: nothing written, being written by one thread,
// written, ending (a report being written, or the run's own end). The document, each report
// and the run's end claim it by compare-exchange, so exactly one of them decides what the
// parent reads and the exit code it gets.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform_api.h"

// The platform parts that a crash or exit report names.
constexpr const char* kPartDxgi = "DXGI";
constexpr const char* kPartOpenCl = "OpenCL";
constexpr const char* kPartDxcore = "DXCore";
constexpr const char* kPartVulkan = "Vulkan";
constexpr const char* kPartSetupApi = "SetupAPI";
constexpr const char* kPartCounters = "PDH";
constexpr const char* kPartDirect3D11 = "Direct3D 11";
constexpr const char* kPartDirect3D12 = "Direct3D 12";

// The error code when the null device cannot be opened: runtimes would write into the document.
constexpr const char* kNullDeviceUnavailable = "null_device_unavailable";

// Right after binary mode: the process's standard output goes to the null device from here
// on, and only the document reaches the original one. When the null device cannot be opened,
// prints the "null_device_unavailable" error document and returns false: the run loads
// nothing and ends.
bool guardStdout(const ProcessApi& process);

// From here on a fatal crash, an abort or a terminate in any thread ends the process with the
// crash report below.
void guardCrashes(const ProcessApi& process);

// From here on an exit of the process that the run does not make ends it with the exit
// report below.
void guardExits(const ProcessApi& process);

// After every call into the platform (reclaiming.h routes each one here): crash handlers that
// a runtime, driver or layer installed give way to the probe's again.
void reclaimCrashHandlers();

// Names the platform part whose calls follow, for the reports.
void enterPlatformPart(const char* part);

// Writes the run's one document in one piece; exitCode is the exit code it implies. Refused
// (false, nothing written) for a second document and once a report has begun; false too when
// not all of it could be written, and the run then ends with exit code 1.
bool emitDocument(const std::string& document, int exitCode);

// The last line of every run, once everything is released: ends the process (where the
// platform ends it here) with the exit code of the document that was written, 1 when none
// was written whole, whatever a runtime still loaded asks for. Returns that exit code.
int endRun();

// What a crash or exit handler writes, and the exit code it ends the process with. Prepared
// while the process was sound: it takes no heap, no lock and no stdio, so that a corrupted
// process can still make it.
struct FatalReport {
  const char* bytes;   // the error document; none once a document has been begun
  std::size_t length;
  int exitCode;        // 1, or the exit code of the document already written
  bool first;          // false while another thread ends the process: this one waits for that
};

// A fatal crash in the calling thread. kind is "exception" (code printed as 0x%08X) or
// "signal" (code printed in decimal). A document being written by another thread is waited
// for, and then decides the exit code; one cut by this thread's own crash ends with 1.
FatalReport reportCrash(const char* kind, std::uint32_t code, bool hexadecimal);

// An exit of the process: "platform_exited" before the document. otherThreadsRun is false
// where the exit has already ended every other thread: a document they were writing is not
// waited for, and ends with 1; a report they had begun ends with the code they chose.
FatalReport reportExit(bool otherThreadsRun);
