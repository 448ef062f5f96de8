// The image debugger cleaner against the real Image File Execution Options key of the
// test prefix. Entries made here are named pkh3-*; Debugger values found under other
// entries are put back after each test.
#include "remedy/image_debugger_cleaner.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "registry_scratch.h"

namespace {

const char SampleEntry[] = "Your Image File Name Here without a path";

struct SavedDebugger {
  std::string entry;
  DWORD type;
  std::vector<BYTE> data;
};

class RemoveImageDebuggersTest : public ::testing::Test {
 protected:
  void SetUp() override { SaveForeignDebuggers(); }

  void TearDown() override {
    for (const Subkey& entry : made_) DeleteSubkey(entry);
    for (const SavedDebugger& saved : saved_) {
      Subkey entry(ImageOptions, saved.entry);
      (void)SetValue(entry.Key(), "Debugger", saved.type, saved.data.data(),
                     static_cast<DWORD>(saved.data.size()));
    }
  }

  // Makes a program entry with the given values (name, text); a null text makes a
  // number instead, of the value 1.
  const Subkey& MakeEntry(const std::string& name,
                          const std::vector<std::pair<const char*, const char*>>& values) {
    made_.emplace_back(ImageOptions, name);
    const Subkey& entry = made_.back();
    for (const auto& value : values) {
      if (value.second == nullptr)
        EXPECT_TRUE(SetNumber(entry.Key(), value.first, 1));
      else
        EXPECT_TRUE(SetString(entry.Key(), value.first, value.second));
    }
    return entry;
  }

 private:
  void SaveForeignDebuggers() {
    HKEY options = nullptr;
    if (RegOpenKeyExA(ImageOptions.root, ImageOptions.path, 0, KEY_READ, &options) != ERROR_SUCCESS)
      return;
    char name[256];
    for (DWORD index = 0;; ++index) {
      DWORD nameSize = sizeof(name);
      if (RegEnumKeyExA(options, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      HKEY entry = nullptr;
      if (RegOpenKeyExA(options, name, 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
      SavedDebugger saved{name, 0, std::vector<BYTE>(65536)};
      DWORD size = static_cast<DWORD>(saved.data.size());
      if (RegQueryValueExA(entry, "Debugger", nullptr, &saved.type, saved.data.data(), &size) ==
          ERROR_SUCCESS) {
        saved.data.resize(size);
        saved_.push_back(saved);
      }
      (void)RegCloseKey(entry);
    }
    (void)RegCloseKey(options);
  }

  std::vector<SavedDebugger> saved_;
  std::deque<Subkey> made_;  // a deque, so that references to its entries stay valid
};

TEST_F(RemoveImageDebuggersTest, ClearsEveryDebuggerValueAndKeepsTheRest) {
  const Subkey& infected = MakeEntry(
      "pkh3-taskmgr.exe", {{"Debugger", "C:\\PKH3\\winlogon.exe"}, {"GlobalFlag", nullptr}});
  const Subkey& unrelated =
      MakeEntry("pkh3-app.exe", {{"Debugger", "C:\\Tools\\dbg.exe -g"}, {"Other", "kept"}});
  const Subkey& plain = MakeEntry("pkh3-plain.exe", {{"Other", "kept"}, {"Debuggers", "kept"}});

  EXPECT_EQ(1, RemoveImageDebuggers("C:\\PKH3\\winlogon.exe"));

  EXPECT_FALSE(ValueExists(infected.Key(), "Debugger"));
  EXPECT_TRUE(ValueExists(infected.Key(), "GlobalFlag"));
  EXPECT_FALSE(ValueExists(unrelated.Key(), "Debugger"));
  EXPECT_EQ("kept", ReadString(unrelated.Key(), "Other"));
  EXPECT_EQ("kept", ReadString(plain.Key(), "Other"));
  EXPECT_EQ("kept", ReadString(plain.Key(), "Debuggers"));
  EXPECT_TRUE(SubkeyExists(infected));
  EXPECT_TRUE(SubkeyExists(unrelated));
  EXPECT_TRUE(SubkeyExists(plain));
}

TEST_F(RemoveImageDebuggersTest, ClearsDebuggerValuesOfAnyTypeAndSize) {
  struct Case {
    const char* name;
    DWORD type;
    std::string data;
  };
  const DWORD number = 7;
  const Case cases[] = {
      {"number", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof(number))},
      {"empty string", REG_SZ, std::string(1, '\0')},
      {"no data at all", REG_BINARY, std::string()},
      {"expandable string", REG_EXPAND_SZ, std::string("%SystemRoot%\\dbg.exe") + '\0'},
      {"1024 bytes", REG_SZ, std::string(1023, 'd') + '\0'},
      // Too long for the cleaner's buffer; still a Debugger value, and still removed.
      {"1100 bytes", REG_SZ, std::string(1099, 'd') + '\0'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Subkey& entry = MakeEntry(std::string("pkh3-type-") + c.name, {{"Other", "kept"}});
    ASSERT_TRUE(SetValue(entry.Key(), "Debugger", c.type, c.data.data(),
                         static_cast<DWORD>(c.data.size())));
    EXPECT_EQ(1, RemoveImageDebuggers("C:\\PKH3\\winlogon.exe"));
    EXPECT_FALSE(ValueExists(entry.Key(), "Debugger"));
    EXPECT_TRUE(ValueExists(entry.Key(), "Other"));
  }
}

TEST_F(RemoveImageDebuggersTest, LeavesTheSampleEntryAloneInAnyCase) {
  struct Case {
    const char* name;
    bool kept;
  };
  const Case cases[] = {
      {SampleEntry, true},
      {"YOUR IMAGE FILE NAME HERE WITHOUT A PATH", true},
      {"your image file name here without a path", true},
      {"Your Image File Name Here without a path.exe", false},
      {"Your Image File Name Here", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Key names ignore case, so an existing sample entry is the one these spellings name.
    Subkey entry(ImageOptions, c.name);
    bool existed = SubkeyExists(entry);
    std::string before = ReadString(entry.Key(), "Debugger");
    ASSERT_TRUE(SetString(entry.Key(), "Debugger", "C:\\PKH3\\sample-debugger.exe"));

    EXPECT_EQ(1, RemoveImageDebuggers("C:\\PKH3\\winlogon.exe"));
    EXPECT_EQ(c.kept, ValueExists(entry.Key(), "Debugger"));

    if (!existed)
      DeleteSubkey(entry);
    else if (!before.empty())
      (void)SetString(entry.Key(), "Debugger", before);
    else
      DeleteValue(entry.Key(), "Debugger");
  }
}

// Entries named with characters the ANSI code page may not spell: the ANSI calls see
// question marks in their place, which open no entry.
TEST_F(RemoveImageDebuggersTest, ClearsEntriesOfAnyName) {
  const std::wstring options = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";
  const wchar_t* const names[] = {L"pkh3-\u0442\u0435\u0441\u0442.exe", L"pkh3-\u30c7\u30fc\u30bf.exe",
                                  L"pkh3-Pr\u00fcfung.exe", L"pkh3-\u0141\u00f3d\u017a.exe"};
  const wchar_t debugger[] = L"C:\\PKH3\\dbg.exe";
  const DWORD flag = 2;
  for (const wchar_t* name : names) {
    HKEY entry = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (options + name).c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &entry, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(entry, L"Debugger", 0, REG_SZ, reinterpret_cast<const BYTE*>(debugger),
                                            sizeof(debugger)));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(entry, L"GlobalFlag", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&flag), sizeof(flag)));
    (void)RegCloseKey(entry);
  }

  EXPECT_EQ(1, RemoveImageDebuggers("C:\\PKH3\\winlogon.exe"));

  for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
    SCOPED_TRACE(i);
    const wchar_t* name = names[i];
    HKEY entry = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, (options + name).c_str(), 0, KEY_ALL_ACCESS, &entry));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(entry, L"Debugger", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(entry, L"GlobalFlag", nullptr, nullptr, nullptr, nullptr));
    (void)RegDeleteValueW(entry, L"GlobalFlag");
    (void)RegCloseKey(entry);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, (options + name).c_str()));
  }
}

TEST_F(RemoveImageDebuggersTest, NullPathTouchesNothing) {
  const Subkey& entry = MakeEntry("pkh3-null.exe", {{"Debugger", "C:\\Tools\\dbg.exe"}});
  EXPECT_EQ(0, RemoveImageDebuggers(nullptr));
  EXPECT_EQ("C:\\Tools\\dbg.exe", ReadString(entry.Key(), "Debugger"));
}

TEST_F(RemoveImageDebuggersTest, AnyPathLeadsToTheSameCleanUp) {
  // The path is not compared with anything: an empty one cleans as well.
  const Subkey& entry = MakeEntry("pkh3-any.exe", {{"Debugger", "C:\\Tools\\dbg.exe"}});
  EXPECT_EQ(1, RemoveImageDebuggers(""));
  EXPECT_FALSE(ValueExists(entry.Key(), "Debugger"));
}

}  // namespace
