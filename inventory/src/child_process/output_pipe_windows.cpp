// The output pipe is a named pipe, the only kind that can be read with a timeout. A named
// pipe can be opened by anyone who knows its name and passes its access list, so the name is
// random and the list names the current user alone: another user can neither take the name
// first (every run would fail to start) nor read or write a probe's output.
#include "child_process/output_pipe.h"

#include <windows.h>
#include <bcrypt.h>

#include <string>
#include <vector>

namespace gpu_inventory {
namespace {

// A security descriptor that grants the process token's user, and nobody else, all access.
class UserOnlyDescriptor {
 public:
  DWORD build() {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return GetLastError();
    const Win32Handle token(rawToken);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return GetLastError();
    user_.resize(size / sizeof(user_[0]) + 1);
    if (!GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) return GetLastError();
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
    const DWORD aclSize =
        static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + GetLengthSid(sid);
    acl_.resize(aclSize / sizeof(acl_[0]) + 1);
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
      return GetLastError();
    }
    return 0;
  }

  SECURITY_DESCRIPTOR* get() { return &descriptor_; }

 private:
  std::vector<ULONGLONG> user_;  // TOKEN_USER, which holds a pointer: 8-byte aligned
  std::vector<DWORD> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
};

// \\.\pipe\gpu-probes-<32 hex digits> from the system's preferred random generator.
DWORD randomPipeName(std::wstring& name) {
  unsigned char bits[16];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bits, sizeof bits, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return ERROR_GEN_FAILURE;  // an NTSTATUS, not a Win32 error: said as a general failure
  }
  static const wchar_t hex[] = L"0123456789abcdef";
  name = L"\\\\.\\pipe\\gpu-probes-";
  for (const unsigned char bit : bits) {
    name += hex[bit >> 4];
    name += hex[bit & 15];
  }
  return 0;
}

}  // namespace

std::uint32_t openOutputPipe(OutputPipe& pipe) {
  UserOnlyDescriptor descriptor;
  if (const DWORD error = descriptor.build()) return error;
  SECURITY_ATTRIBUTES userOnly{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  std::wstring name;
  DWORD error = 0;
  for (int attempt = 0; attempt < 2 && !pipe.readEnd; ++attempt) {
    if ((error = randomPipeName(name)) != 0) return error;
    // The first instance, or nothing: a pipe of that name that someone else made is never ours.
    const HANDLE readEnd = CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
        64 * 1024, 0, &userOnly);
    error = GetLastError();
    pipe.readEnd.reset(readEnd);
    if (!pipe.readEnd && error != ERROR_ACCESS_DENIED && error != ERROR_PIPE_BUSY) return error;
  }
  if (!pipe.readEnd) return error;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // Our own pipe: no impersonation of us through it, whatever holds its other end.
  const HANDLE writeEnd =
      CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  error = GetLastError();
  pipe.writeEnd.reset(writeEnd);
  return pipe.writeEnd ? 0 : error;
}

}  // namespace gpu_inventory
