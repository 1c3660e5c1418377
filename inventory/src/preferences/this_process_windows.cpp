// This process's own DXGI order: dxgi.dll loaded from System32 by its full path, one factory,
// each adapter's description, everything released, the library unloaded unless the process had
// loaded it before (then this only drops the reference it took).
#include "gpu_inventory/this_process.h"

#include <windows.h>
#include <dxgi.h>

#include <string>

namespace gpu_inventory {
namespace {

// The most adapters read, as the probes do: a driver that never says "no more" ends here.
constexpr UINT maxAdapters = 4096;

// dxgi.dll in System32, by its full path, its own imports from System32 too; nullptr when it
// cannot be loaded.
HMODULE loadSystemDxgi() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\dxgi.dll";
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

class LoadedLibrary {
 public:
  explicit LoadedLibrary(HMODULE module) : module_(module) {}
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  ~LoadedLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

// Releases the interface once when it goes out of scope.
template <typename Interface>
class Held {
 public:
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  Interface* get() const { return pointer_; }
  Interface** out() { return &pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

std::optional<std::vector<AdapterLuid>> readOrder() {
  const LoadedLibrary dxgi(loadSystemDxgi());
  if (dxgi.get() == nullptr) return std::nullopt;
  using CreateFactory = HRESULT(WINAPI*)(REFIID, void**);
  const auto create =
      reinterpret_cast<CreateFactory>(reinterpret_cast<void*>(GetProcAddress(dxgi.get(), "CreateDXGIFactory1")));
  if (create == nullptr) return std::nullopt;
  Held<IDXGIFactory1> factory;  // released before the library goes
  if (FAILED(create(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.out()))) ||
      factory.get() == nullptr) {
    return std::nullopt;
  }
  std::vector<AdapterLuid> order;
  for (UINT i = 0; i < maxAdapters; ++i) {
    Held<IDXGIAdapter1> adapter;
    if (FAILED(factory.get()->EnumAdapters1(i, adapter.out())) || adapter.get() == nullptr) break;
    DXGI_ADAPTER_DESC1 description{};
    if (SUCCEEDED(adapter.get()->GetDesc1(&description))) {
      order.push_back({description.AdapterLuid.LowPart, description.AdapterLuid.HighPart});
    } else {
      order.push_back({});  // its place is kept: the positions after it are still this process's
    }
  }
  return order;
}

}  // namespace

std::optional<std::vector<AdapterLuid>> dxgiOrderInThisProcess() noexcept {
  try {
    return readOrder();
  } catch (...) {
    return std::nullopt;  // out of memory
  }
}

}  // namespace gpu_inventory
