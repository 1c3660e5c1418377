#pragma once
// One Win32 handle, closed once when its owner goes, whichever way it goes. Kept as void*, what
// HANDLE is, so that this header needs no <windows.h>. Windows only.

#include <cstdint>

namespace gpu_inventory {

void closeWin32Handle(void* handle) noexcept;

class Win32Handle {
 public:
  Win32Handle() = default;
  // Takes the handle; a null one or INVALID_HANDLE_VALUE leaves it empty.
  explicit Win32Handle(void* handle) noexcept { reset(handle); }
  Win32Handle(const Win32Handle&) = delete;
  Win32Handle& operator=(const Win32Handle&) = delete;
  ~Win32Handle() { reset(); }

  void* get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

  void reset(void* handle = nullptr) noexcept {
    if (handle_ != nullptr) closeWin32Handle(handle_);
    const bool invalid = handle == reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
    handle_ = invalid ? nullptr : handle;
  }

 private:
  void* handle_ = nullptr;
};

}  // namespace gpu_inventory
