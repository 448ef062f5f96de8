// The signature steps that are more than a field compared with a range, on
// buffers built in the test: the InternalName rules, the project path counts, the
// stub pattern search and the record and jump counts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "detect/signature_steps.h"
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

struct PathCase {
  const char* path;
  uint32_t backslashes;
  uint32_t digits;
};

TEST(ProjectPathMarks, CountsBackslashesAndDigitsUpToTheFirstNul) {
  const PathCase cases[] = {
      {"C:\\Proj12\\app.vbp", 2, 2},
      {"C:\\Proj\\app.vbp", 2, 0},
      {"C:\\app1.vbp", 1, 1},
      {"C:\\a\\b\\c9.vbp", 3, 1},
      {"", 0, 0},
      {"0123456789\\\\", 2, 10},
      {"/unix/style/2", 0, 1},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.path);
    char buffer[WorkBufferSize] = {};
    std::strcpy(buffer, c.path);
    const PathMarks marks = CountPathMarks(buffer, sizeof buffer);
    EXPECT_EQ(marks.backslashes, c.backslashes);
    EXPECT_EQ(marks.digits, c.digits);
  }
}

TEST(ProjectPathMarks, StopAtTheNulAndAtTheBufferEnd) {
  char buffer[WorkBufferSize];
  std::memset(buffer, '\\', sizeof buffer);
  buffer[2] = 0;
  buffer[3] = '5';
  PathMarks marks = CountPathMarks(buffer, sizeof buffer);
  EXPECT_EQ(marks.backslashes, 2u);
  EXPECT_EQ(marks.digits, 0u);

  // No NUL at all: the count ends with the buffer, not past it.
  std::memset(buffer, '7', sizeof buffer);
  marks = CountPathMarks(buffer, sizeof buffer);
  EXPECT_EQ(marks.digits, WorkBufferSize);
}

TEST(StubPattern, FoundAtEveryPositionOfTheWindowOnly) {
  const std::vector<uint8_t> pattern = testpe::StubPattern();
  for (uint32_t at = 0; at <= StubWindowSize - pattern.size(); ++at) {
    SCOPED_TRACE(at);
    uint8_t window[WorkBufferSize] = {};
    std::copy(pattern.begin(), pattern.end(), window + at);
    EXPECT_TRUE(HasStubPattern(window));
  }
  // Starting at 65 the pattern runs past the 80 bytes searched, even though the
  // work buffer around them is larger.
  uint8_t window[WorkBufferSize] = {};
  std::copy(pattern.begin(), pattern.end(), window + 65);
  EXPECT_FALSE(HasStubPattern(window));

  uint8_t damaged[WorkBufferSize] = {};
  std::copy(pattern.begin(), pattern.end(), damaged + 10);
  damaged[10 + 15] ^= 1;
  EXPECT_FALSE(HasStubPattern(damaged));
}

std::vector<uint8_t> Window(uint32_t at, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> window(WorkBufferSize, 0);
  for (size_t i = 0; i < bytes.size() && at + i < window.size(); ++i) window[at + i] = bytes[i];
  return window;
}

struct CountCase {
  const char* name;
  std::vector<uint8_t> window;
  uint32_t count;
};

TEST(RecordCount, MovesThirteenBytesAfterEachHit) {
  std::vector<uint8_t> wrongByte = testpe::TemplateRecords(8, 13);
  wrongByte[13 * 3 + 6] = 0x2B;  // the fourth record differs outside its free byte
  const CountCase cases[] = {
      {"sixteen records every 12 bytes count every other one", Window(0, testpe::TemplateRecords(16, 12)), 8},
      {"eight records every 12 bytes count four", Window(0, testpe::TemplateRecords(8, 12)), 4},
      {"eight records every 13 bytes all count", Window(0, testpe::TemplateRecords(8, 13)), 8},
      {"the count stops at nine", Window(0, testpe::TemplateRecords(30, 13)), 9},
      {"the free byte takes any value", Window(100, testpe::TemplateRecords(8, 14)), 8},
      {"a record that differs elsewhere is not counted", Window(0, wrongByte), 7},
      {"a record at the last tested position 516", Window(516, testpe::TemplateRecords(1, 11)), 1},
      {"a record at 517, past the last tested position", Window(517, testpe::TemplateRecords(1, 11)), 0},
      {"an empty window", std::vector<uint8_t>(WorkBufferSize, 0), 0},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CountRecords(c.window.data()), c.count);
  }
}

TEST(JumpCount, CountsThunksPackedBackToBack) {
  std::vector<uint8_t> wrongPage = testpe::JumpThunks(21);
  wrongPage[6 * 5 + 3] = 0x11;  // the sixth thunk jumps through 0x4011xx
  std::vector<uint8_t> freeByte = testpe::JumpThunks(21);
  freeByte[6 * 2 + 2] = 0xEE;  // byte 2 takes any value
  const CountCase cases[] = {
      {"21 thunks", Window(0, testpe::JumpThunks(21)), 21},
      {"20 thunks", Window(0, testpe::JumpThunks(20)), 20},
      {"a thunk whose byte 3 is not 0x10 is not counted", Window(0, wrongPage), 20},
      {"byte 2 is free", Window(0, freeByte), 21},
      {"the count stops at 32", Window(0, testpe::JumpThunks(60)), 32},
      {"a thunk at the last tested position 521", Window(521, testpe::JumpThunks(1)), 1},
      {"a thunk at 522, past the last tested position", Window(522, testpe::JumpThunks(1)), 0},
      {"an empty window", std::vector<uint8_t>(WorkBufferSize, 0), 0},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CountJumps(c.window.data()), c.count);
  }
}

}  // namespace
