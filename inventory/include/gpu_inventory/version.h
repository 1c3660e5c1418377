#pragma once
// The library's version, the same as the probes' it ships with. A new major version is one
// that a program written for the previous one may need changes for; the CMake package accepts
// any version of the major version asked for.

namespace gpu_inventory {

inline constexpr const char* libraryVersion = "1.2.0";

}  // namespace gpu_inventory
