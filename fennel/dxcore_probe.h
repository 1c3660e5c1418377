#pragma once
// DXCore when the machine has it: loaded at run time, asked per adapter whether it is an
// integrated GPU. Without it fennel decides by memory size.

#include <cstdint>
#include <string>

#include "fennel_platform.h"

// available is true exactly when module and factory are both held.
struct DxcoreProbe {
  void* module = nullptr;
  void* factory = nullptr;
  bool available = false;
};

enum class IntegratedAnswer { undecided, no, yes };

extern const wchar_t kDxcoreLibraryName[];

// Never fails: a library, entry point or factory that is missing leaves it unavailable,
// with the library unloaded again at once.
DxcoreProbe createDxcoreProbe(const FennelPlatform& platform);

// Releases the factory, then unloads the library; safe to call once on any probe.
void destroyDxcoreProbe(const FennelPlatform& platform, DxcoreProbe& probe);

// Only for an available probe.
IntegratedAnswer queryIsIntegrated(const FennelPlatform& platform, const DxcoreProbe& probe,
                                   std::uint32_t luidLowPart, std::int32_t luidHighPart);

// The UTF-8 bytes of a UTF-16 text; empty when the conversion fails.
std::string toUtf8(const FennelPlatform& platform, const std::u16string& text);
