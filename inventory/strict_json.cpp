#include "strict_json.h"

#include <set>
#include <stdexcept>
#include <vector>

namespace {

constexpr int maxDepth = 32;

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

std::string keyPath(const std::string& path, const char* key) {
  return path.empty() ? std::string(key) : path + "." + key;
}

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

nlohmann::ordered_json parseStrictJson(const std::string& text) {
  std::vector<std::set<std::string>> keysSeen;
  const nlohmann::ordered_json::parser_callback_t check =
      [&keysSeen](int depth, nlohmann::ordered_json::parse_event_t event,
                  nlohmann::ordered_json& parsed) {
        using Event = nlohmann::ordered_json::parse_event_t;
        if (depth > maxDepth) throw std::runtime_error("nested too deep");
        if (event == Event::object_start) {
          keysSeen.emplace_back();
        } else if (event == Event::object_end) {
          keysSeen.pop_back();
        } else if (event == Event::key) {
          const std::string& key = parsed.get_ref<const std::string&>();
          if (!keysSeen.back().insert(key).second) {
            throw std::runtime_error("key \"" + key + "\" given twice");
          }
        }
        return true;
      };
  return nlohmann::ordered_json::parse(text, check);
}

const nlohmann::ordered_json& requireObject(const nlohmann::ordered_json& value,
                                            const std::string& path) {
  if (!value.is_object()) throw std::runtime_error((path.empty() ? "document" : path) + ": not an object");
  return value;
}

void allowOnlyKeys(const nlohmann::ordered_json& object, std::initializer_list<const char*> keys,
                   const std::string& path) {
  for (const auto& item : object.items()) {
    bool known = false;
    for (const char* key : keys) known = known || item.key() == key;
    if (!known) throw std::runtime_error(keyPath(path, item.key().c_str()) + ": unexpected key");
  }
}

const nlohmann::ordered_json& requireKey(const nlohmann::ordered_json& object, const char* key,
                                         const std::string& path) {
  const auto found = object.find(key);
  if (found == object.end()) throw std::runtime_error(keyPath(path, key) + ": missing");
  return *found;
}

std::uint64_t readUnsigned(const nlohmann::ordered_json& object, const char* key,
                           const std::string& path, std::uint64_t maximum) {
  const nlohmann::ordered_json& value = requireKey(object, key, path);
  const bool fits = value.is_number_unsigned() ||
                    (value.is_number_integer() && value.get<std::int64_t>() >= 0);
  if (!fits || value.get<std::uint64_t>() > maximum) {
    throw std::runtime_error(keyPath(path, key) + ": not an integer from 0 to " +
                             std::to_string(maximum));
  }
  return value.get<std::uint64_t>();
}

std::int64_t readSigned(const nlohmann::ordered_json& object, const char* key,
                        const std::string& path, std::int64_t minimum, std::int64_t maximum) {
  const nlohmann::ordered_json& value = requireKey(object, key, path);
  const bool integer = value.is_number_integer() &&
                       !(value.is_number_unsigned() &&
                         value.get<std::uint64_t>() > static_cast<std::uint64_t>(maximum));
  if (!integer || value.get<std::int64_t>() < minimum || value.get<std::int64_t>() > maximum) {
    throw std::runtime_error(keyPath(path, key) + ": not an integer from " +
                             std::to_string(minimum) + " to " + std::to_string(maximum));
  }
  return value.get<std::int64_t>();
}

std::uint32_t readUint32(const nlohmann::ordered_json& object, const char* key,
                         const std::string& path) {
  return static_cast<std::uint32_t>(readUnsigned(object, key, path, 0xFFFFFFFFu));
}

std::int32_t readInt32(const nlohmann::ordered_json& object, const char* key,
                       const std::string& path) {
  return static_cast<std::int32_t>(readSigned(object, key, path, -2147483648LL, 2147483647LL));
}

bool readBool(const nlohmann::ordered_json& object, const char* key, const std::string& path) {
  const nlohmann::ordered_json& value = requireKey(object, key, path);
  if (!value.is_boolean()) throw std::runtime_error(keyPath(path, key) + ": not true or false");
  return value.get<bool>();
}

std::string readString(const nlohmann::ordered_json& object, const char* key,
                       const std::string& path) {
  const nlohmann::ordered_json& value = requireKey(object, key, path);
  if (!value.is_string()) throw std::runtime_error(keyPath(path, key) + ": not a string");
  return value.get<std::string>();
}
