#pragma once
// Dotted texts for the packed version words of a Vulkan device.

#include <cstdint>
#include <string>

constexpr std::uint32_t kVendorNvidia = 0x10DE;
constexpr std::uint32_t kVendorIntel = 0x8086;

// major.minor.patch with all ten top bits as the first number (the variant is not split off).
std::string formatApiVersion(std::uint32_t version);

// The driver word in its vendor's packing: NVIDIA 10.8.8.6 bits, Intel 18.14 bits,
// everyone else the API packing.
std::string formatDriverVersion(std::uint32_t version, std::uint32_t vendorId);
