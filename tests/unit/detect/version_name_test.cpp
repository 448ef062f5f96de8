// The InternalName rules and the key search, on version blocks built in the test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "detect/version_name.h"
#include "tests/support/variant_images.h"

namespace {

// A version block with the key at keyOffset followed by the given UTF-16 units
// (no terminator is added: the units say where the value ends).
std::vector<uint8_t> BlockWithValue(int32_t keyOffset, const std::u16string& units) {
  std::vector<uint8_t> block(VersionBlockSize, 0);
  std::memcpy(block.data() + keyOffset, VersionKey, VersionKeySize);
  for (size_t i = 0; i < units.size(); ++i) {
    block[keyOffset + VersionKeySize + 2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
    block[keyOffset + VersionKeySize + 2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
  }
  return block;
}

struct NameCase {
  const char* name;
  std::u16string units;  // the value and whatever follows it in the block
  bool passesA;
  bool passesB;
};

TEST(InternalNameRules, JudgeTheLowByteOfEachUnit) {
  const std::u16string nul(1, u'\0');
  const NameCase cases[] = {
      {"eight letters", u"Fishbowl" + nul, true, false},
      {"eight letters, one a digit", u"Fish8owl" + nul, false, false},
      {"seven letters", u"Fishbow" + nul, false, false},
      {"nine letters", u"Fishbowls" + nul, false, false},
      {"a digit after the terminator", u"Fish" + nul + u"ow7" + nul, false, false},
      {"a terminator among the first seven units, letters up to the eighth",
       u"Fis" + nul + u"bowl" + nul, true, false},
      {"a unit whose low byte is a digit (U+0131)", u"Fishb\u0131wl" + nul, false, false},
      {"a unit whose low byte is zero (U+0100) as the ninth", u"Fishbowl\u0100", true, false},
      {"empty", nul, false, false},
      {"single digit 0", u"0" + nul, false, true},
      {"single digit 7", u"7" + nul, false, true},
      {"two digits", u"42" + nul, false, true},
      {"two digits 09", u"09" + nul, false, true},
      {"three digits", u"123" + nul, false, false},
      {"a letter", u"a" + nul, false, false},
      {"a digit and a letter", u"4a" + nul, false, false},
      {"a letter and a digit", u"a4" + nul, false, false},
      {"a digit whose unit is U+0134", u"\u0134" + nul, false, true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> block = BlockWithValue(0x40, c.units);
    ASSERT_EQ(FindVersionKey(block.data()), 0x40);
    EXPECT_EQ(PassesNameRuleA(block.data(), 0x40), c.passesA);
    EXPECT_EQ(PassesNameRuleB(block.data(), 0x40), c.passesB);
  }
}

TEST(VersionKey, IncludesItsTerminatingUnit) {
  std::vector<uint8_t> block(VersionBlockSize, 0);
  const std::vector<uint8_t> longer = testpe::Utf16Le(u"InternalNameX");
  std::copy(longer.begin(), longer.end(), block.begin() + 8);
  EXPECT_EQ(FindVersionKey(block.data()), -1);

  // The first full key counts, not a longer one before it.
  std::memcpy(block.data() + 100, VersionKey, VersionKeySize);
  EXPECT_EQ(FindVersionKey(block.data()), 100);
}

TEST(VersionKey, FoundAnywhereInTheBlockUpToItsEnd) {
  for (int32_t at : {0, 436, 437, 446, 447, static_cast<int32_t>(VersionBlockSize - VersionKeySize)}) {
    SCOPED_TRACE(at);
    std::vector<uint8_t> block(VersionBlockSize, 0);
    std::memcpy(block.data() + at, VersionKey, VersionKeySize);
    EXPECT_EQ(FindVersionKey(block.data()), at);
  }
}

}  // namespace
