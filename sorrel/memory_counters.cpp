#include "memory_counters.h"

#include <limits>
#include <new>

namespace {

constexpr char16_t kDedicatedUsage[] = u"\\GPU Adapter Memory(*)\\Dedicated Usage";
constexpr char16_t kSharedUsage[] = u"\\GPU Adapter Memory(*)\\Shared Usage";

std::optional<std::uint32_t> hexPart(std::u16string_view digits) {
  std::uint32_t value = 0;
  for (const char16_t c : digits) {
    std::uint32_t digit = 0;
    if (c >= u'0' && c <= u'9') {
      digit = static_cast<std::uint32_t>(c - u'0');
    } else if (c >= u'a' && c <= u'f') {
      digit = static_cast<std::uint32_t>(c - u'a' + 10);
    } else if (c >= u'A' && c <= u'F') {
      digit = static_cast<std::uint32_t>(c - u'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value << 4 | digit;
  }
  return value;
}

bool startsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

struct Reading {
  InstanceLuid luid;
  std::uint64_t bytes = 0;
};

// A name within the buffer, aligned, and ended inside it; anything else is passed over.
std::u16string_view nameIn(const CounterItem& item, const unsigned char* begin,
                           const unsigned char* end) {
  const auto* name = reinterpret_cast<const unsigned char*>(item.name);
  if (name == nullptr || name < begin || name >= end ||
      static_cast<std::size_t>(name - begin) % alignof(char16_t) != 0) {
    return {};
  }
  const std::size_t room = static_cast<std::size_t>(end - name) / sizeof(char16_t);
  std::size_t length = 0;
  while (length < room && item.name[length] != u'\0') ++length;
  return length < room ? std::u16string_view(item.name, length) : std::u16string_view();
}

// A few hundred instances take some ten KiB; a size far beyond is not believed.
constexpr std::uint32_t kMostCounterBytes = 16u << 20;
constexpr int kSizeTries = 3;  // the size asked for again when instances came meanwhile

// The valid readings of one counter; nothing when the counter has none to give.
std::optional<std::vector<Reading>> readCounter(const CounterApi& api, void* counter) {
  std::uint32_t size = 0;
  std::uint32_t count = 0;
  // Items first, their names behind them: aligned as the items need.
  std::vector<CounterItem> storage;
  std::uint32_t capacity = 0;
  PdhStatus status = kPdhMoreData;
  for (int tries = 0; status == kPdhMoreData && tries < kSizeTries; ++tries) {
    // The size comes from a call without a buffer: what a call with too small a one says of
    // the size is not to be relied on.
    size = 0;
    if (api.formattedArray(counter, &size, &count, nullptr) != kPdhMoreData || size == 0 ||
        size > kMostCounterBytes) {
      return std::nullopt;
    }
    storage.assign(size / sizeof(CounterItem) + 1, CounterItem{});
    capacity = size;
    status = api.formattedArray(counter, &size, &count, storage.data());
  }
  if (status != kPdhSuccess || size > capacity || count > capacity / sizeof(CounterItem)) {
    return std::nullopt;
  }
  const CounterItem* items = storage.data();
  const auto* begin = reinterpret_cast<const unsigned char*>(items);
  const unsigned char* end = begin + capacity;
  std::vector<Reading> readings;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CounterItem& item = items[i];
    const bool valid = item.status == kCounterStatusValid || item.status == kCounterStatusNew;
    if (!valid || item.value < 0) continue;
    const std::optional<InstanceLuid> luid = luidOfInstance(nameIn(item, begin, end));
    if (luid) readings.push_back({*luid, static_cast<std::uint64_t>(item.value)});
  }
  return readings;
}

// Nothing when the counter could not be read, or no instance names the adapter.
std::optional<std::uint64_t> sumFor(const std::optional<std::vector<Reading>>& readings,
                                    const AdapterState& a) {
  if (!readings) return std::nullopt;
  std::optional<std::uint64_t> sum;
  for (const Reading& r : *readings) {
    if (!a.hasLuid(r.luid.lowPart, r.luid.highPart)) continue;
    const std::uint64_t soFar = sum.value_or(0);
    sum = r.bytes > std::numeric_limits<std::uint64_t>::max() - soFar
              ? std::numeric_limits<std::uint64_t>::max()
              : soFar + r.bytes;
  }
  return sum;
}

struct Collected {
  std::optional<std::vector<Reading>> dedicated;
  std::optional<std::vector<Reading>> shared;
};

// Both counters from one collection; nothing when the counters are unavailable. Each is read on
// its own: one that cannot be read leaves the other.
std::optional<Collected> collect(const CounterApi& api, void* query) {
  void* dedicated = nullptr;
  void* shared = nullptr;
  if (api.addEnglishCounter(query, kDedicatedUsage, &dedicated) != kPdhSuccess ||
      api.addEnglishCounter(query, kSharedUsage, &shared) != kPdhSuccess ||
      dedicated == nullptr || shared == nullptr || api.collect(query) != kPdhSuccess) {
    return std::nullopt;
  }
  return Collected{readCounter(api, dedicated), readCounter(api, shared)};
}

}  // namespace

std::optional<InstanceLuid> luidOfInstance(std::u16string_view name) {
  constexpr std::u16string_view kLuid = u"luid_0x";
  constexpr std::u16string_view kLowPart = u"_0x";
  constexpr std::u16string_view kPhys = u"_phys_";
  constexpr std::size_t kDigits = 8;
  constexpr std::size_t kPhysAt = kLuid.size() + kDigits + kLowPart.size() + kDigits;
  if (name.size() <= kPhysAt + kPhys.size() || !startsWith(name, kLuid) ||
      !startsWith(name.substr(kLuid.size() + kDigits), kLowPart) ||
      !startsWith(name.substr(kPhysAt), kPhys)) {
    return std::nullopt;
  }
  for (const char16_t c : name.substr(kPhysAt + kPhys.size())) {
    if (c < u'0' || c > u'9') return std::nullopt;
  }
  const auto high = hexPart(name.substr(kLuid.size(), kDigits));
  const auto low = hexPart(name.substr(kLuid.size() + kDigits + kLowPart.size(), kDigits));
  if (!high || !low) return std::nullopt;
  return InstanceLuid{*low, static_cast<std::int32_t>(*high)};
}

void readMemoryUsage(const CounterApi& api, std::vector<AdapterState>& adapters) {
  if (adapters.empty()) return;
  void* query = nullptr;
  if (api.openQuery(&query) != kPdhSuccess || query == nullptr) return;
  std::optional<Collected> collected;
  try {
    collected = collect(api, query);
  } catch (const std::bad_alloc&) {
    collected.reset();  // no memory for the readings: the usage stays unknown
  }
  api.closeQuery(query);
  if (!collected) return;
  for (AdapterState& a : adapters) {
    a.dedicatedUsage = sumFor(collected->dedicated, a);
    a.sharedUsage = sumFor(collected->shared, a);
  }
}
