#include "win32/win32_handle.h"

#include <windows.h>

namespace gpu_inventory {

void closeWin32Handle(void* handle) noexcept { CloseHandle(handle); }

}  // namespace gpu_inventory
