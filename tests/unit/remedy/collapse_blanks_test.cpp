#include "remedy/collapse_blanks.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct CollapseCase {
  const char* name;
  const char* source;
  const char* expected;
};

const CollapseCase CollapseCases[] = {
    {"empty", "", ""},
    {"only blanks", " \t  \t", ""},
    {"nothing to do", "C:\\X\\A.EXE", "C:\\X\\A.EXE"},
    {"leading spaces", "   C:\\X\\A.EXE", "C:\\X\\A.EXE"},
    {"trailing spaces", "C:\\X\\A.EXE   ", "C:\\X\\A.EXE"},
    {"leading and trailing tabs", "\t\tC:\\X\\A.EXE\t", "C:\\X\\A.EXE"},
    {"run of spaces inside", "C:\\X\\A.EXE   /S", "C:\\X\\A.EXE /S"},
    {"run keeps its first blank, a tab", "A\t  B", "A\tB"},
    {"run keeps its first blank, a space", "A \t\tB", "A B"},
    {"single blanks untouched", "A B\tC", "A B\tC"},
    {"several runs", "  A  B\t\tC  ", "A B\tC"},
    {"quotes already turned to spaces", " C:\\X\\A.EXE  /S", "C:\\X\\A.EXE /S"},
    {"other whitespace is not a blank", "\nA\r", "\nA\r"},
    {"one character", " x ", "x"},
};

TEST(CollapseBlanks, ShrinksRunsAndTrimsEnds) {
  for (const CollapseCase& c : CollapseCases) {
    SCOPED_TRACE(c.name);
    char destination[64];
    std::memset(destination, 'Z', sizeof(destination));
    CollapseBlanks(c.source, destination);
    EXPECT_STREQ(c.expected, destination);
  }
}

TEST(CollapseBlanks, WritesNothingBeyondTheSourceLength) {
  // The destination only needs the source's length plus one byte.
  const char source[] = "  A   B  ";
  char destination[sizeof(source) + 1];
  std::memset(destination, 'Z', sizeof(destination));
  CollapseBlanks(source, destination);
  EXPECT_STREQ("A B", destination);
  EXPECT_EQ('Z', destination[sizeof(source)]);
}

TEST(CollapseBlanks, NullPointersDoNothing) {
  char destination[4] = "abc";
  CollapseBlanks(nullptr, destination);
  EXPECT_STREQ("abc", destination);
  CollapseBlanks("x", nullptr);
}

}  // namespace
