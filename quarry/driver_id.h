#pragma once

#include <cstdint>
#include <string>

// The name of a VkDriverId value, or UNKNOWN(<value>) for values outside the table.
std::string driverIdName(std::int32_t driverId);
