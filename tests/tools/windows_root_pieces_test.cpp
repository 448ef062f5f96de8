// The pieces of the mounted-volume scan that the end-to-end test cannot single out:
// case mapping and UTF-8, the base block state, the code units handed to the Run
// data rules, paths and short forms on the volume, the command line, SHA-256.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/pestkill-scan/registry_rule/hive_file.h"
#include "tools/pestkill-scan/registry_rule/offline_impostor.h"
#include "tools/pestkill-scan/registry_rule/offline_run_data.h"
#include "tools/pestkill-scan/sources/mounted_volume/sha256.h"
#include "tools/pestkill-scan/registry_rule/utf16_text.h"
#include "tools/pestkill-scan/registry_rule/volume_environment.h"
#include "tools/pestkill-scan/sources/mounted_volume/volume_path.h"
#include "tools/pestkill-scan/sources/mounted_volume/windows_root_options.h"

namespace {

// A directory tree in the temporary directory, removed again at the end.
class TempTree {
 public:
  TempTree() {
    char pattern[] = "/tmp/pestkill-volume-XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~TempTree() { (void)std::system(("rm -rf '" + root_ + "'").c_str()); }
  const std::string& root() const { return root_; }
  void Directory(const std::string& relative) const { ASSERT_EQ(mkdir((root_ + "/" + relative).c_str(), 0700), 0); }
  void File(const std::string& relative, const std::string& bytes) const {
    std::ofstream out(root_ + "/" + relative, std::ios::binary);
    out << bytes;
  }

 private:
  std::string root_;
};

TEST(WindowsRootCase, UpperCasesTheLettersOfCommonScriptsOneToOne) {
  struct Case {
    char16_t unit, upper;
  } const cases[] = {
      {u'a', u'A'}, {u'z', u'Z'}, {u'A', u'A'}, {u'0', u'0'}, {u'\\', u'\\'}, {u'~', u'~'},
      {u'\u00E9', u'\u00C9'},  // é
      {u'\u00F7', u'\u00F7'},  // the division sign is no letter
      {u'\u00FF', u'\u0178'},  // ÿ
      {u'\u00DF', u'\u00DF'},  // ß has no one-unit capital
      {u'\u0101', u'\u0100'}, {u'\u0142', u'\u0141'}, {u'\u0148', u'\u0147'}, {u'\u017E', u'\u017D'},
      {u'\u0138', u'\u0138'},  // ĸ has no capital
      {u'\u03B1', u'\u0391'}, {u'\u03C2', u'\u03A3'},  // final sigma
      {u'\u0430', u'\u0410'}, {u'\u044F', u'\u042F'}, {u'\u0451', u'\u0401'},
      {u'\u30C7', u'\u30C7'},  // デ
  };
  for (const Case& c : cases) EXPECT_EQ(UpperUnit(c.unit), c.upper) << std::hex << static_cast<int>(c.unit);
  EXPECT_TRUE(EqualIgnoringCase16(u"c:\\\u043F\u0440\u043E\u0433\u0430", u"C:\\\u041F\u0420\u041E\u0413\u0410"));
  EXPECT_FALSE(EqualIgnoringCase16(u"C:\\A", u"C:\\AB"));
}

TEST(WindowsRootCase, TakesOnlyWellFormedUtf8) {
  struct Case {
    const char* name;
    std::string bytes;
    bool ok;
    std::u16string text;
  } const cases[] = {
      {"ascii", "C:\\Temp", true, u"C:\\Temp"},
      {"two bytes", "caf\xC3\xA9", true, u"caf\u00E9"},
      {"three bytes", "\xE3\x83\x87", true, u"\u30C7"},
      {"four bytes", "\xF0\x9F\x98\x80", true, u"\U0001F600"},
      {"overlong", "\xC0\xAF", false, u""},
      {"surrogate", "\xED\xA0\x80", false, u""},
      {"cut short", "ab\xE3\x83", false, u""},
      {"latin-1 byte", "caf\xE9", false, u""},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false, u""},
  };
  for (const Case& c : cases) {
    std::u16string text;
    EXPECT_EQ(Utf8ToUtf16(c.bytes, &text), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(text, c.text) << c.name;
      EXPECT_EQ(Utf16ToUtf8(text), c.bytes) << c.name;
    }
  }
  EXPECT_EQ(Utf16ToUtf8(u"a\xD800z"), "a\xEF\xBF\xBDz");  // an unpaired surrogate
}

TEST(WindowsRootHive, ReadsTheBaseBlockSequenceNumbers) {
  struct Case {
    const char* name;
    std::string bytes;
    bool read, dirty;
  } const cases[] = {
      {"clean", std::string("regf\x05\0\0\0\x05\0\0\0", 12) + std::string(500, '\0'), true, false},
      {"dirty", std::string("regf\x37\x02\0\0\x36\x02\0\0", 12), true, true},
      {"high bytes", std::string("regf\0\0\0\x01\0\0\0\x02", 12), true, true},
      {"not a hive", std::string("fger\x05\0\0\0\x04\0\0\0", 12), false, false},
      {"too short", std::string("regf\x05\0\0\0\x04\0\0", 11), false, false},
      {"empty", std::string(), false, false},
  };
  TempTree tree;
  for (const Case& c : cases) {
    tree.File(c.name, c.bytes);
    BaseBlockState state = ReadBaseBlockState(tree.root() + "/" + c.name);
    EXPECT_EQ(state.read, c.read) << c.name;
    EXPECT_EQ(state.Dirty(), c.dirty) << c.name;
  }
  BaseBlockState dirty = ReadBaseBlockState(tree.root() + "/dirty");
  EXPECT_EQ(dirty.sequence1, 567u);
  EXPECT_EQ(dirty.sequence2, 566u);
  EXPECT_FALSE(ReadBaseBlockState(tree.root() + "/missing").read);
}

HiveValue Value(const std::string& name, hive_type type, const std::vector<uint8_t>& data) {
  HiveValue value;
  value.name = name;
  value.type = type;
  value.data = data;
  return value;
}

std::vector<uint8_t> Utf16Le(const std::u16string& text, bool terminated = true) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

TEST(WindowsRootRunData, HandsOverTheUnitsTheLiveEnumerationWould) {
  std::u16string units;
  ASSERT_TRUE(RunDataUnits(Value("a", hive_t_string, Utf16Le(u"C:\\X")), &units));
  EXPECT_EQ(units, std::u16string(u"C:\\X\0", 5));
  ASSERT_TRUE(RunDataUnits(Value("a", hive_t_expand_string, {'C', 0, ':'}), &units));
  EXPECT_EQ(units, u"C");  // an odd last byte is no unit
  // Any other type: its bytes as 8-bit text, one unit each.
  ASSERT_TRUE(RunDataUnits(Value("a", hive_t_dword, {'C', ':', 0x80, 0}), &units));
  EXPECT_EQ(units, std::u16string(u"C:\u0080\0", 4));

  // Names and data that the live walk's buffers do not hold are passed over there.
  EXPECT_TRUE(RunDataUnits(Value(std::string(1023, 'n'), hive_t_string, {}), &units));
  EXPECT_FALSE(RunDataUnits(Value(std::string(1024, 'n'), hive_t_string, {}), &units));
  EXPECT_TRUE(RunDataUnits(Value("a", hive_t_string, Utf16Le(std::u16string(1024, u'x'), false)), &units));
  EXPECT_FALSE(RunDataUnits(Value("a", hive_t_string, Utf16Le(std::u16string(1024, u'x'))), &units));
  EXPECT_FALSE(RunDataUnits(Value("caf\xE9", hive_t_string, {}), &units));
}

std::string NoDosNames(const std::string&) { return std::string(); }

// The offline rule folds case exactly as the live one: a-z only. The volume's own
// name lookup ignores the case of more letters; the rule never does.
TEST(WindowsRootImpostor, FoldsCaseAsTheLiveRuleDoes) {
  struct Case {
    const char* name;
    std::u16string path;
    std::u16string runData;
    bool impostor;
  };
  const Case cases[] = {
      {"a-z ignoring case", u"C:\\Tools\\WinLogon.exe", u"c:\\tools\\WINLOGON.EXE", true},
      {"Cyrillic spelled alike", u"C:\\\u041F\u0440\u043E\u0433\u0430\\WinLogon.exe",
       u"C:\\\u041F\u0440\u043E\u0433\u0430\\winlogon.exe", true},
      {"Cyrillic in another case", u"C:\\\u041F\u0440\u043E\u0433\u0430\\WinLogon.exe",
       u"C:\\\u043F\u0440\u043E\u0433\u0430\\winlogon.exe", false},
      {"Latin-1 in another case", u"C:\\Caf\u00E9\\WinLogon.exe", u"C:\\CAF\u00C9\\winlogon.exe", false},
      {"the system directory in another case", u"C:\\WINDOWS\\system32\\winlogon.exe",
       u"C:\\Windows\\System32\\winlogon.exe", false},
  };
  VolumeShortForms noVolume;  // no file of these paths exists, so none has a short form
  noVolume.root = "/nonexistent-volume";
  noVolume.lookUp = NoDosNames;
  const RunDataCalls<char16_t> calls = MountedVolumeRunDataCalls(&noVolume);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VolumeRegistry registry;
    registry.systemDirectory = u"C:\\Windows\\System32";
    VolumeHive machine;
    machine.role = HiveRole::Machine;
    machine.readable = true;
    // Stored with its terminator, as a string value is.
    machine.runValues.push_back({"Run", "start", NormalisedRunData(c.runData + u'\0', calls)});
    registry.hives.push_back(machine);
    std::u16string upperTarget;
    EXPECT_EQ(IsOfflineWinlogonImpostor(registry, c.path, calls, &upperTarget), c.impostor);
  }
}

// What ntfs-3g would show for the long names of the tree below.
std::string TreeDosNames(const std::string& hostPath) {
  if (hostPath.size() >= 13 && hostPath.compare(hostPath.size() - 13, 13, "Program Files") == 0) return "PROGRA~1";
  if (hostPath.size() >= 16 && hostPath.compare(hostPath.size() - 16, 16, "long tool v2.exe") == 0) return "LONGTO~1.EXE";
  return std::string();
}

TEST(WindowsRootVolume, ResolvesNamesIgnoringCaseAndGivesShortForms) {
  TempTree tree;
  tree.Directory("Program Files");
  tree.Directory("Program Files/Tool");
  tree.File("Program Files/Tool/long tool v2.exe", "MZ");
  tree.File("Program Files/Tool/a.exe", "MZ");
  ASSERT_EQ(symlink("/", (tree.root() + "/Link").c_str()), 0);

  VolumeShortForms volume;
  volume.root = tree.root();
  volume.lookUp = TreeDosNames;
  struct Case {
    const char16_t* path;
    const char16_t* shortForm;  // null: no short form
  } const cases[] = {
      {u"C:\\PROGRAM FILES\\TOOL\\LONG TOOL V2.EXE", u"C:\\PROGRA~1\\TOOL\\LONGTO~1.EXE"},
      {u"c:\\program files\\tool\\a.exe", u"c:\\PROGRA~1\\tool\\a.exe"},
      {u"C:/PROGRAM FILES//TOOL", u"C:\\PROGRA~1\\TOOL"},
      {u"C:\\PROGRAM FILES\\TOOL\\A.EXE /S", nullptr},  // a command line, no path
      {u"C:\\PROGRAM FILES\\TOOL\\..\\TOOL\\A.EXE", nullptr},
      {u"D:\\PROGRAM FILES\\TOOL\\A.EXE", nullptr},  // only C: is this volume
      {u"\\\\SERVER\\SHARE\\A.EXE", nullptr},
      {u"C:\\LINK\\ETC", nullptr},  // links on the volume are not followed
      {u"C:\\PROGRAM FILES\\TOOL\\A.EXE\\X", nullptr},
  };
  for (const Case& c : cases) {
    char16_t out[64];
    size_t length = ShortFormOnVolume(c.path, out, 64, &volume);
    if (c.shortForm == nullptr) {
      EXPECT_EQ(length, 0u) << Utf16ToUtf8(c.path);
    } else {
      ASSERT_EQ(length, std::u16string(c.shortForm).size()) << Utf16ToUtf8(c.path);
      EXPECT_EQ(std::u16string(out), c.shortForm);
    }
  }
  char16_t small[8];
  EXPECT_GE(ShortFormOnVolume(u"C:\\PROGRAM FILES\\TOOL\\A.EXE", small, 8, &volume), 8u);

  // Without DOS names on the mount, the short form is the path as written.
  volume.lookUp = NoDosNames;
  char16_t out[64];
  ASSERT_GT(ShortFormOnVolume(u"C:\\PROGRAM FILES\\TOOL\\A.EXE", out, 64, &volume), 0u);
  EXPECT_EQ(std::u16string(out), u"C:\\PROGRAM FILES\\TOOL\\A.EXE");
}

// A Run value's data as the hive holds it (terminated), and whether it starts the
// target on the volume.
struct StartingRunData {
  const char16_t* data;
  bool starts;
};

template <size_t Count>
void ExpectStartingRunData(const StartingRunData (&cases)[Count], const std::u16string& target,
                           const RunDataCalls<char16_t>& calls) {
  for (const StartingRunData& c : cases) {
    const std::u16string data = std::u16string(c.data) + u'\0';
    EXPECT_EQ(RunDataStarts(NormalisedRunData(data, calls), target, calls), c.starts) << Utf16ToUtf8(c.data);
  }
}

TEST(WindowsRootVolume, MatchesRunDataThroughTheVolumesShortForms) {
  TempTree tree;
  tree.Directory("Program Files");
  tree.File("Program Files/long tool v2.exe", "MZ");
  tree.File("Program Files/long tool v2.exe,x", "MZ");
  VolumeShortForms volume;
  volume.root = tree.root();
  volume.lookUp = TreeDosNames;
  const RunDataCalls<char16_t> calls = MountedVolumeRunDataCalls(&volume);
  const std::u16string target = u"C:\\PROGRAM FILES\\LONG TOOL V2.EXE";
  const StartingRunData cases[] = {
      {u"\"C:\\Program Files\\long tool v2.exe\" /s", true},
      {u"c:\\program files\\long tool v2.exe", true},
      // An existing path: only its short form is searched, and the target's long form
      // is not in it.
      {u"C:\\Program Files\\long tool v2.exe,x", false},
      {u"rundll32 C:\\Program Files\\long tool v2.exe,Start", true},
      // Shorter than the target, but the volume's DOS names make it the same file.
      {u"C:\\PROGRA~1\\LONGTO~1.EXE", true},
      {u"C:\\Program Files\\long tool v2.exe.bak", false},
  };
  ExpectStartingRunData(cases, target, calls);
}

// The volume's file behind a Run value, however the value spells its path: the
// same device and inode, found through "/", "." and "..", the DOS names the mount
// gives, and hard links; symbolic links are not followed, other drives not known.
TEST(WindowsRootVolume, NamesTheSameFileHoweverSpelt) {
  TempTree tree;
  tree.Directory("Program Files");
  tree.Directory("Windows");
  tree.File("Program Files/long tool v2.exe", "MZ");
  tree.File("Program Files/other.exe", "MZ");
  ASSERT_EQ(link((tree.root() + "/Program Files/long tool v2.exe").c_str(),
                 (tree.root() + "/Program Files/hard.exe").c_str()), 0);
  ASSERT_EQ(symlink("long tool v2.exe", (tree.root() + "/Program Files/link.exe").c_str()), 0);
  VolumeShortForms volume;
  volume.root = tree.root();
  volume.lookUp = TreeDosNames;
  const RunDataCalls<char16_t> calls = MountedVolumeRunDataCalls(&volume);
  const std::u16string target = u"C:\\PROGRAM FILES\\LONG TOOL V2.EXE";
  const StartingRunData cases[] = {
      {u"C:/Program Files/long tool v2.exe", true},
      {u"C:\\Windows\\..\\Program Files\\long tool v2.exe", true},
      {u"\"C:\\.\\Program Files\\.\\long tool v2.exe\" /s", true},
      {u"C:\\..\\..\\Program Files\\long tool v2.exe", true},  // ".." at the root stays there
      {u"C:\\PROGRA~1\\LONGTO~1.EXE -x", true},
      {u"c:\\progra~1\\longto~1.exe", true},
      {u"rundll32.exe C:/PROGRA~1/LONGTO~1.EXE,Start", true},
      {u"C:\\Program Files\\hard.exe", true},
      {u"C:\\Program Files\\link.exe", false},
      {u"C:\\Program Files\\other.exe C:/Program Files/long tool v2.exe", false},
      {u"C:\\Windows\\..\\Program Files\\long tool v2.exe.bak", false},
      {u"D:\\Program Files\\long tool v2.exe", false},
      {u"\\\\server\\c$\\Program Files\\long tool v2.exe", false},
      {u"C:\\PROGRA~2\\LONGTO~1.EXE", false},
  };
  ExpectStartingRunData(cases, target, calls);
  RunDataFileId file;
  EXPECT_FALSE(IdentifyFileOnVolume(u"C:\\Windows", &file, &volume));  // a folder
  EXPECT_FALSE(IdentifyFileOnVolume(u"C:\\", &file, &volume));
  EXPECT_FALSE(IdentifyFileOnVolume(u"C:\\Program Files\\long tool v2.exe\\x", &file, &volume));
}

// Expandable values are expanded with what the volume tells: the system's folders
// for every hive, a user's own profile folders in that user's hive.
TEST(WindowsRootEnvironment, ExpandsWhatTheVolumeTells) {
  VolumeEnvironment machine;
  AddSystemVariables(u"C:\\WINDOWS", u"C:\\Program Files", u"C:\\Program Files (x86)", u"", u"", &machine);
  VolumeEnvironment alice = machine;
  AddProfileVariables(u"C:\\Users\\alice", false, &alice);
  VolumeEnvironment dave = machine;
  AddProfileVariables(u"C:\\Documents and Settings\\dave", true, &dave);
  struct Case {
    const VolumeEnvironment* environment;
    const char16_t* text;
    const char16_t* expanded;
  } const cases[] = {
      {&machine, u"%SystemRoot%\\x.exe", u"C:\\WINDOWS\\x.exe"},
      {&machine, u"%windir%\\x.exe %SYSTEMDRIVE%", u"C:\\WINDOWS\\x.exe C:"},
      {&machine, u"%ProgramFiles(x86)%\\t.exe", u"C:\\Program Files (x86)\\t.exe"},
      {&machine, u"%CommonProgramFiles%\\t.exe", u"%CommonProgramFiles%\\t.exe"},  // SOFTWARE did not say
      {&machine, u"%APPDATA%\\w.exe", u"%APPDATA%\\w.exe"},  // nobody's profile
      {&alice, u"%appdata%\\w.exe", u"C:\\Users\\alice\\AppData\\Roaming\\w.exe"},
      {&alice, u"%LOCALAPPDATA%|%TEMP%|%USERPROFILE%",
       u"C:\\Users\\alice\\AppData\\Local|C:\\Users\\alice\\AppData\\Local\\Temp|C:\\Users\\alice"},
      {&dave, u"%APPDATA%|%TEMP%",
       u"C:\\Documents and Settings\\dave\\Application Data|C:\\Documents and Settings\\dave\\Local Settings\\Temp"},
      {&alice, u"%NOSUCH%\\a %TEMP%", u"%NOSUCH%\\a C:\\Users\\alice\\AppData\\Local\\Temp"},
      {&alice, u"50% off %TEMP%", u"50% off C:\\Users\\alice\\AppData\\Local\\Temp"},
      {&alice, u"%%|100%|%", u"%%|100%|%"},
  };
  for (const Case& c : cases) {
    char16_t out[128];
    const size_t written = ExpandWithVolumeEnvironment(c.text, out, 128, const_cast<VolumeEnvironment*>(c.environment));
    ASSERT_EQ(written, std::u16string(c.expanded).size() + 1) << Utf16ToUtf8(c.text);
    EXPECT_EQ(std::u16string(out), c.expanded) << Utf16ToUtf8(c.text);
  }
  char16_t small[8];
  EXPECT_GT(ExpandWithVolumeEnvironment(u"%APPDATA%", small, 8, &alice), 8u);
  EXPECT_EQ(ExpandWithVolumeEnvironment(u"%APPDATA%", small, 8, nullptr), 0u);
}

TEST(WindowsRootVolume, GivesTheWindowsPathOfAFileBelowTheRoot) {
  std::u16string path;
  ASSERT_TRUE(WindowsPathOf("/mnt/c", "/mnt/c/Users/alice/winlogon.exe", &path));
  EXPECT_EQ(path, u"C:\\Users\\alice\\winlogon.exe");
  ASSERT_TRUE(WindowsPathOf("/mnt/c//", "/mnt/c/caf\xC3\xA9", &path));
  EXPECT_EQ(path, u"C:\\caf\u00E9");
  EXPECT_FALSE(WindowsPathOf("/mnt/c", "/mnt/cd/x.exe", &path));
  EXPECT_FALSE(WindowsPathOf("/mnt/c", "/mnt/c/a\\b.exe", &path));
  EXPECT_FALSE(WindowsPathOf("/mnt/c", "/mnt/c/caf\xE9", &path));
}

struct OptionsCase {
  const char* name;
  std::vector<const char*> arguments;  // after the program name
  bool ok;
  const char* root;
  bool clean;
  const char* quarantine;
  int consumed;
};

TEST(WindowsRootOptions, TakesTheVolumeOptionsAndTheirValues) {
  const OptionsCase cases[] = {
      {"none", {"-r", "a"}, true, nullptr, false, nullptr, 0},
      {"root", {"--windows-root", "/mnt/c"}, true, "/mnt/c", false, nullptr, 2},
      {"root with =", {"--json", "--windows-root=/mnt/c"}, true, "/mnt/c", false, nullptr, 1},
      {"clean", {"--clean", "--windows-root", "/v", "--json", "--quarantine=/q"}, true, "/v", true, "/q", 4},
      {"root after --", {"--", "--windows-root", "/v"}, true, nullptr, false, nullptr, 0},
      {"root without value", {"--windows-root"}, false, nullptr, false, nullptr, 0},
      {"root before --", {"--windows-root", "--"}, false, nullptr, false, nullptr, 0},
      {"empty root", {"--windows-root="}, false, nullptr, false, nullptr, 0},
      {"root twice", {"--windows-root", "/a", "--windows-root", "/b"}, false, nullptr, false, nullptr, 0},
      {"clean alone", {"--windows-root", "/v", "--clean"}, false, nullptr, false, nullptr, 0},
      {"quarantine alone", {"--windows-root", "/v", "--quarantine", "/q"}, false, nullptr, false, nullptr, 0},
      {"clean without root", {"--clean", "--quarantine", "/q", "/v"}, false, nullptr, false, nullptr, 0},
      {"prefix is no option", {"--windows-rootx", "/v"}, true, nullptr, false, nullptr, 0},
  };
  for (const OptionsCase& c : cases) {
    std::vector<char*> argv = {const_cast<char*>("pestkill-scan")};
    for (const char* argument : c.arguments) argv.push_back(const_cast<char*>(argument));
    const std::vector<char*> given = argv;
    WindowsRootOptions options;
    int consumed = -1;
    testing::internal::CaptureStderr();
    const bool ok = TakeWindowsRootOptions(static_cast<int>(argv.size()), argv.data(), &options, &consumed);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, c.ok) << c.name;
    EXPECT_EQ(errors.empty(), c.ok) << c.name;
    if (!ok || !c.ok) continue;
    EXPECT_EQ(consumed, c.consumed) << c.name;
    EXPECT_STREQ(options.root, c.root) << c.name;
    EXPECT_EQ(options.clean, c.clean) << c.name;
    EXPECT_STREQ(options.quarantine, c.quarantine) << c.name;
    // Nothing is lost: the same arguments, the taken ones first.
    std::vector<std::string> before(given.begin(), given.end());
    std::vector<std::string> after(argv.begin(), argv.end());
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(before, after) << c.name;
  }
  // The others keep their order behind the taken ones.
  std::vector<char*> argv = {const_cast<char*>("p"), const_cast<char*>("-r"), const_cast<char*>("--windows-root"),
                             const_cast<char*>("/v"), const_cast<char*>("--json")};
  WindowsRootOptions options;
  int consumed = 0;
  ASSERT_TRUE(TakeWindowsRootOptions(5, argv.data(), &options, &consumed));
  EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.end()),
            (std::vector<std::string>{"p", "--windows-root", "/v", "-r", "--json"}));
}

TEST(WindowsRootSha256, GivesTheStandardDigests) {
  struct Case {
    std::string message;
    size_t chunk;  // fed in pieces of this size, across block boundaries
    const char* digest;
  } const cases[] = {
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), 4099, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(64, 'x'), 64, "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
  };
  for (const Case& c : cases) {
    Sha256 digest;
    for (size_t at = 0; at < c.message.size(); at += c.chunk)
      digest.Update(c.message.data() + at, std::min(c.chunk, c.message.size() - at));
    EXPECT_EQ(digest.HexDigest(), c.digest) << c.message.size();
  }
}

}  // namespace
