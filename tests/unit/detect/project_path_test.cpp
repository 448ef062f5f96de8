// The project path counts, on paths written in the test.
#include <gtest/gtest.h>

#include <cstring>

#include "detect/file_windows.h"
#include "detect/project_path.h"

namespace {

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

}  // namespace
