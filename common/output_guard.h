#pragma once
// What keeps a run's standard output to its one document. Drivers, layers and runtimes share
// the probe's standard output and can crash the process: from the start of a run, whatever
// they print goes to the null device, the document goes to the original standard output in
// one piece, and a fatal crash before the document becomes the "platform_crashed" document.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform_api.h"

// The platform parts that a crash report names.
constexpr const char* kPartDxgi = "DXGI";
constexpr const char* kPartOpenCl = "OpenCL";
constexpr const char* kPartDxcore = "DXCore";
constexpr const char* kPartVulkan = "Vulkan";

// Right after binary mode: the process's standard output goes to the null device from here
// on, and only the document reaches the original one.
void guardStdout(const ProcessApi& process);

// From here on a fatal crash in any thread ends the process with the crash report below.
void guardCrashes(const ProcessApi& process);

// Names the platform part whose calls follow, for the crash report.
void enterPlatformPart(const char* part);

// Writes the run's one document in one piece; exitCode is the exit code it implies.
void emitDocument(const std::string& document, int exitCode);

// The run's exit code: 1 when the document could not be written completely (standard output
// closed, a full disk), else the one given.
int exitCodeAfterDocument(int exitCode);

// What a crash handler writes and returns. Prepared while the process was sound: it takes
// no heap, no lock and no stdio, so that a corrupted process can still make it.
struct CrashReport {
  const char* bytes;   // the platform_crashed document; none once the document is out
  std::size_t length;
  int exitCode;        // 1, or the exit code of the document already written
  bool first;          // false for a thread that crashed while another one is reporting
};

// kind is "exception" (code printed as 0x%08X) or "signal" (code printed in decimal).
CrashReport reportCrash(const char* kind, std::uint32_t code, bool hexadecimal);
