// A test-only pdh.dll, put in a Wine prefix's System32 in place of Wine's, whose PDH has no GPU
// counters. It answers "\GPU Adapter Memory(*)\Dedicated Usage" and "...\Shared Usage" with
// instances for the LUID that FAKE_PDH_LUID ("low:high") names: two phys instances of 1 GiB
// and 512 MiB dedicated, one of 256 MiB shared, and one instance of another LUID.
// FAKE_PDH_CHATTER, FAKE_PDH_CRASH ("load", "call" for PdhCollectQueryData, "unload", "end",
// each with an optional ":<how>") and FAKE_PDH_FOREIGN make it misbehave as misbehaviour.h
// says.

#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "misbehaviour.h"

namespace {

const MisbehaviourVariables kVariables = {"FAKE_PDH_CHATTER", "FAKE_PDH_CRASH", "FAKE_PDH_FOREIGN"};

int queryToken;
int dedicatedToken;
int sharedToken;

struct Instance {
  std::wstring name;
  LONGLONG bytes;
};

std::wstring instanceName(unsigned long low, long high, int phys) {
  wchar_t name[64];
  std::swprintf(name, 64, L"luid_0x%08lX_0x%08lX_phys_%d", static_cast<unsigned long>(high), low,
                phys);
  return name;
}

std::vector<Instance> instances(bool dedicated) {
  unsigned long low = 0;
  long high = 0;
  if (std::sscanf(testSetting("FAKE_PDH_LUID").c_str(), "%lu:%ld", &low, &high) != 2) return {};
  if (!dedicated) return {{instanceName(low, high, 0), 256ll << 20}};
  return {{instanceName(low, high, 0), 1ll << 30},
          {instanceName(low + 1, high, 0), 64ll << 20},
          {instanceName(low, high, 1), 512ll << 20}};
}

}  // namespace

extern "C" {

PDH_STATUS WINAPI PdhOpenQueryW(LPCWSTR, DWORD_PTR, PDH_HQUERY* query) {
  *query = &queryToken;
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhAddEnglishCounterW(PDH_HQUERY, LPCWSTR path, DWORD_PTR, PDH_HCOUNTER* counter) {
  if (std::wcscmp(path, L"\\GPU Adapter Memory(*)\\Dedicated Usage") == 0) {
    *counter = &dedicatedToken;
  } else if (std::wcscmp(path, L"\\GPU Adapter Memory(*)\\Shared Usage") == 0) {
    *counter = &sharedToken;
  } else {
    return static_cast<PDH_STATUS>(PDH_CSTATUS_NO_OBJECT);
  }
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhCollectQueryData(PDH_HQUERY) {
  installForeignHandlers(kVariables.foreign, "call");
  chatter(kVariables.chatter, "in a call");
  misbehaveAt(kVariables.crash, "call");
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhGetFormattedCounterArrayW(PDH_HCOUNTER counter, DWORD format, LPDWORD size,
                                               LPDWORD count, PPDH_FMT_COUNTERVALUE_ITEM_W items) {
  if (format != (PDH_FMT_LARGE | PDH_FMT_NOSCALE)) return static_cast<PDH_STATUS>(PDH_INVALID_ARGUMENT);
  const std::vector<Instance> list = instances(counter == &dedicatedToken);
  DWORD needed = static_cast<DWORD>(list.size() * sizeof(PDH_FMT_COUNTERVALUE_ITEM_W));
  for (const Instance& i : list) needed += static_cast<DWORD>((i.name.size() + 1) * sizeof(wchar_t));
  *count = static_cast<DWORD>(list.size());
  if (items == nullptr || *size < needed) {
    *size = needed;
    return static_cast<PDH_STATUS>(PDH_MORE_DATA);
  }
  auto* names = reinterpret_cast<wchar_t*>(items + list.size());
  for (std::size_t n = 0; n < list.size(); ++n) {
    std::memcpy(names, list[n].name.c_str(), (list[n].name.size() + 1) * sizeof(wchar_t));
    items[n].szName = names;
    items[n].FmtValue.CStatus = PDH_CSTATUS_VALID_DATA;
    items[n].FmtValue.largeValue = list[n].bytes;
    names += list[n].name.size() + 1;
  }
  *size = needed;
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhCloseQuery(PDH_HQUERY) { return ERROR_SUCCESS; }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) misbehaveOnAttach(kVariables, self);
  if (reason == DLL_PROCESS_DETACH) misbehaveOnDetach(kVariables, reserved);
  return TRUE;
}
