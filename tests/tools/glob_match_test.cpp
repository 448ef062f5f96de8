// The --exclude patterns.
#include <gtest/gtest.h>

#include "tools/pestkill-scan/judgement/glob_match.h"

namespace {

struct GlobCase {
  const char* pattern;
  const char* text;
  bool matches;
};

TEST(MatchesGlob, ShellWildcardsOverBytes) {
  const GlobCase cases[] = {
      {"*.log", "setup.log", true},
      {"*.log", "setup.log.exe", false},
      {"*.log", ".log", true},
      {"*", "", true},
      {"?", "", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a*b*c", "a--b--b--c", true},
      {"a*b*c", "a--b--b--", false},
      {"*/cache/*", "/mnt/evidence/Users/x/cache/f.bin", true},
      {"*/cache/*", "/mnt/evidence/cachexyz/f.bin", false},
      {"/mnt/*.exe", "/mnt/deep/down/a.exe", true},  // '*' crosses separators
      {"[abc].exe", "b.exe", true},
      {"[abc].exe", "d.exe", false},
      {"[a-c]x", "bx", true},
      {"[!a-c]x", "bx", false},
      {"[^a-c]x", "dx", true},
      {"[]]", "]", true},
      {"[!]]", "a", true},
      {"[a-]", "-", true},
      {"[abc", "[abc", true},  // not closed: literal
      {"\\*", "*", true},
      {"\\*", "a", false},
      {"\xe9*", "\xe9t\xe9", true},  // any byte, not only ASCII
      {"pagefile.sys", "PAGEFILE.SYS", false},
  };
  for (const GlobCase& c : cases) {
    EXPECT_EQ(MatchesGlob(c.pattern, c.text), c.matches) << "'" << c.pattern << "' on '" << c.text << "'";
  }
}

}  // namespace
