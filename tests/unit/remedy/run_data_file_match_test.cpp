// Which local paths of a command line the file system is asked about, in which order,
// and when the answer says the line starts the target: one table of spellings run
// with 8-bit units, UTF-16 units and the platform's wide characters. A small table
// stands in for the file system: the files it knows (by volume and index), the
// paths that exist whole (they have a short form), and every path it was asked about.
#include "remedy/run_data_file_match.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "remedy/run_data_match.h"

namespace {

template <typename Unit>
std::basic_string<Unit> Widen(const char* text) {
  std::basic_string<Unit> wide;
  for (const char* p = text; *p != 0; ++p) wide.push_back(static_cast<Unit>(static_cast<unsigned char>(*p)));
  return wide;
}

template <typename Unit>
std::string Narrow(const Unit* text) {
  std::string narrow;
  for (; *text != Unit(0); ++text) narrow.push_back(static_cast<char>(*text));
  return narrow;
}

struct KnownFile {
  const char* path;  // as the normalised command line spells it
  RunDataFileId file;
};

constexpr RunDataFileId Target = {7, 100};

// C:\EVIL is also the drive X:, C:\PROGRA~1\LOGONT~1\WINLOG~1.EXE the short form of
// the long path below; D: is another volume whose file has the target's index.
const KnownFile Files[] = {
    {"C:\\EVIL\\WINLOGON.EXE", Target},
    {"X:\\WINLOGON.EXE", Target},
    {"C:/EVIL/WINLOGON.EXE", Target},
    {"C:\\TMP\\..\\EVIL\\WINLOGON.EXE", Target},
    {"C:\\PROGRA~1\\LOGONT~1\\WINLOG~1.EXE", Target},
    {"C:\\PROGRAM FILES\\LOGON TOOLS\\WINLOGON.SERVICE.EXE", Target},
    {"C:\\EVIL\\WINLOGON.EXE.BAK", {7, 101}},
    {"X:\\WINLOGON32.EXE", {7, 104}},
    {"X:\\OTHER.EXE", {7, 102}},
    {"C:\\TOOLS\\MONITOR.EXE", {7, 103}},
    {"D:\\EVIL\\WINLOGON.EXE", {8, 100}},
};

// Paths that exist as a whole: a file, or a folder whose name holds a comma.
const char* const WholePaths[] = {
    "C:\\PROGRA~1\\LOGONT~1\\WINLOG~1.EXE",
    "X:\\WINLOGON.EXE",
    "C:\\EVIL\\WINLOGON.EXE,X",
};

template <typename Unit>
struct FakeFileSystem {
  std::vector<std::string> asked;
};

template <typename Unit>
bool IdentifyFromTable(const Unit* path, RunDataFileId* file, void* context) {
  static_cast<FakeFileSystem<Unit>*>(context)->asked.push_back(Narrow(path));
  for (const KnownFile& known : Files) {
    if (Widen<Unit>(known.path) != path) continue;
    *file = known.file;
    return true;
  }
  return false;
}

template <typename Unit>
size_t ShortFormOfWholePath(const Unit* path, Unit* out, size_t capacity, void*) {
  for (const char* whole : WholePaths) {
    const std::basic_string<Unit> form = Widen<Unit>(whole);
    if (form != path || form.size() >= capacity) continue;
    std::copy(form.c_str(), form.c_str() + form.size() + 1, out);
    return form.size();
  }
  return 0;
}

template <typename Unit>
RunDataCalls<Unit> FileCalls(FakeFileSystem<Unit>* fileSystem) {
  return {UpperCaseAsciiLetters<Unit>, EqualIgnoringAsciiCase<Unit>, ShortFormOfWholePath<Unit>, fileSystem,
          IdentifyFromTable<Unit>, nullptr, nullptr};
}

constexpr size_t Capacity = 1024;
const char TargetText[] = "C:\\EVIL\\WINLOGON.EXE";

struct SpellingCase {
  const char* name;
  const char* data;    // a string value, normalised before the test
  bool starts;
  const char* probes;  // the paths asked about, in order, separated by '|'
};

const SpellingCase SpellingCases[] = {
    // The text names the target: nothing is asked.
    {"the text itself", "\"C:\\evil\\winlogon.exe\" /s", true, ""},
    {"behind a host program, by its text", "rundll32.exe C:\\evil\\winlogon.exe,Start", true, ""},
    // Other spellings of the same file.
    {"a drive alias", "X:\\winlogon.exe", true, "X:\\WINLOGON.EXE"},
    {"forward slashes", "C:/evil/winlogon.exe", true, "C:/EVIL/WINLOGON.EXE"},
    {"a detour through ..", "C:\\tmp\\..\\evil\\winlogon.exe", true, "C:\\TMP\\..\\EVIL\\WINLOGON.EXE"},
    {"the short form", "C:\\PROGRA~1\\LOGONT~1\\WINLOG~1.EXE", true, "C:\\PROGRA~1\\LOGONT~1\\WINLOG~1.EXE"},
    {"an unquoted path with blanks, probed word by word",
     "C:\\Program Files\\Logon Tools\\winlogon.service.exe", true,
     "C:\\PROGRAM|C:\\PROGRAM FILES\\LOGON|C:\\PROGRAM FILES\\LOGON TOOLS\\WINLOGON.SERVICE.EXE"},
    {"an alias behind a host program, then a comma", "rundll32.exe X:\\winlogon.exe,Start", true,
     "X:\\WINLOGON.EXE"},
    {"an alias quoted behind a start command", "cmd /c start \"\" \"X:\\winlogon.exe\"", true,
     "X:\\WINLOGON.EXE"},
    {"an alias as an option's value", "tool.exe /run=X:\\winlogon.exe", true, "X:\\WINLOGON.EXE"},
    {"an alias, then a tab", "X:\\winlogon.exe\t/s", true, "X:\\WINLOGON.EXE"},
    {"words naming nothing are passed over", "C:\\missing.exe X:\\winlogon.exe", true,
     "C:\\MISSING.EXE|X:\\WINLOGON.EXE"},
    // Near misses.
    {"a longer name", "C:\\evil\\winlogon.exe.bak", false, "C:\\EVIL\\WINLOGON.EXE.BAK"},
    {"another name in the aliased folder", "X:\\winlogon32.exe", false, "X:\\WINLOGON32.EXE"},
    {"another program in the aliased folder", "X:\\other.exe", false, "X:\\OTHER.EXE"},
    {"the first existing file decides", "C:\\tools\\monitor.exe --watch X:\\winlogon.exe", false,
     "C:\\TOOLS\\MONITOR.EXE"},
    {"the target's text only as a later word", "C:\\evil\\winlogon.exe.bak C:\\evil\\winlogon.exe", false,
     "C:\\EVIL\\WINLOGON.EXE.BAK"},
    {"the same index on another volume", "D:\\evil\\winlogon.exe", false, "D:\\EVIL\\WINLOGON.EXE"},
    {"a folder whose name holds a comma is that folder", "C:\\evil\\winlogon.exe,x", false,
     "C:\\EVIL\\WINLOGON.EXE,X"},
    // Paths that are never asked about.
    {"a network path", "\\\\server\\share\\winlogon.exe", false, ""},
    {"a network path with a drive share", "\\\\server\\X:\\winlogon.exe", false, ""},
    {"a device path", "\\\\.\\X:\\winlogon.exe", false, ""},
    {"a path in \\\\?\\ form", "\\\\?\\X:\\winlogon.exe", false, ""},
    {"a device name", "X:\\con", false, ""},
    {"a device name with an extension", "X:\\Com1.exe", false, ""},
    {"a stream of the file", "X:\\winlogon.exe:payload", false, ""},
    {"wildcards", "X:\\winlog*.exe", false, ""},
    {"a drive-relative path", "X:winlogon.exe", false, ""},
    {"a drive letter inside a word", "AX:\\winlogon.exe", false, ""},
    {"empty data", "", false, ""},
};

template <typename Unit>
class RunDataFileRule : public ::testing::Test {};

using CodeUnits = ::testing::Types<char, char16_t, wchar_t>;
TYPED_TEST_SUITE(RunDataFileRule, CodeUnits);

template <typename Unit>
bool Starts(const char* text, FakeFileSystem<Unit>* fileSystem, const RunDataFileId* targetFile) {
  const RunDataCalls<Unit> calls = FileCalls(fileSystem);
  std::vector<Unit> data(Capacity, Unit(0));
  std::vector<Unit> collapse(Capacity);
  std::vector<Unit> scratch(Capacity);
  const std::basic_string<Unit> wide = Widen<Unit>(text);
  std::copy(wide.begin(), wide.end(), data.begin());
  NormaliseRunData(data.data(), Capacity, wide.size() + 1, collapse.data(), calls);
  const std::basic_string<Unit> target = Widen<Unit>(TargetText);
  return RunDataStartsTarget(data.data(), target.c_str(), targetFile, scratch.data(), Capacity, calls);
}

TYPED_TEST(RunDataFileRule, Spellings) {
  using Unit = TypeParam;
  for (const SpellingCase& c : SpellingCases) {
    SCOPED_TRACE(c.name);
    FakeFileSystem<Unit> fileSystem;
    EXPECT_EQ(c.starts, Starts<Unit>(c.data, &fileSystem, &Target));
    std::string asked;
    for (const std::string& path : fileSystem.asked) asked += (asked.empty() ? "" : "|") + path;
    EXPECT_EQ(c.probes, asked);
  }
}

// Without the target's identity (the file could not be asked about) only the text
// counts.
TYPED_TEST(RunDataFileRule, WithoutTheTargetsIdentityOnlyTheTextCounts) {
  using Unit = TypeParam;
  FakeFileSystem<Unit> fileSystem;
  EXPECT_FALSE(Starts<Unit>("X:\\winlogon.exe", &fileSystem, nullptr));
  EXPECT_TRUE(Starts<Unit>("C:\\evil\\winlogon.exe", &fileSystem, nullptr));
  EXPECT_TRUE(fileSystem.asked.empty());
}

// A value made of many path-like words costs a bounded number of questions; the
// target behind them is then not reached.
TYPED_TEST(RunDataFileRule, QuestionsPerValueAreBounded) {
  using Unit = TypeParam;
  // One beginning with many blanks behind it: each word adds a path to ask about.
  const auto line = [](int words) {
    std::string text = "C:\\A";
    for (int i = 0; i < words; ++i) text += " B";
    return text + " X:\\winlogon.exe";
  };
  FakeFileSystem<Unit> tooMany;
  EXPECT_FALSE(Starts<Unit>(line(70).c_str(), &tooMany, &Target));
  EXPECT_EQ(RunDataFileProbeLimit, tooMany.asked.size());

  FakeFileSystem<Unit> enough;
  EXPECT_TRUE(Starts<Unit>(line(50).c_str(), &enough, &Target));
  EXPECT_EQ(52u, enough.asked.size());
}

// --- Expandable strings ----------------------------------------------------------------

template <typename Unit>
size_t ExpandFromTable(const Unit* text, Unit* out, size_t capacity, void*) {
  // As the system does it: known variables replaced, others left as written; the
  // count includes the terminator.
  std::basic_string<Unit> result = text;
  const std::basic_string<Unit> name = Widen<Unit>("%APPDATA%");
  const std::basic_string<Unit> value = Widen<Unit>("C:\\Users\\u\\AppData\\Roaming");
  for (size_t at = result.find(name); at != std::basic_string<Unit>::npos; at = result.find(name))
    result.replace(at, name.size(), value);
  if (result.size() + 1 > capacity) return result.size() + 1;
  std::copy(result.c_str(), result.c_str() + result.size() + 1, out);
  return result.size() + 1;
}

TYPED_TEST(RunDataFileRule, ExpandableStrings) {
  using Unit = TypeParam;
  struct Case {
    const char* name;
    const char* data;
    size_t capacity;
    bool withCall;
    const char* expected;  // normalised
  } cases[] = {
      {"a known variable", "%APPDATA%\\winlogon.exe", 64, true, "C:\\USERS\\U\\APPDATA\\ROAMING\\WINLOGON.EXE"},
      {"an unknown variable stays", "%NOSUCH%\\a.exe -x", 64, true, "%NOSUCH%\\A.EXE -X"},
      {"an expansion that does not fit: the text as it was", "%APPDATA%\\%APPDATA%", 40, true,
       "%APPDATA%\\%APPDATA%"},
      {"nothing to expand with", "%APPDATA%\\winlogon.exe", 64, false, "%APPDATA%\\WINLOGON.EXE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunDataCalls<Unit> calls = {UpperCaseAsciiLetters<Unit>, EqualIgnoringAsciiCase<Unit>, nullptr, nullptr,
                                nullptr, c.withCall ? ExpandFromTable<Unit> : nullptr, nullptr};
    std::vector<Unit> data(c.capacity, Unit('Z'));
    std::vector<Unit> scratch(c.capacity, Unit('Z'));
    const std::basic_string<Unit> wide = Widen<Unit>(c.data);
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, data.begin());
    const size_t units = ExpandRunData(data.data(), c.capacity, wide.size() + 1, scratch.data(), calls);
    NormaliseRunData(data.data(), c.capacity, units, scratch.data(), calls);
    EXPECT_EQ(Widen<Unit>(c.expected), std::basic_string<Unit>(data.data()));
  }
}

}  // namespace
