#pragma once
// UTF-8, as the library keeps every text, to and from the UTF-16 of the Win32 API. Windows only.

#include <string>

namespace gpu_inventory {

std::wstring utf16Of(const std::string& utf8);
std::string utf8Of(const std::wstring& utf16);

}  // namespace gpu_inventory
