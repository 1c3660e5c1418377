#pragma once
// Reading an untrusted line of JSON: strict, bounded, in time proportional to its length, and
// never throwing anything but DocumentError (or std::bad_alloc) with a short text of what was
// wrong.

#include <cstddef>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace gpu_inventory {

// What is wrong with a probe's output as a document.
class DocumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Bytes that are not UTF-8 replaced by U+FFFD, each maximal ill-formed sequence by one.
std::string repairUtf8(const std::string& bytes);

// What one value may hold: beyond these it is rejected as soon as the reading gets there.
struct JsonLimits {
  std::size_t maxDepth;  // containers nested in one another
  std::size_t maxKeys;   // in any one object
  std::size_t maxItems;  // in any one array
};

// One JSON value, with no key twice in an object and within the limits; throws DocumentError
// saying what is wrong.
nlohmann::ordered_json parseStrictJson(const std::string& text, const JsonLimits& limits);

// At most maxBytes of the text, cut at a character's start, with "..." when cut.
std::string shortened(const std::string& text, std::size_t maxBytes);

}  // namespace gpu_inventory
