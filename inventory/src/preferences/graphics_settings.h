#pragma once
// The graphics settings read from the registry's values: the portable part of
// readGraphicsSettings, which only fetches the two values.

#include <optional>
#include <string>

#include "gpu_inventory/graphics_settings.h"

namespace gpu_inventory {

// One registry value as fetched.
struct RegistryValue {
  // other: a value of another type, or one too large to be read (past 16 MiB)
  enum class Type { absent, string, other };
  Type type = Type::absent;
  std::string text;  // a string's UTF-8: at least its first maxSettingCharacters characters
};

// The settings that the program's value and the global value make, each cut at its first NUL
// and at maxSettingCharacters characters; a token that the cut leaves in part is not read.
GraphicsSettings graphicsSettingsOf(std::optional<std::string> program, const RegistryValue& setting,
                                    const RegistryValue& global);

}  // namespace gpu_inventory
