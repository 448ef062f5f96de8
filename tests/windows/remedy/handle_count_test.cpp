// Every key the remediation and the impostor rule open is closed again, on the roads
// that find, delete and refuse.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "detect/winlogon_impostor.h"
#include "registry_scratch.h"
#include "remedy/image_debugger_cleaner.h"
#include "remedy/run_key_scanner.h"

namespace {

// The slots the next new handles take: the lowest free ones. A handle that a call left
// open holds one of them, so the list differs afterwards.
std::vector<HANDLE> NextFreeHandles() {
  std::vector<HANDLE> events;
  for (int i = 0; i < 32; ++i) events.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  for (HANDLE event : events)
    if (event != nullptr) (void)CloseHandle(event);
  return events;
}

TEST(RegistryHandles, EveryOpenedKeyIsClosed) {
  Subkey entry(ImageOptions, "pkh3-handles.exe");
  ASSERT_TRUE(SetString(entry.Key(), "Other", "kept"));
  ScratchValue match(UserRun, "pkh3-handles", "C:\\PKH3\\A.EXE");
  ScratchValue other(UserRun, "pkh3-handles-other", "C:\\PKH3\\B.EXE");

  // Warm up: the first use of a predefined root key opens a handle that the system
  // keeps for the life of the process.
  int32_t found = 0;
  (void)CleanRunKeys("C:\\PKH3\\NOTHING.EXE", RunKey, MatchEachValue);
  (void)ScanRunKey("C:\\PKH3\\A.EXE", RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found);
  (void)IsWinlogonImpostor("C:\\PKH3\\winlogon.exe");
  (void)RemoveImageDebuggers("C:\\PKH3\\winlogon.exe");
  const std::vector<HANDLE> before = NextFreeHandles();

  for (int round = 0; round < 20; ++round) {
    (void)ScanRunKey("C:\\PKH3\\A.EXE", RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found);
    (void)ScanRunKey("C:\\PKH3\\A.EXE", RunKey, CurrentUserHive, WalkWithoutMatching, DetectOnly, &found);
    (void)ScanRunKey("C:\\PKH3\\A.EXE", RunKey, LocalMachineHive, MatchEachValue, DeleteMatches, &found);
    (void)ScanRunKey("C:\\PKH3\\A.EXE", 13, CurrentUserHive, MatchEachValue, DetectOnly, &found);
    (void)IsWinlogonImpostor("C:\\PKH3\\winlogon.exe");
    ASSERT_TRUE(SetString(entry.Key(), "Debugger", "C:\\Tools\\dbg.exe"));
    (void)RemoveImageDebuggers("C:\\PKH3\\winlogon.exe");
  }
  ASSERT_TRUE(SetString(UserRun, "pkh3-handles", "C:\\PKH3\\A.EXE"));
  (void)CleanRunKeys("C:\\PKH3\\A.EXE", RunKey, MatchEachValue);
  EXPECT_FALSE(match.Exists());

  EXPECT_EQ(before, NextFreeHandles());
  DeleteSubkey(entry);
}

}  // namespace
