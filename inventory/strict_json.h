#pragma once
// Reading an untrusted line of JSON: strict, bounded, and never throwing anything but
// std::exception with a short text of what was wrong.

#include <cstdint>
#include <initializer_list>
#include <string>

#include <nlohmann/json.hpp>

// Bytes that are not UTF-8 replaced by U+FFFD, each maximal ill-formed sequence by one.
std::string repairUtf8(const std::string& bytes);

// One JSON value, with no key twice in an object and nested at most 32 deep; throws
// std::runtime_error (or nlohmann's parse_error) saying what is wrong.
nlohmann::ordered_json parseStrictJson(const std::string& text);

// Checks on one object of a document, each throwing std::runtime_error naming the path.
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
bool readBool(const nlohmann::ordered_json& object, const char* key, const std::string& path);
std::string readString(const nlohmann::ordered_json& object, const char* key,
                       const std::string& path);
