#pragma once
// The fields of one object of a probe's document, each read as its schema describes it or a
// DocumentError naming the path ("adapters[0].luidHighPart").

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "documents/strict_json.h"

namespace gpu_inventory {

const nlohmann::ordered_json& requireObject(const nlohmann::ordered_json& value,
                                            const std::string& path);
void allowOnlyKeys(const nlohmann::ordered_json& object, std::initializer_list<const char*> keys,
                   const std::string& path);
const nlohmann::ordered_json& requireKey(const nlohmann::ordered_json& object, const char* key,
                                         const std::string& path);
std::uint64_t readUnsigned(const nlohmann::ordered_json& object, const char* key,
                           const std::string& path, std::uint64_t maximum);
std::int64_t readSigned(const nlohmann::ordered_json& object, const char* key,
                        const std::string& path, std::int64_t minimum, std::int64_t maximum);
std::uint32_t readUint32(const nlohmann::ordered_json& object, const char* key,
                         const std::string& path);
std::int32_t readInt32(const nlohmann::ordered_json& object, const char* key,
                       const std::string& path);
// A key that the schema requires, whose value may be null: nullopt then.
std::optional<std::uint64_t> readUnsignedOrNull(const nlohmann::ordered_json& object, const char* key,
                                                const std::string& path, std::uint64_t maximum);
bool readBool(const nlohmann::ordered_json& object, const char* key, const std::string& path);
std::string readString(const nlohmann::ordered_json& object, const char* key,
                       const std::string& path);

}  // namespace gpu_inventory
