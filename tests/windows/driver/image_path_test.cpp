// Which module paths name their file in the code page, and which hold question marks
// in place of characters the code page could not spell.
#include "driver/image_path.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(HoldsSubstitutedCharacter, QuestionMarksOutsideThePrefixes) {
  const struct {
    const char* path;
    bool substituted;
  } cases[] = {
      {"C:\\pk\\Tool.exe", false},
      {"C:\\Caf\xE9\\Tool.exe", false},
      {"C:\\?????\\Tool.exe", true},
      {"C:\\pk\\T?ol.exe", true},
      {"?", true},
      {"", false},
      // The NT and the Win32 long-path forms start with question marks of their own.
      {"\\??\\C:\\WINDOWS\\system32\\winlogon.exe", false},
      {"\\\\?\\C:\\pk\\Tool.exe", false},
      {"\\??\\C:\\???\\Tool.exe", true},
      {"\\\\?\\C:\\???\\Tool.exe", true},
      // Only a leading prefix is one.
      {"C:\\pk\\??\\Tool.exe", true},
      {"\\?\\C:\\Tool.exe", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.substituted, HoldsSubstitutedCharacter(c.path));
  }
  EXPECT_FALSE(HoldsSubstitutedCharacter(nullptr));
}

// The two paths of one module: the code page spells the 8-bit one when it reads back
// as the wide one, unit for unit.
TEST(CodePageSpells, ReadsThe8BitPathBackFromTheCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252, not " << GetACP();
  const struct {
    const char* name;
    const char* path;
    const wchar_t* widePath;
    bool spelt;
  } cases[] = {
      {"ASCII", "C:\\pk\\Tool.exe", L"C:\\pk\\Tool.exe", true},
      {"Latin-1 letter", "C:\\Caf\xE9\\Tool.exe", L"C:\\Caf\u00E9\\Tool.exe", true},
      {"question marks for Cyrillic letters", "C:\\?????\\Tool.exe",
       L"C:\\\u041F\u0440\u043E\u0433\u0430\\Tool.exe", false},
      {"look-alike letters for Polish ones", "C:\\L\xF3" "dz\\Tool.exe", L"C:\\\u0141\u00F3d\u017A\\Tool.exe",
       false},
      {"another file altogether", "C:\\pk\\Tool.exe", L"C:\\pk\\Tool2.exe", false},
      {"case counts: the two paths are of one module", "C:\\pk\\tool.exe", L"C:\\pk\\Tool.exe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.spelt, CodePageSpells(c.path, c.widePath));
  }
}

}  // namespace
