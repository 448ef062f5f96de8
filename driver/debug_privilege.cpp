#include "driver/debug_privilege.h"

namespace {

// The local system: LookupPrivilegeValueA takes the empty name as this computer.
const char LocalSystem[] = "";
const char DebugPrivilegeName[] = "SeDebugPrivilege";
// One LUID_AND_ATTRIBUTES entry behind the count: the size of TOKEN_PRIVILEGES.
constexpr DWORD PrivilegesLength = 16;

}  // namespace

bool EnableDebugPrivilege(HANDLE* token, TOKEN_PRIVILEGES* privileges) {
  if (token == nullptr || privileges == nullptr) return false;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token)) return false;
  LUID luid = {};
  if (!LookupPrivilegeValueA(LocalSystem, DebugPrivilegeName, &luid)) {
    CloseHandle(*token);
    return false;
  }
  privileges->PrivilegeCount = 1;
  privileges->Privileges[0].Luid = luid;
  privileges->Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // A token that lacks the privilege altogether still succeeds here (the last error
  // says ERROR_NOT_ALL_ASSIGNED); the walk then runs with the access it has.
  if (!AdjustTokenPrivileges(*token, FALSE, privileges, PrivilegesLength, nullptr, nullptr)) {
    CloseHandle(*token);
    return false;
  }
  return true;
}

bool DropDebugPrivilege(HANDLE token, TOKEN_PRIVILEGES* privileges) {
  if (token == nullptr || privileges == nullptr) return false;
  LUID luid = {};
  if (!LookupPrivilegeValueA(LocalSystem, DebugPrivilegeName, &luid)) {
    CloseHandle(token);
    return false;
  }
  privileges->Privileges[0].Luid = luid;
  // Removed, not merely disabled: the process cannot enable it again.
  privileges->Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
  const bool adjusted = AdjustTokenPrivileges(token, FALSE, privileges, PrivilegesLength, nullptr, nullptr) != 0;
  CloseHandle(token);
  return adjusted;
}
