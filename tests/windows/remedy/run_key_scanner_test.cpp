// The Run-key scanner against the real registry of the test prefix. Every value a test
// makes has a name of its own, and every path it names lies under C:\PKH3, so other
// values in the same keys take no part.
#include "remedy/run_key_scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "registry_scratch.h"

namespace {

const char Target[] = "c:\\pkh3\\a.exe";  // upper-cased by the scanner

struct DataCase {
  const char* name;
  const char* target;
  DWORD type;
  const char* data;  // bytes of the value
  DWORD size;        // 0 for strlen(data) + 1 (a string with its terminator)
  bool matches;
};

const DataCase DataCases[] = {
    {"quoted path with arguments", Target, REG_SZ, "\"C:\\PKH3\\A.EXE\" /S", 0, true},
    {"equal length, same case", Target, REG_SZ, "C:\\PKH3\\A.EXE", 0, true},
    {"equal length, other case", "C:\\PKH3\\A.EXE", REG_SZ, "c:\\Pkh3\\a.exe", 0, true},
    {"quoted path alone", Target, REG_SZ, "\"C:\\PKH3\\A.EXE\"", 0, true},
    {"longer name that only starts with the target", Target, REG_SZ, "C:\\PKH3\\A.EXEC", 0, false},
    {"target behind a host program, then a comma", "C:\\PKH3\\A.DLL", REG_SZ,
     "RUNDLL32.EXE C:\\PKH3\\A.DLL,Start", 0, true},
    {"target behind a host program, then a space", Target, REG_SZ,
     "C:\\WINDOWS\\SYSTEM32\\CMD.EXE /C C:\\PKH3\\A.EXE /Q", 0, true},
    {"comma after the target when it is alone", Target, REG_SZ, "C:\\PKH3\\A.EXE,", 0, true},
    {"only the first occurrence counts", Target, REG_SZ, "C:\\PKH3\\A.EXE.BAK C:\\PKH3\\A.EXE", 0,
     false},
    {"shorter data never matches", Target, REG_SZ, "C:\\PKH3\\A.EX", 0, false},
    {"short (8.3) form of a long target", "C:\\PKH3\\LONGNAME.EXE", REG_SZ,
     "C:\\PKH3\\LONGNA~1.EXE", 0, false},
    {"trailing backslash removed", "C:\\PKH3\\DIR", REG_SZ, "C:\\PKH3\\DIR\\", 0, true},
    {"trailing backslash inside quotes stays", "C:\\PKH3\\DIR", REG_SZ, "\"C:\\PKH3\\DIR\\\"", 0,
     false},
    {"only one trailing backslash removed", "C:\\PKH3\\DIR", REG_SZ, "C:\\PKH3\\DIR\\\\", 0, false},
    {"blanks before and after", Target, REG_SZ, "   C:\\PKH3\\A.EXE   ", 0, true},
    {"tabs before and after", Target, REG_SZ, "\t\tC:\\PKH3\\A.EXE\t", 0, true},
    {"run of blanks after the target", Target, REG_SZ, "C:\\PKH3\\A.EXE \t  /S", 0, true},
    {"tab right after the target", Target, REG_SZ, "C:\\PKH3\\A.EXE\t/S", 0, false},
    {"run of blanks inside the target's name", "C:\\PKH3\\MY APP.EXE", REG_SZ,
     "C:\\PKH3\\MY   APP.EXE", 0, true},
    {"empty string", Target, REG_SZ, "", 0, false},
    {"raw bytes of size 0", Target, REG_BINARY, "", 0xFFFFFFFF, false},
    {"raw bytes without terminator lose their last byte", Target, REG_BINARY,
     "C:\\PKH3\\A.EXE!", 14, true},
    {"raw bytes without terminator, last byte needed", Target, REG_BINARY, "C:\\PKH3\\A.EXE", 13,
     false},
    {"raw bytes compared up to the first NUL", Target, REG_BINARY, "C:\\PKH3\\A.EXE\0tail", 19,
     true},
    // Expanded as the shell expands it before it starts the program (the prefix's
    // SystemRoot is C:\windows).
    {"expandable string is expanded", "C:\\WINDOWS\\PKH3.EXE", REG_EXPAND_SZ,
     "%SystemRoot%\\PKH3.EXE", 0, true},
    {"plain string is not expanded", "C:\\WINDOWS\\PKH3.EXE", REG_SZ, "%SystemRoot%\\PKH3.EXE", 0, false},
    {"expandable string compared as written", "%SYSTEMROOT%\\PKH3.EXE", REG_EXPAND_SZ,
     "%SystemRoot%\\PKH3.EXE", 0, true},
    {"number, its bytes as text, last byte cut", "ABC", REG_DWORD, "ABCD", 4, true},
    {"number, its cut byte is not compared", "ABCD", REG_DWORD, "ABCD", 4, false},
    {"number stopping at a NUL byte", "AB", REG_DWORD, "AB\0D", 4, true},
};

DWORD DataSize(const DataCase& c) {
  if (c.size == 0) return static_cast<DWORD>(std::strlen(c.data) + 1);
  if (c.size == 0xFFFFFFFF) return 0;
  return c.size;
}

// Each case once in detection mode (found, nothing deleted) and once in removal mode
// (deleted exactly when it matches), in the current user's Run key.
TEST(ScanRunKey, NormalisesAndMatchesValueData) {
  for (const DataCase& c : DataCases) {
    SCOPED_TRACE(c.name);
    ScratchValue value(UserRun, "pkh3-data", c.type, c.data, DataSize(c));

    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKey(c.target, RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found));
    EXPECT_EQ(c.matches ? 1 : 0, found) << "detection mode";
    EXPECT_TRUE(value.Exists()) << "detection mode deleted the value";

    found = 0;
    EXPECT_EQ(1, ScanRunKey(c.target, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(c.matches ? 1 : 0, found) << "removal mode";
    EXPECT_EQ(!c.matches, value.Exists()) << "removal mode";
  }
}

TEST(ScanRunKey, ExaminesTheUnnamedDefaultValue) {
  ScratchValue value(UserRun, "", "\"C:\\PKH3\\A.EXE\" /S");
  int32_t found = 0;
  EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found));
  EXPECT_EQ(1, found);
  EXPECT_TRUE(value.Exists());

  found = 0;
  EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(1, found);
  EXPECT_FALSE(value.Exists());
}

TEST(ScanRunKey, FoundIsSetButNeverCleared) {
  int32_t found = 1;
  EXPECT_EQ(1, ScanRunKey("C:\\PKH3\\NOTHING-STARTS-THIS.EXE", RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found));
  EXPECT_EQ(1, found);
}

TEST(ScanRunKey, RefusesBadArgumentsWithoutTouchingTheRegistry) {
  struct Case {
    const char* name;
    const char* target;
    uint16_t key;
    uint8_t hive;
    bool nullFound;
  };
  const std::string overlong = "C:\\PKH3\\A.EXE" + std::string(1024, 'X');
  const Case cases[] = {
      {"key selector 13", Target, 13, CurrentUserHive, false},
      {"key selector 9", Target, 9, CurrentUserHive, false},
      {"hive selector 24", Target, RunKey, 24, false},
      {"hive selector 20", Target, RunKey, 20, false},
      {"null target", nullptr, RunKey, CurrentUserHive, false},
      {"null found", Target, RunKey, CurrentUserHive, true},
      {"target that does not fit the buffer", overlong.c_str(), RunKey, CurrentUserHive, false},
  };
  ScratchValue value(UserRun, "pkh3-refused", "C:\\PKH3\\A.EXE");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t found = 0;
    EXPECT_EQ(0, ScanRunKey(c.target, c.key, c.hive, MatchEachValue, DeleteMatches, c.nullFound ? nullptr : &found));
    EXPECT_EQ(0, found);
    EXPECT_TRUE(value.Exists());
  }
}

TEST(ScanRunKey, MissingKeyGivesZero) {
  // The default user has no RunOnce key in a fresh prefix, and these tests make none.
  HKEY probe = nullptr;
  if (RegOpenKeyExA(HKEY_USERS, DefaultUserRunOnce.path, 0, KEY_READ, &probe) == ERROR_SUCCESS) {
    (void)RegCloseKey(probe);
    GTEST_SKIP() << "the default user has a RunOnce key here";
  }
  int32_t found = 0;
  EXPECT_EQ(0, ScanRunKey(Target, RunOnceKey, DefaultUserHive, MatchEachValue, DetectOnly, &found));
  EXPECT_EQ(0, found);
}

TEST(ScanRunKey, SkipMatchingOnlyWalksTheKey) {
  ScratchValue value(UserRun, "pkh3-skip", "C:\\PKH3\\A.EXE");
  int32_t found = 0;
  EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, WalkWithoutMatching, DeleteMatches, &found));
  EXPECT_EQ(0, found);
  EXPECT_TRUE(value.Exists());
}

TEST(ScanRunKey, DeleteFlagOtherThanOneOnlyDetects) {
  ScratchValue value(UserRun, "pkh3-flag", "C:\\PKH3\\A.EXE");
  for (int32_t flag : {int32_t{DetectOnly}, 2, -1}) {
    SCOPED_TRACE(flag);
    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, flag, &found));
    EXPECT_EQ(1, found);
    EXPECT_TRUE(value.Exists());
  }
}

// Values are walked in the order the registry lists them; the names below keep that
// order fixed (A before B before C).
TEST(ScanRunKey, RemovesAdjacentMatchesAndKeepsTheRest) {
  ScratchValue before(UserRun, "pkh3-adj-a", "C:\\PKH3\\OTHER.EXE");
  ScratchValue first(UserRun, "pkh3-adj-b1", "C:\\PKH3\\A.EXE");
  ScratchValue second(UserRun, "pkh3-adj-b2", "\"C:\\PKH3\\A.EXE\" -run");
  ScratchValue after(UserRun, "pkh3-adj-c", "C:\\PKH3\\A.EXE.OLD");

  int32_t found = 0;
  EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found));
  EXPECT_EQ(1, found);
  EXPECT_TRUE(first.Exists());
  EXPECT_TRUE(second.Exists());

  found = 0;
  EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(1, found);
  EXPECT_FALSE(first.Exists());
  EXPECT_FALSE(second.Exists());
  EXPECT_TRUE(before.Exists());
  EXPECT_TRUE(after.Exists());
}

// A name or data too long for the scanner's buffers must not hide the values behind it,
// and nothing of the long value itself may be compared.
TEST(ScanRunKey, PassesOverOversizedValues) {
  struct Case {
    const char* name;
    std::string valueName;
    std::string data;
  };
  const Case cases[] = {
      {"name of 1024 characters", "pkh3-long-a" + std::string(1024 - 11, 'n'), "C:\\PKH3\\A.EXE"},
      {"name of 1100 characters", "pkh3-long-a" + std::string(1100, 'n'), "C:\\PKH3\\A.EXE"},
      {"data of 1025 bytes", "pkh3-long-a", "C:\\PKH3\\A.EXE " + std::string(1024 - 14, 'x')},
      {"data of 1100 bytes", "pkh3-long-a", "C:\\PKH3\\A.EXE /" + std::string(1100, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchValue oversized(UserRun, c.valueName, c.data);
    ASSERT_TRUE(oversized.Exists());

    // Alone: not seen at all, in either mode.
    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(0, found);
    EXPECT_TRUE(oversized.Exists());

    // Followed by a matching value: that one is found, and deleted in removal mode.
    ScratchValue behind(UserRun, "pkh3-long-b", "C:\\PKH3\\A.EXE");
    found = 0;
    EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found));
    EXPECT_EQ(1, found) << "detection mode";
    EXPECT_TRUE(behind.Exists());
    found = 0;
    EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(1, found) << "removal mode";
    EXPECT_FALSE(behind.Exists());
    EXPECT_TRUE(oversized.Exists());
  }
}

TEST(ScanRunKey, LargestValuesThatFitAreExamined) {
  // 1023 name characters plus the terminator, and 1024 data bytes, still fit.
  ScratchValue longName(UserRun, "pkh3-fit-a" + std::string(1023 - 10, 'n'), "C:\\PKH3\\A.EXE");
  ScratchValue longData(UserRun, "pkh3-fit-b", "C:\\PKH3\\A.EXE " + std::string(1023 - 14, 'x'));
  ASSERT_EQ(1023u, std::strlen(longName.Name()));
  int32_t found = 0;
  EXPECT_EQ(1, ScanRunKey(Target, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(1, found);
  EXPECT_FALSE(longName.Exists());
  EXPECT_FALSE(longData.Exists());
}

// When the command line is itself an existing file, its short (8.3) form is searched
// instead of the line as written.
TEST(ScanRunKey, SearchesTheShortFormOfAnExistingFile) {
  ScratchFile file("C:\\PKH3S", "Long File Name Of The Target.exe");
  ASSERT_TRUE(file.Created());
  const std::string longPath = UpperCase(file.Path());
  const std::string shortPath = ShortPathOf(longPath);
  ASSERT_FALSE(shortPath.empty());
  ASSERT_NE(longPath, shortPath);
  ASSERT_LT(shortPath.size(), longPath.size());

  struct Case {
    const char* name;
    std::string target;
    std::string data;
    bool matches;
  };
  const Case cases[] = {
      {"long form in the value, short form as target", shortPath, file.Path(), true},
      {"long form in the value, a word of it as target", "C:\\PKH3S\\LONG", file.Path(), false},
      // The short form names the same file.
      {"short form in the value, long form as target", longPath, shortPath, true},
      {"long form with arguments is no file: plain search", longPath, file.Path() + " /S", true},
      // The unquoted long form with an argument starts the same file.
      {"long form with arguments, short form as target", shortPath, file.Path() + " /S", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchValue value(UserRun, "pkh3-short", c.data);
    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKey(c.target.c_str(), RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(c.matches ? 1 : 0, found);
    EXPECT_EQ(!c.matches, value.Exists());
  }
}

const RegistryKey* const HiveRunKeys[] = {&MachineRun, &UserRun, &DefaultUserRun};
const uint8_t Hives[] = {LocalMachineHive, CurrentUserHive, DefaultUserHive};

TEST(ScanRunKey, EachHiveSelectsItsOwnRunKey) {
  for (size_t h = 0; h < 3; ++h) {
    SCOPED_TRACE(HiveRunKeys[h]->label);
    ScratchValue machine(MachineRun, "pkh3-hive", "C:\\PKH3\\A.EXE");
    ScratchValue user(UserRun, "pkh3-hive", "C:\\PKH3\\A.EXE");
    ScratchValue defaultUser(DefaultUserRun, "pkh3-hive", "C:\\PKH3\\A.EXE");
    ScratchValue* values[] = {&machine, &user, &defaultUser};

    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKey(Target, RunKey, Hives[h], MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(1, found);
    for (size_t v = 0; v < 3; ++v) EXPECT_EQ(v != h, values[v]->Exists()) << HiveRunKeys[v]->label;
  }
}

TEST(ScanRunKey, EachKeySelectorSelectsItsOwnKey) {
  const RegistryKey* keys[] = {&UserRun, &UserRunOnce, &UserRunServices};
  const uint16_t selectors[] = {RunKey, RunOnceKey, RunServicesKey};
  for (size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(keys[k]->label);
    ScratchValue run(UserRun, "pkh3-key", "C:\\PKH3\\A.EXE");
    ScratchValue runOnce(UserRunOnce, "pkh3-key", "C:\\PKH3\\A.EXE");
    ScratchValue runServices(UserRunServices, "pkh3-key", "C:\\PKH3\\A.EXE");
    ScratchValue* values[] = {&run, &runOnce, &runServices};

    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKey(Target, selectors[k], CurrentUserHive, MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(1, found);
    for (size_t v = 0; v < 3; ++v) EXPECT_EQ(v != k, values[v]->Exists()) << keys[v]->label;
  }
}

TEST(CleanRunKeys, RemovesFromTheRunKeyOfAllThreeHives) {
  ScratchValue machine(MachineRun, "pkh3-clean", "\"C:\\PKH3\\A.EXE\"");
  ScratchValue user(UserRun, "pkh3-clean", "C:\\PKH3\\A.EXE -x");
  ScratchValue defaultUser(DefaultUserRun, "pkh3-clean", "C:\\PKH3\\A.EXE");
  ScratchValue unrelated(UserRun, "pkh3-clean-other", "C:\\PKH3\\B.EXE");
  ScratchValue runOnce(MachineRunOnce, "pkh3-clean", "C:\\PKH3\\A.EXE");

  EXPECT_EQ(1, CleanRunKeys("C:\\PKH3\\A.EXE", RunKey, MatchEachValue));
  EXPECT_FALSE(machine.Exists());
  EXPECT_FALSE(user.Exists());
  EXPECT_FALSE(defaultUser.Exists());
  EXPECT_TRUE(unrelated.Exists());
  EXPECT_TRUE(runOnce.Exists());
}

TEST(CleanRunKeys, AlwaysGivesOne) {
  ScratchValue user(UserRun, "pkh3-clean", "C:\\PKH3\\A.EXE");
  EXPECT_EQ(1, CleanRunKeys("C:\\PKH3\\A.EXE", RunKey, WalkWithoutMatching));  // nothing deleted
  EXPECT_TRUE(user.Exists());
  EXPECT_EQ(1, CleanRunKeys("C:\\PKH3\\A.EXE", 13, MatchEachValue));
  EXPECT_EQ(1, CleanRunKeys(nullptr, RunKey, MatchEachValue));
  EXPECT_TRUE(user.Exists());
}

}  // namespace
