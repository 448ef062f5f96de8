// Run values that name a file in another spelling than the target's, against the
// prefix's real registry and files, on the ANSI and the wide road: forward slashes,
// a detour through "..", the short form, an expandable string; and the near misses
// beside them. Drive aliases are tried end to end (tests/e2e/spellings.py): the
// prefix makes them from its dosdevices folder, which a Windows program cannot.
#include "remedy/run_key_scanner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "registry_scratch.h"

namespace {

const char Folder[] = "C:\\PKH3V";
const char Variable[] = "PKH3VDIR";

std::wstring Widened(const std::string& text) {
  std::wstring wide;
  for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

struct SpellingCase {
  const char* name;
  std::string target;  // as the module list gives it
  DWORD type;
  std::string data;
  bool starts;
};

void CheckBothRoads(const SpellingCase& c) {
  SCOPED_TRACE(c.name);
  const std::string text = c.data;
  {
    ScratchValue value(UserRun, "pkh3-spelling", c.type, text.c_str(), static_cast<DWORD>(text.size() + 1));
    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKey(c.target.c_str(), RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found));
    EXPECT_EQ(c.starts ? 1 : 0, found) << "ANSI road, detection";
    EXPECT_TRUE(value.Exists());
    found = 0;
    EXPECT_EQ(1, ScanRunKey(c.target.c_str(), RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(c.starts, !value.Exists()) << "ANSI road, removal";
  }
  {
    // The same value read through the wide registry calls.
    ScratchValue value(UserRun, "pkh3-spelling", c.type, text.c_str(), static_cast<DWORD>(text.size() + 1));
    const std::wstring target = Widened(c.target);
    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKeyWide(target.c_str(), RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(c.starts ? 1 : 0, found) << "wide road";
    EXPECT_EQ(c.starts, !value.Exists()) << "wide road";
  }
}

TEST(ScanRunKey, FindsTheFileHoweverItsValueSpellsIt) {
  ScratchFile impostor(Folder, "winlogon.exe");
  ScratchFile longerName(Folder, "winlogon.exe.bak");
  ScratchFile otherName(Folder, "winlogon32.exe");
  ScratchFile otherProgram(Folder, "other.exe");
  ScratchFile longForm("C:\\PKH3V Logon Tools", "winlogon.service.exe");
  ASSERT_TRUE(impostor.Created() && longForm.Created());
  ASSERT_TRUE(SetEnvironmentVariableA(Variable, Folder));
  const std::string shortForm = ShortPathOf(longForm.Path());
  ASSERT_NE(std::string::npos, shortForm.find('~')) << shortForm;

  const std::string target = impostor.Path();
  const SpellingCase cases[] = {
      {"forward slashes", target, REG_SZ, "C:/PKH3V/winlogon.exe", true},
      {"a detour through ..", target, REG_SZ, "C:\\PKH3-none\\..\\PKH3V\\winlogon.exe", true},
      {"the short form", longForm.Path(), REG_SZ, shortForm, true},
      {"the short form with an argument", longForm.Path(), REG_SZ, shortForm + " /s", true},
      {"an expandable string", target, REG_EXPAND_SZ, "%PKH3VDIR%\\winlogon.exe", true},
      {"a longer name", target, REG_SZ, "C:\\PKH3V\\winlogon.exe.bak", false},
      {"a network path with the file's name", target, REG_SZ, "\\\\pkh3server\\PKH3V\\winlogon.exe", false},
      {"the variable in a plain string", target, REG_SZ, "%PKH3VDIR%\\winlogon.exe", false},
      {"slashes behind a host program", target, REG_SZ, "rundll32.exe C:/PKH3V/winlogon.exe,Start", true},
      {"slashes quoted behind a start command", target, REG_SZ, "cmd /c start \"\" \"C:/PKH3V/winlogon.exe\"", true},
      {"another name in the folder", target, REG_SZ, "C:/PKH3V/winlogon32.exe", false},
      {"another program in the folder", target, REG_SZ, "C:/PKH3V/other.exe -x", false},
      {"another program first, the file as its argument", target, REG_SZ,
       "C:\\PKH3V\\other.exe C:/PKH3V/winlogon.exe", false},
  };
  for (const SpellingCase& c : cases) CheckBothRoads(c);
  (void)SetEnvironmentVariableA(Variable, nullptr);
}

}  // namespace
