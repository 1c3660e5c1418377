#pragma once
// Buffers and lists whose size a runtime or driver reports. A platform can report any size
// (SIZE_MAX for a string, 0xFFFFFFFF for a count); such an answer must read as a failed
// allocation, never end the process with an exception, and never make it touch gigabytes.

#include <cstddef>
#include <new>
#include <stdexcept>

// No real answer comes near this: name and extension strings are a few KiB, lists a few
// handles. Anything larger is treated as memory that could not be had.
constexpr std::size_t kMaxReportedBytes = std::size_t{64} << 20;

// Fills container with count copies of value; false (and container empty) when the size is
// absurd or the allocation fails.
template <typename Container, typename Value>
bool tryAssign(Container& container, std::size_t count, const Value& value) noexcept {
  container.clear();
  if (count > kMaxReportedBytes / sizeof(typename Container::value_type)) return false;
  try {
    container.assign(count, value);
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  container.clear();
  return false;
}
