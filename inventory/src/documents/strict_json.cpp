#include "documents/strict_json.h"

#include <utility>
#include <vector>

namespace gpu_inventory {
namespace {

using Json = nlohmann::ordered_json;

// How many bytes at text[i] are read as one: a well-formed character (complete), or else the
// longest beginning of one that the next byte breaks off, at least 1 byte, which is replaced
// by a single U+FFFD.
std::size_t sequenceAt(const std::string& text, std::size_t i, bool& complete) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  complete = lead < 0x80;
  if (complete) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 1;
  }
  std::size_t k = 1;
  for (; k < length && i + k < text.size(); ++k) {
    const unsigned char first = k == 1 ? low : 0x80, last = k == 1 ? high : 0xBF;
    if (byte(i + k) < first || byte(i + k) > last) break;
  }
  complete = k == length;
  return k;
}

// Builds the value from nlohmann's SAX events, refusing a key twice, a key or an entry past
// the limits, and nesting past them, at the event that goes too far: no event costs more than
// a search among the few keys an object may have, so the whole reading is linear.
class BoundedBuilder {
 public:
  explicit BoundedBuilder(const JsonLimits& limits) : limits_(limits) {}

  bool null() { return put(Json(nullptr)) != nullptr; }
  bool boolean(bool value) { return put(Json(value)) != nullptr; }
  bool number_integer(Json::number_integer_t value) { return put(Json(value)) != nullptr; }
  bool number_unsigned(Json::number_unsigned_t value) { return put(Json(value)) != nullptr; }
  bool number_float(Json::number_float_t value, const Json::string_t&) {
    return put(Json(value)) != nullptr;
  }
  bool string(Json::string_t& value) { return put(Json(std::move(value))) != nullptr; }
  bool binary(Json::binary_t&) { return fail("not JSON: a binary value"); }
  bool start_object(std::size_t) { return open(Json::object()); }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(Json::array()); }
  bool end_array() { return close(); }

  bool key(Json::string_t& key) {
    Open& object = open_.back();
    if (object.count == limits_.maxKeys) {
      return fail(path() + ": more than " + std::to_string(limits_.maxKeys) + " keys");
    }
    if (object.value->contains(key)) return fail("key \"" + shortened(key, 64) + "\" given twice");
    object.key = std::move(key);
    ++object.count;
    return true;
  }

  template <typename Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& error) {
    return fail("not JSON: " + shortened(error.what(), 200));
  }

  Json root;
  std::string problem;

 private:
  struct Open {
    Json* value;      // the container, inside its parent (which gains nothing while it is open)
    std::string key;  // an object's key being read
    std::size_t count;
  };

  bool fail(std::string what) {
    problem = std::move(what);
    return false;
  }

  // Where the innermost open container is, as "adapters[3]".
  std::string path() const {
    std::string text;
    for (std::size_t i = 0; i + 1 < open_.size(); ++i) {
      const Open& level = open_[i];
      if (level.value->is_object()) {
        text += (text.empty() ? "" : ".") + shortened(level.key, 64);
      } else {
        text += "[" + std::to_string(level.count - 1) + "]";
      }
    }
    return text.empty() ? "document" : text;
  }

  // The value in its place; null when it is one too many.
  Json* put(Json value) {
    if (open_.empty()) {
      root = std::move(value);
      return &root;
    }
    Open& parent = open_.back();
    if (parent.value->is_object()) {
      Json& slot = (*parent.value)[parent.key];
      slot = std::move(value);
      return &slot;
    }
    if (parent.count == limits_.maxItems) {
      fail(path() + ": more than " + std::to_string(limits_.maxItems) + " entries");
      return nullptr;
    }
    ++parent.count;
    parent.value->push_back(std::move(value));
    return &parent.value->back();
  }

  bool open(Json container) {
    if (open_.size() == limits_.maxDepth) return fail("nested too deep");
    Json* placed = put(std::move(container));
    if (placed == nullptr) return false;
    open_.push_back({placed, {}, 0});
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  const JsonLimits limits_;
  std::vector<Open> open_;
};

}  // namespace

std::string repairUtf8(const std::string& bytes) {
  std::string repaired;
  repaired.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    bool complete = false;
    const std::size_t length = sequenceAt(bytes, i, complete);
    if (complete) {
      repaired.append(bytes, i, length);
    } else {
      repaired += "\xEF\xBF\xBD";
    }
    i += length;
  }
  return repaired;
}


nlohmann::ordered_json parseStrictJson(const std::string& text, const JsonLimits& limits) {
  BoundedBuilder builder(limits);
  if (!Json::sax_parse(text, &builder)) {
    throw DocumentError(builder.problem.empty() ? "not JSON" : builder.problem);
  }
  return std::move(builder.root);
}

std::string shortened(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end) + "...";
}

}  // namespace gpu_inventory
