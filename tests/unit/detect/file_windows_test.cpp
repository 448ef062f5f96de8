// The stub pattern search and the record and jump counts, on windows built in the
// test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "detect/file_windows.h"
#include "tests/support/variant_images.h"

namespace {

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
