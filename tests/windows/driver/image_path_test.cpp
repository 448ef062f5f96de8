// Which module paths name their file in the code page, and which hold question marks
// in place of characters the code page could not spell.
#include "driver/image_path.h"

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

}  // namespace
