// Run values that name a file in another spelling than the target's, against the
// prefix's real registry and files, on the ANSI and the wide road: a drive alias
// (P: is the folder C:\PKH3V), forward slashes, a detour through "..", the short
// form, an expandable string; and the near misses beside them.
#include "remedy/run_key_scanner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "registry_scratch.h"

namespace {

const char Folder[] = "C:\\PKH3V";
const char Alias[] = "P:";
const char Variable[] = "PKH3VDIR";

std::wstring Widened(const std::string& text) {
  std::wstring wide;
  for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

// The drive alias for the life of the object.
class DriveAlias {
 public:
  DriveAlias(const char* drive, const char* folder) : drive_(drive) {
    defined_ = DefineDosDeviceA(0, drive, folder) != 0;
  }
  ~DriveAlias() {
    if (defined_) (void)DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive_, nullptr);
  }
  bool Defined() const { return defined_; }

 private:
  const char* drive_;
  bool defined_ = false;
};

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
  DriveAlias alias(Alias, Folder);
  ASSERT_TRUE(alias.Defined());
  ASSERT_TRUE(SetEnvironmentVariableA(Variable, Folder));
  const std::string shortForm = ShortPathOf(longForm.Path());
  ASSERT_NE(std::string::npos, shortForm.find('~')) << shortForm;

  const std::string target = impostor.Path();
  const SpellingCase cases[] = {
      {"through the alias", target, REG_SZ, "P:\\winlogon.exe", true},
      {"the alias as the module's path", "P:\\winlogon.exe", REG_SZ, target, true},
      {"forward slashes", target, REG_SZ, "C:/PKH3V/winlogon.exe", true},
      {"a detour through ..", target, REG_SZ, "C:\\PKH3-none\\..\\PKH3V\\winlogon.exe", true},
      {"the short form", longForm.Path(), REG_SZ, shortForm, true},
      {"the short form with an argument", longForm.Path(), REG_SZ, shortForm + " /s", true},
      {"an expandable string", target, REG_EXPAND_SZ, "%PKH3VDIR%\\winlogon.exe", true},
      {"the alias behind a host program", target, REG_SZ, "rundll32.exe P:\\winlogon.exe,Start", true},
      {"the alias quoted behind a start command", target, REG_SZ, "cmd /c start \"\" \"P:\\winlogon.exe\"", true},
      {"a longer name", target, REG_SZ, "C:\\PKH3V\\winlogon.exe.bak", false},
      {"another name through the alias", target, REG_SZ, "P:\\winlogon32.exe", false},
      {"another program through the alias", target, REG_SZ, "P:\\other.exe", false},
      {"a network path with the file's name", target, REG_SZ, "\\\\pkh3server\\PKH3V\\winlogon.exe", false},
      {"the variable in a plain string", target, REG_SZ, "%PKH3VDIR%\\winlogon.exe", false},
      {"another program first, the alias as its argument", target, REG_SZ,
       "C:\\PKH3V\\other.exe P:\\winlogon.exe", false},
  };
  for (const SpellingCase& c : cases) CheckBothRoads(c);
  (void)SetEnvironmentVariableA(Variable, nullptr);
}

// The clean-up removes the file before it cleans the Run keys: the identity told
// while the file was there still finds the values in other spellings.
TEST(CleanRunKeysOfFile, FindsOtherSpellingsOfAFileAlreadyRemoved) {
  RunDataFileId file;
  std::string path;
  {
    ScratchFile impostor(Folder, "winlogon.exe");
    ASSERT_TRUE(impostor.Created());
    path = impostor.Path();
    ASSERT_TRUE(IdentifyRunTarget(path.c_str(), &file));
    RunDataFileId wideFile;
    ASSERT_TRUE(IdentifyRunTargetWide(Widened(path).c_str(), &wideFile));
    EXPECT_EQ(file.volume, wideFile.volume);
    EXPECT_EQ(file.index, wideFile.index);
  }
  ScratchFile again(Folder, "placeholder.exe");  // the folder for the alias
  DriveAlias alias(Alias, Folder);
  ASSERT_TRUE(alias.Defined());
  {
    ScratchValue value(UserRun, "pkh3-gone", "C:/PKH3V/winlogon.exe");
    // The file is gone: without the identity only the text could count.
    EXPECT_EQ(1, CleanRunKeys(path.c_str(), RunKey, MatchEachValue));
    EXPECT_TRUE(value.Exists());
    EXPECT_EQ(1, CleanRunKeysOfFile(path.c_str(), &file, RunKey, MatchEachValue));
    EXPECT_FALSE(value.Exists());
  }
  {
    // The identity alone decides nothing for a value naming no existing file.
    ScratchValue value(UserRun, "pkh3-gone", "P:\\winlogon.exe");
    EXPECT_EQ(1, CleanRunKeysOfFileWide(Widened(path).c_str(), &file, RunKey, MatchEachValue));
    EXPECT_TRUE(value.Exists());
  }
}

TEST(IdentifyRunTarget, TellsOnlyExistingFiles) {
  ScratchFile impostor(Folder, "winlogon.exe");
  RunDataFileId file;
  EXPECT_FALSE(IdentifyRunTarget("C:\\PKH3V\\missing.exe", &file));
  EXPECT_FALSE(IdentifyRunTarget(Folder, &file));  // a folder
  EXPECT_FALSE(IdentifyRunTarget(nullptr, &file));
  EXPECT_FALSE(IdentifyRunTarget(impostor.Path().c_str(), nullptr));
  EXPECT_TRUE(IdentifyRunTarget(("\\\\?\\" + impostor.Path()).c_str(), &file));
}

}  // namespace
