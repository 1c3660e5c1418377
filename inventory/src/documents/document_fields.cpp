#include "documents/document_fields.h"

namespace gpu_inventory {
namespace {

std::string keyPath(const std::string& path, const char* key) {
  return path.empty() ? std::string(key) : path + "." + key;
}

}  // namespace

const nlohmann::ordered_json& requireObject(const nlohmann::ordered_json& value,
                                            const std::string& path) {
  if (!value.is_object()) throw DocumentError((path.empty() ? "document" : path) + ": not an object");
  return value;
}

void allowOnlyKeys(const nlohmann::ordered_json& object, std::initializer_list<const char*> keys,
                   const std::string& path) {
  for (const auto& item : object.items()) {
    bool known = false;
    for (const char* key : keys) known = known || item.key() == key;
    if (!known) throw DocumentError(keyPath(path, shortened(item.key(), 64).c_str()) + ": unexpected key");
  }
}

const nlohmann::ordered_json& requireKey(const nlohmann::ordered_json& object, const char* key,
                                         const std::string& path) {
  const auto found = object.find(key);
  if (found == object.end()) throw DocumentError(keyPath(path, key) + ": missing");
  return *found;
}

std::uint64_t readUnsigned(const nlohmann::ordered_json& object, const char* key,
                           const std::string& path, std::uint64_t maximum) {
  const nlohmann::ordered_json& value = requireKey(object, key, path);
  const bool fits = value.is_number_unsigned() ||
                    (value.is_number_integer() && value.get<std::int64_t>() >= 0);
  if (!fits || value.get<std::uint64_t>() > maximum) {
    throw DocumentError(keyPath(path, key) + ": not an integer from 0 to " +
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
    throw DocumentError(keyPath(path, key) + ": not an integer from " +
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

std::optional<std::uint64_t> readUnsignedOrNull(const nlohmann::ordered_json& object, const char* key,
                                                const std::string& path, std::uint64_t maximum) {
  if (requireKey(object, key, path).is_null()) return std::nullopt;
  return readUnsigned(object, key, path, maximum);
}

bool readBool(const nlohmann::ordered_json& object, const char* key, const std::string& path) {
  const nlohmann::ordered_json& value = requireKey(object, key, path);
  if (!value.is_boolean()) throw DocumentError(keyPath(path, key) + ": not true or false");
  return value.get<bool>();
}

std::string readString(const nlohmann::ordered_json& object, const char* key,
                       const std::string& path) {
  const nlohmann::ordered_json& value = requireKey(object, key, path);
  if (!value.is_string()) throw DocumentError(keyPath(path, key) + ": not a string");
  return value.get<std::string>();
}

}  // namespace gpu_inventory
