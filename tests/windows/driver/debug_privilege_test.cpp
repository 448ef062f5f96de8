// The privilege bracket around the walk: "SeDebugPrivilege" enabled while the walk
// runs and removed from the process token afterwards. Removal cannot be undone in
// this process, so this program holds only these tests.
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "driver/debug_privilege.h"
#include "driver/toolhelp_api.h"

namespace {

enum class PrivilegeState { Absent, Disabled, Enabled, Unknown };

const char* Describe(PrivilegeState state) {
  switch (state) {
    case PrivilegeState::Absent: return "absent";
    case PrivilegeState::Disabled: return "disabled";
    case PrivilegeState::Enabled: return "enabled";
    default: return "unknown";
  }
}

// Reads the process token's privilege list afresh.
PrivilegeState DebugPrivilegeState() {
  LUID debug = {};
  if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &debug)) return PrivilegeState::Unknown;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return PrivilegeState::Unknown;
  alignas(TOKEN_PRIVILEGES) unsigned char buffer[4096];
  DWORD length = 0;
  const BOOL read = GetTokenInformation(token, TokenPrivileges, buffer, sizeof(buffer), &length);
  CloseHandle(token);
  if (!read) return PrivilegeState::Unknown;
  const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart == debug.LowPart && entry.Luid.HighPart == debug.HighPart) {
      return (entry.Attributes & SE_PRIVILEGE_ENABLED) ? PrivilegeState::Enabled : PrivilegeState::Disabled;
    }
  }
  return PrivilegeState::Absent;
}

std::vector<PrivilegeState> seenDuringWalk;

bool NoteStateAndPass(const char*, const wchar_t*, int32_t*) {
  seenDuringWalk.push_back(DebugPrivilegeState());
  return false;
}
bool NeverRemove(const char*, const wchar_t*, uint32_t, int32_t) { return false; }
bool NeverRestart() { return false; }
const ScanSeam ObservingSeam = {NoteStateAndPass, NeverRemove, NeverRestart};

TEST(DebugPrivilege, NullArgumentsAreRefused) {
  HANDLE token = INVALID_HANDLE_VALUE;
  TOKEN_PRIVILEGES privileges = {};
  EXPECT_FALSE(EnableDebugPrivilege(nullptr, &privileges));
  EXPECT_FALSE(EnableDebugPrivilege(&token, nullptr));
  EXPECT_EQ(token, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DropDebugPrivilege(nullptr, &privileges));
  EXPECT_NE(DebugPrivilegeState(), PrivilegeState::Enabled);
}

// Runs last in this program: afterwards the privilege is gone for good.
TEST(DebugPrivilege, BracketEnablesForTheWalkAndRemovesAfterwards) {
  // The administrator token of the prefix holds the privilege, not yet enabled.
  ASSERT_EQ(DebugPrivilegeState(), PrivilegeState::Disabled);

  ToolhelpApi toolhelp;
  ASSERT_TRUE(toolhelp.LoadToolhelpApi());
  EXPECT_EQ(toolhelp.ScanWithDebugPrivilege(ObservingSeam), NoThreatFound);
  (void)toolhelp.UnloadToolhelpApi();

  ASSERT_FALSE(seenDuringWalk.empty());
  for (size_t i = 0; i < seenDuringWalk.size(); ++i) {
    EXPECT_EQ(seenDuringWalk[i], PrivilegeState::Enabled) << "query " << i << ": " << Describe(seenDuringWalk[i]);
  }
  EXPECT_EQ(DebugPrivilegeState(), PrivilegeState::Absent) << Describe(DebugPrivilegeState());

  // Removed, not disabled: enabling it again does not bring it back.
  HANDLE token = INVALID_HANDLE_VALUE;
  TOKEN_PRIVILEGES privileges = {};
  if (EnableDebugPrivilege(&token, &privileges)) CloseHandle(token);
  EXPECT_EQ(DebugPrivilegeState(), PrivilegeState::Absent);
}

}  // namespace
