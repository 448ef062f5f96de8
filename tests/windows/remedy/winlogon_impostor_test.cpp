// The impostor rule with real paths, the prefix's system directory and its real Run
// keys. Every path and Run value made here lies under C:\PKH3I or a pkh3 name.
#include "detect/winlogon_impostor.h"

#include <gtest/gtest.h>

#include <string>

#include "registry_scratch.h"

namespace {

struct ImpostorCase {
  const char* name;
  std::string path;            // as the module list would give it
  const RegistryKey* runKey;   // where a value starts the file; null for nowhere
  std::string runData;         // the command line of that value
  bool impostor;
};

void CheckCases(const ImpostorCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const ImpostorCase& c = cases[i];
    SCOPED_TRACE(c.name);
    if (c.runKey == nullptr) {
      EXPECT_EQ(c.impostor, IsWinlogonImpostor(c.path.c_str()));
      continue;
    }
    ScratchValue value(*c.runKey, "pkh3-impostor", c.runData);
    EXPECT_EQ(c.impostor, IsWinlogonImpostor(c.path.c_str()));
    EXPECT_EQ(c.runData, ReadString(*c.runKey, "pkh3-impostor")) << "the rule changed the registry";
  }
}

TEST(IsWinlogonImpostor, JudgesPathAndRunKeys) {
  const std::string system = SystemDirectory();
  ASSERT_FALSE(system.empty());
  const std::string inSystem = system + "\\winlogon.exe";
  const ImpostorCase cases[] = {
      {"the system's own, with the NT prefix", "\\??\\" + inSystem, &UserRun, inSystem, false},
      {"the system's own, other letter case", UpperCase(inSystem), &MachineRun, inSystem, false},
      {"the system's own, no prefix", inSystem, &UserRun, "\"" + inSystem + "\" -x", false},
      {"elsewhere, from the current user's Run", "C:\\PKH3I\\winlogon.exe", &UserRun,
       "C:\\PKH3I\\winlogon.exe", true},
      {"elsewhere, from the machine's Run", "C:\\PKH3I\\winlogon.exe", &MachineRun,
       "\"C:\\PKH3I\\WinLogon.exe\" /auto", true},
      {"elsewhere, with the NT prefix", "\\??\\C:\\PKH3I\\winlogon.exe", &MachineRun,
       "C:\\PKH3I\\winlogon.exe", true},
      {"elsewhere, from nowhere", "C:\\PKH3I\\winlogon.exe", nullptr, "", false},
      {"elsewhere, from a value naming another file", "C:\\PKH3I\\winlogon.exe", &UserRun,
       "C:\\PKH3I\\winlogon.exe.bak", false},
      {"elsewhere, from the machine's RunOnce only", "C:\\PKH3I\\winlogon.exe", &MachineRunOnce,
       "C:\\PKH3I\\winlogon.exe", false},
      {"elsewhere, from the machine's RunServices only", "C:\\PKH3I\\winlogon.exe",
       &MachineRunServices, "C:\\PKH3I\\winlogon.exe", false},
      {"elsewhere, from the user's RunOnce only", "C:\\PKH3I\\winlogon.exe", &UserRunOnce,
       "C:\\PKH3I\\winlogon.exe", false},
      {"elsewhere, from the default user's Run only", "C:\\PKH3I\\winlogon.exe", &DefaultUserRun,
       "C:\\PKH3I\\winlogon.exe", false},
      {"no extension", "C:\\PKH3I\\WINLOGON", &MachineRun, "C:\\PKH3I\\WINLOGON", true},
      {"several extensions", "C:\\PKH3I\\winlogon.tmp.exe", &UserRun,
       "C:\\PKH3I\\winlogon.tmp.exe", true},
      {"a longer name", "C:\\PKH3I\\winlogon32.exe", &UserRun, "C:\\PKH3I\\winlogon32.exe", false},
      {"a shorter name", "C:\\PKH3I\\winlogo.exe", &UserRun, "C:\\PKH3I\\winlogo.exe", false},
      {"a subdirectory of the system directory", system + "\\pkh3sub\\winlogon.exe", &UserRun,
       system + "\\pkh3sub\\winlogon.exe", true},
      {"the parent of the system directory", system.substr(0, system.rfind('\\')) + "\\winlogon.exe",
       &MachineRun, system.substr(0, system.rfind('\\')) + "\\winlogon.exe", true},
      {"no backslash", "winlogon.exe", &UserRun, "winlogon.exe", false},
      {"forward slashes only", "C:/PKH3I/winlogon.exe", &UserRun, "C:/PKH3I/winlogon.exe", false},
      {"empty path", "", &UserRun, "", false},
  };
  CheckCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(IsWinlogonImpostor, NullPathIsNoImpostor) { EXPECT_FALSE(IsWinlogonImpostor(nullptr)); }

// A module list may give an 8.3 path; the rule judges the file by its long name.
TEST(IsWinlogonImpostor, JudgesTheLongFormOfAShortPath) {
  ScratchFile file("C:\\PKH3I Long Folder", "Winlogon.Service.exe");
  ASSERT_TRUE(file.Created());
  const std::string shortPath = ShortPathOf(file.Path());
  ASSERT_FALSE(shortPath.empty());
  ASSERT_EQ(std::string::npos, UpperCase(shortPath).find("WINLOGON.")) << shortPath;

  const ImpostorCase cases[] = {
      {"short path, Run value with the long path", shortPath, &UserRun, file.Path(), true},
      {"short path with the NT prefix", "\\??\\" + shortPath, &MachineRun,
       "\"" + file.Path() + "\" -s", true},
      // The Run value names the same file in its short form.
      {"short path, Run value with the short path", shortPath, &UserRun, shortPath, true},
      {"long path", file.Path(), &UserRun, file.Path(), true},
  };
  CheckCases(cases, sizeof(cases) / sizeof(cases[0]));
}

}  // namespace
