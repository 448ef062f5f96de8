// The wide road for files whose names the ANSI code page cannot spell: the Run-key
// scanner on wide data, the impostor rule on a wide path, and the wide file removal,
// against the real registry and files of the test prefix. The module list gives such
// a path with question marks; a value of another folder that reads the same in the
// code page must never be taken for it.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "detect/winlogon_impostor.h"
#include "registry_scratch.h"
#include "remedy/process_control.h"
#include "remedy/run_key_scanner.h"

namespace {

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

// A value written with the wide call, so that its data keep every character.
class WideScratchValue {
 public:
  WideScratchValue(const RegistryKey& key, const char* name, DWORD type, const void* data, DWORD size)
      : key_(key), name_(name) {
    HKEY handle = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key.root, key.path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &handle, nullptr));
    if (handle == nullptr) return;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(handle, Widen(name).c_str(), 0, type,
                                            static_cast<const BYTE*>(data), size));
    (void)RegCloseKey(handle);
  }
  WideScratchValue(const RegistryKey& key, const char* name, const std::wstring& text)
      : WideScratchValue(key, name, REG_SZ, text.c_str(),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) {}
  ~WideScratchValue() { DeleteValue(key_, name_.c_str()); }
  WideScratchValue(const WideScratchValue&) = delete;
  WideScratchValue& operator=(const WideScratchValue&) = delete;
  bool Exists() const { return ValueExists(key_, name_.c_str()); }

 private:
  const RegistryKey& key_;
  std::string name_;
};

const wchar_t Cyrillic[] = L"C:\\PKH3\\\u041F\u0440\u043E\u0433\u0430\\WinLogon.exe";        // Прога
const wchar_t ForeignSameLength[] = L"C:\\PKH3\\\u0414\u0440\u0430\u043C\u0430\\WinLogon.exe";  // Драма
const wchar_t LatinTwin[] = L"C:\\PKH3\\Pr\u00E1ga\\WinLogon.exe";
const wchar_t QuestionMarks[] = L"C:\\PKH3\\?????\\WinLogon.exe";

struct WideDataCase {
  const char* name;
  const wchar_t* target;
  std::wstring data;
  bool matches;
};

// The normalisation and matching rules of the ANSI road, on wide data.
TEST(ScanRunKeyWide, MatchesWideDataByTheSameRules) {
  const std::wstring japanese = L"C:\\PKH3\\\u30C7\u30FC\u30BF\\T.DLL";  // データ
  const WideDataCase cases[] = {
      {"the same path", Cyrillic, Cyrillic, true},
      {"quoted, ASCII case differs, with arguments", Cyrillic,
       L"\"c:\\pkh3\\\u041F\u0440\u043E\u0433\u0430\\WINLOGON.EXE\"  /s", true},
      {"same-length foreign folder", Cyrillic, ForeignSameLength, false},
      {"same-length foreign folder, quoted with arguments", Cyrillic,
       std::wstring(L"\"") + ForeignSameLength + L"\" /s", false},
      {"Latin-1 twin", Cyrillic, LatinTwin, false},
      {"the question marks the code page makes of it", Cyrillic, QuestionMarks, false},
      {"behind the foreign folder's path", Cyrillic, std::wstring(ForeignSameLength) + L" " + Cyrillic,
       true},
      {"only the first occurrence counts", Cyrillic, std::wstring(Cyrillic) + L".BAK " + Cyrillic, false},
      {"behind a host program, then a comma", japanese.c_str(),
       L"RUNDLL32.EXE \"" + japanese + L"\",Start", true},
      {"name that only starts with the target", Cyrillic, std::wstring(Cyrillic) + L"C", false},
      {"trailing backslash", L"C:\\PKH3\\\u041F\u0440\u043E\u0433\u0430",
       L"C:\\PKH3\\\u041F\u0440\u043E\u0433\u0430\\", true},
      {"blanks around", Cyrillic, std::wstring(L" \t ") + Cyrillic + L"  ", true},
      {"shorter data", Cyrillic, L"C:\\PKH3\\WINLOG~1.EXE", false},
  };
  for (const WideDataCase& c : cases) {
    SCOPED_TRACE(c.name);
    WideScratchValue value(UserRun, "pkh3-wide-data", c.data);

    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKeyWide(c.target, RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found));
    EXPECT_EQ(c.matches ? 1 : 0, found) << "detection mode";
    EXPECT_TRUE(value.Exists()) << "detection mode deleted the value";

    found = 0;
    EXPECT_EQ(1, ScanRunKeyWide(c.target, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
    EXPECT_EQ(c.matches ? 1 : 0, found) << "removal mode";
    EXPECT_EQ(!c.matches, value.Exists()) << "removal mode";
  }
}

// Strings of the code page: both roads come to the same verdict.
TEST(ScanRunKeyWide, AgreesWithTheAnsiRoadOnSpeltStrings) {
  struct Case {
    const char* name;
    const char* target;
    const char* data;
  } cases[] = {
      {"quoted with arguments", "c:\\pkh3\\a.exe", "\"C:\\PKH3\\A.EXE\" /S"},
      {"longer name", "c:\\pkh3\\a.exe", "C:\\PKH3\\A.EXEC"},
      {"comma behind a host program", "C:\\PKH3\\A.DLL", "RUNDLL32.EXE C:\\PKH3\\A.DLL,Start"},
      {"first occurrence only", "C:\\PKH3\\A.EXE", "C:\\PKH3\\A.EXE.BAK C:\\PKH3\\A.EXE"},
      {"quoted trailing backslash", "C:\\PKH3\\DIR", "\"C:\\PKH3\\DIR\\\""},
      {"Latin-1 letters", "C:\\PKH3\\CAF\xC9\\A.EXE", "\"C:\\PKH3\\CAF\xC9\\A.EXE\" -x"},
      {"lower-case Latin-1 letter", "C:\\PKH3\\CAF\xC9\\A.EXE", "C:\\PKH3\\caf\xE9\\A.EXE -x"},
      {"expandable string as written", "%SYSTEMROOT%\\PKH3.EXE", "%SystemRoot%\\PKH3.EXE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchValue value(UserRun, "pkh3-wide-agree", c.data);
    wchar_t wideTarget[MAX_PATH] = {};
    ASSERT_NE(0, MultiByteToWideChar(CP_ACP, 0, c.target, -1, wideTarget, MAX_PATH));
    int32_t ansiFound = 0;
    int32_t wideFound = 0;
    EXPECT_EQ(1, ScanRunKey(c.target, RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &ansiFound));
    EXPECT_EQ(1, ScanRunKeyWide(wideTarget, RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &wideFound));
    EXPECT_EQ(ansiFound, wideFound);
  }
}

// Raw data is taken unit by unit: without a terminator its last unit is cut, and an
// odd byte at the end counts as a unit of its own.
TEST(ScanRunKeyWide, RawDataLosesItsLastUnit) {
  const std::wstring path = L"C:\\PKH3\\A.EXE";
  struct Case {
    const char* name;
    std::wstring units;
    DWORD extraBytes;  // of the next unit, beyond the whole ones
    bool matches;
  } cases[] = {
      {"one unit more, cut", path + L"!", 0, true},
      {"no unit more: the last letter is cut", path, 0, false},
      {"an odd byte more, cut as a unit", path, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring units = c.units + L"x";
    const DWORD size = static_cast<DWORD>(c.units.size() * sizeof(wchar_t) + c.extraBytes);
    WideScratchValue value(UserRun, "pkh3-wide-raw", REG_BINARY, units.c_str(), size);
    int32_t found = 0;
    EXPECT_EQ(1, ScanRunKeyWide(path.c_str(), RunKey, CurrentUserHive, MatchEachValue, DetectOnly, &found));
    EXPECT_EQ(c.matches ? 1 : 0, found);
  }
}

// Data the ANSI road can hold whole (up to 1024 bytes in the code page) the wide road
// holds whole too, although it takes twice the bytes; longer data is passed over
// without hiding the values behind it.
TEST(ScanRunKeyWide, HoldsWhatTheAnsiRoadHolds) {
  const std::wstring fits = std::wstring(Cyrillic) + L" " + std::wstring(1023 - 1 - 26, L'x');
  ASSERT_EQ(1023u, fits.size());
  WideScratchValue longData(UserRun, "pkh3-wide-long-a", fits);
  int32_t found = 0;
  EXPECT_EQ(1, ScanRunKeyWide(Cyrillic, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(1, found);
  EXPECT_FALSE(longData.Exists());

  WideScratchValue tooLong(UserRun, "pkh3-wide-long-a", std::wstring(Cyrillic) + L" " + std::wstring(1100, L'x'));
  WideScratchValue behind(UserRun, "pkh3-wide-long-b", Cyrillic);
  found = 0;
  EXPECT_EQ(1, ScanRunKeyWide(Cyrillic, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(1, found);
  EXPECT_TRUE(tooLong.Exists());
  EXPECT_FALSE(behind.Exists());
}

TEST(ScanRunKeyWide, RefusesBadArguments) {
  WideScratchValue value(UserRun, "pkh3-wide-refused", Cyrillic);
  const std::wstring overlong = std::wstring(Cyrillic) + std::wstring(1024, L'X');
  int32_t found = 0;
  EXPECT_EQ(0, ScanRunKeyWide(nullptr, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(0, ScanRunKeyWide(Cyrillic, RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, nullptr));
  EXPECT_EQ(0, ScanRunKeyWide(Cyrillic, 13, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(0, ScanRunKeyWide(Cyrillic, RunKey, 24, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(0, ScanRunKeyWide(overlong.c_str(), RunKey, CurrentUserHive, MatchEachValue, DeleteMatches, &found));
  EXPECT_EQ(0, found);
  EXPECT_TRUE(value.Exists());
}

TEST(CleanRunKeysWide, DeletesTheFilesValuesInAllThreeHivesOnly) {
  WideScratchValue machine(MachineRun, "pkh3-wide-clean", Cyrillic);
  WideScratchValue user(UserRun, "pkh3-wide-clean", std::wstring(L"\"") + Cyrillic + L"\" /s");
  WideScratchValue defaultUser(DefaultUserRun, "pkh3-wide-clean", Cyrillic);
  WideScratchValue foreign(UserRun, "pkh3-wide-foreign", ForeignSameLength);
  WideScratchValue twin(MachineRun, "pkh3-wide-twin", LatinTwin);
  WideScratchValue marks(DefaultUserRun, "pkh3-wide-marks", QuestionMarks);

  EXPECT_EQ(1, CleanRunKeysWide(Cyrillic, RunKey, MatchEachValue));

  EXPECT_FALSE(machine.Exists());
  EXPECT_FALSE(user.Exists());
  EXPECT_FALSE(defaultUser.Exists());
  EXPECT_TRUE(foreign.Exists());
  EXPECT_TRUE(twin.Exists());
  EXPECT_TRUE(marks.Exists());
}

// ---- The impostor rule in wide characters

std::wstring WideSystemDirectory() {
  wchar_t directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(directory) : std::wstring();
}

TEST(IsWinlogonImpostorWide, JudgesPathAndRunKeys) {
  const std::wstring system = WideSystemDirectory();
  ASSERT_FALSE(system.empty());
  const std::wstring folder = L"C:\\PKH3\\\u041F\u0440\u043E\u0433\u0430\\";
  const std::wstring longFolder = folder + std::wstring(140, L'd') + L"\\" + std::wstring(132, L'e') + L"\\";
  ASSERT_EQ(300u, longFolder.size() + 12);
  struct Case {
    const char* name;
    std::wstring path;
    const RegistryKey* runKey;  // where a value that starts the path is put; null for none
    std::wstring data;          // the value's data; empty for the path itself
    bool impostor;
  } cases[] = {
      {"started from the user's Run key", folder + L"WinLogon.exe", &UserRun, L"", true},
      {"started from the machine's Run key", folder + L"winlogon.exe", &MachineRun, L"", true},
      {"NT prefix skipped", L"\\??\\" + folder + L"WinLogon.exe", &UserRun, folder + L"WinLogon.exe",
       true},
      {"only the default user's Run key", folder + L"WinLogon.exe", &DefaultUserRun, L"", false},
      {"only a RunOnce key", folder + L"WinLogon.exe", &UserRunOnce, L"", false},
      {"only a same-length foreign folder's value", folder + L"WinLogon.exe", &UserRun,
       ForeignSameLength, false},
      {"only the question-mark spelling", folder + L"WinLogon.exe", &UserRun, QuestionMarks, false},
      {"name cut at its first dot", folder + L"winlogon.tmp.exe", &UserRun, L"", true},
      {"another name", folder + L"winlogon32.exe", &UserRun, L"", false},
      {"the system directory", system + L"\\winlogon.exe", &UserRun, L"", false},
      {"the system directory, NT prefix", L"\\??\\" + system + L"\\WINLOGON.EXE", &UserRun,
       system + L"\\WINLOGON.EXE", false},
      {"a subdirectory of the system directory", system + L"\\\u30C7\\winlogon.exe", &UserRun, L"",
       true},
      {"long-path prefix skipped", L"\\\\?\\" + folder + L"WinLogon.exe", &UserRun, folder + L"WinLogon.exe",
       true},
      {"the system directory, long-path prefix", L"\\\\?\\" + system + L"\\winlogon.exe", &UserRun,
       system + L"\\winlogon.exe", false},
      // A whole image path beyond what the module list holds.
      {"a path of 300 characters", L"\\\\?\\" + longFolder + L"winlogon.exe", &MachineRun,
       L"\"" + longFolder + L"winlogon.exe\" /s", true},
      {"no backslash", L"winlogon.exe", &UserRun, L"", false},
      {"not started at all", folder + L"WinLogon.exe", nullptr, L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<WideScratchValue> value;
    if (c.runKey != nullptr)
      value.reset(new WideScratchValue(*c.runKey, "pkh3-wide-impostor", c.data.empty() ? c.path : c.data));
    EXPECT_EQ(c.impostor, IsWinlogonImpostorWide(c.path.c_str()));
    if (value) {
      EXPECT_TRUE(value->Exists()) << "the rule changed the registry";
    }
  }
}

TEST(IsWinlogonImpostorWide, NullPathIsNoImpostor) { EXPECT_FALSE(IsWinlogonImpostorWide(nullptr)); }

// ---- Wide file removal

class WideScratchFile {
 public:
  explicit WideScratchFile(const std::wstring& name) : folder_(L"C:\\PKH3-\u30C7\u30FC\u30BF"), path_(folder_ + L"\\" + name) {
    (void)CreateDirectoryW(folder_.c_str(), nullptr);
    const HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    created_ = file != INVALID_HANDLE_VALUE;
    if (created_) (void)CloseHandle(file);
  }
  ~WideScratchFile() {
    (void)SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    (void)DeleteFileW(path_.c_str());
    (void)RemoveDirectoryW(folder_.c_str());
  }
  const std::wstring& Path() const { return path_; }
  bool Created() const { return created_; }
  bool Exists() const { return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

 private:
  std::wstring folder_;
  std::wstring path_;
  bool created_ = false;
};

// The deletions the system is to carry out at the next start, as the wide value holds them.
std::wstring PendingDeletions() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::wstring();
  std::wstring data(32 * 1024, L'\0');
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  const LONG status = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&data[0]), &size);
  (void)RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::wstring();
  data.resize(size / sizeof(wchar_t));
  return data;
}

TEST(RemoveFileWide, ReadOnlyHiddenFileIsDeletedAtOnce) {
  WideScratchFile file(L"\u041F\u0440\u043E\u0433\u0430.exe");
  ASSERT_TRUE(file.Created());
  ASSERT_TRUE(SetFileAttributesW(file.Path().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  RemoveFileWide(file.Path().c_str());
  EXPECT_FALSE(file.Exists());
  EXPECT_EQ(std::wstring::npos, PendingDeletions().find(file.Path()));
}

TEST(RemoveFileWide, FileInUseIsScheduledForTheNextStart) {
  WideScratchFile file(L"\u30C4\u30FC\u30EB.exe");
  ASSERT_TRUE(file.Created());
  // Held without shared deletion, as the loader holds a running program's image.
  const HANDLE held = CreateFileW(file.Path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  RemoveFileWide(file.Path().c_str());
  EXPECT_TRUE(file.Exists());
  EXPECT_NE(std::wstring::npos, PendingDeletions().find(L"\\??\\" + file.Path()));
  (void)CloseHandle(held);
}

}  // namespace
