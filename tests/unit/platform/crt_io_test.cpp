// The runtime's low-level file calls as the readers use them: every result and every
// byte read must be what a plain seek-and-read file gives, whatever the order and size
// of the requests. The same table runs against the Linux stand-in and, under Wine,
// against the real runtime, so the two are held to the same behaviour.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/crt_io.h"
#include "tests/support/temp_file.h"

namespace {

constexpr long FileSize = 10000;

uint8_t ByteAt(long offset) { return static_cast<uint8_t>(offset * 7 + (offset >> 8)); }

std::vector<uint8_t> Pattern(long size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  for (long i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = ByteAt(i);
  return bytes;
}

struct Step {
  long seekTo;  // -1: read at the current position
  unsigned count;
};

struct SequenceCase {
  const char* name;
  std::vector<Step> steps;
};

// Reads each step at its position and checks the seek's result, the count and the
// bytes against the pattern, and the position afterwards.
void ExpectSequence(int fd, const SequenceCase& c) {
  long position = 0;
  for (size_t i = 0; i < c.steps.size(); ++i) {
    SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(i));
    const Step& step = c.steps[i];
    if (step.seekTo >= 0) {
      ASSERT_EQ(_lseek(fd, step.seekTo, SEEK_SET), step.seekTo);
      position = step.seekTo;
    }
    std::vector<uint8_t> buffer(step.count + 1, 0xEE);
    const long expected = position >= FileSize ? 0 : std::min<long>(step.count, FileSize - position);
    ASSERT_EQ(_read(fd, buffer.data(), step.count), expected);
    for (long k = 0; k < expected; ++k) ASSERT_EQ(buffer[static_cast<size_t>(k)], ByteAt(position + k)) << "byte " << k;
    EXPECT_EQ(buffer[static_cast<size_t>(expected)], 0xEE) << "wrote past the count read";
    position += expected;
    ASSERT_EQ(_tell(fd), position);
  }
}

std::vector<Step> BackwardSectionWalk() {
  std::vector<Step> steps;
  for (long at = 9960; at >= 0; at -= 40) steps.push_back({at, 40});
  return steps;
}

std::vector<Step> ForwardSmallReads() {
  std::vector<Step> steps{{0, 0}};
  for (int i = 0; i < 700; ++i) steps.push_back({-1, 15});  // on past the end of the file
  return steps;
}

// Six places far apart, visited in turn three times, each read a little further on.
std::vector<Step> CyclingReads() {
  std::vector<Step> steps;
  for (long round = 0; round < 3; ++round)
    for (long place : {9500L, 100L, 4100L, 8000L, 2000L, 6200L}) steps.push_back({place + round * 50, 30});
  return steps;
}

TEST(CrtIo, ReadsGiveTheFileBytesInAnyOrder) {
  const std::vector<SequenceCase> cases = {
      {"header reads with the position put back", {{0, 64}, {0, 0}, {152, 96}, {0, 0}, {132, 20}, {0, 0}}},
      {"section table walked backwards, 40 bytes at a time", BackwardSectionWalk()},
      {"read across the 4 KiB boundary", {{4090, 20}, {-1, 20}, {8180, 30}}},
      {"entry code read of 1 KiB and larger windows", {{3500, 1024}, {100, 3000}, {-1, 2100}, {9000, 2048}}},
      {"reads that run into and beyond the end", {{9990, 20}, {-1, 20}, {20000, 16}, {FileSize, 1}}},
      {"consecutive small reads through every block", ForwardSmallReads()},
      {"back and forth between distant blocks", {{9000, 40}, {10, 40}, {9040, 40}, {50, 40}, {4096, 4}, {4095, 2}}},
      {"round after round over more places than are kept", CyclingReads()},
  };
  testpe::TempFile file(Pattern(FileSize));
  for (const SequenceCase& c : cases) {
    testpe::OpenFd fd = file.Open();
    ASSERT_NE(fd.get(), -1);
    ExpectSequence(fd, c);
  }
}

TEST(CrtIo, FailedSeekKeepsThePosition) {
  testpe::TempFile file(Pattern(FileSize));
  testpe::OpenFd fd = file.Open();
  ASSERT_EQ(_lseek(fd, 1234, SEEK_SET), 1234);
  EXPECT_EQ(_lseek(fd, -1, SEEK_SET), -1);
  EXPECT_EQ(_lseek(fd, -2000, SEEK_CUR), -1);
  EXPECT_EQ(_tell(fd), 1234);
  uint8_t byte = 0;
  ASSERT_EQ(_read(fd, &byte, 1), 1);
  EXPECT_EQ(byte, ByteAt(1234));
  EXPECT_EQ(_lseek(fd, 10, SEEK_CUR), 1245);
  EXPECT_EQ(_lseek(fd, -100, SEEK_END), FileSize - 100);
  EXPECT_EQ(_filelength(fd), FileSize);
}

TEST(CrtIo, DescriptorsOfOneFileKeepTheirOwnPositions) {
  testpe::TempFile file(Pattern(FileSize));
  testpe::OpenFd first = file.Open();
  testpe::OpenFd second = file.Open();
  ASSERT_EQ(_lseek(first, 100, SEEK_SET), 100);
  ASSERT_EQ(_lseek(second, 7000, SEEK_SET), 7000);
  uint8_t a = 0, b = 0;
  ASSERT_EQ(_read(first, &a, 1), 1);
  ASSERT_EQ(_read(second, &b, 1), 1);
  EXPECT_EQ(a, ByteAt(100));
  EXPECT_EQ(b, ByteAt(7000));
  EXPECT_EQ(_tell(first), 101);
  EXPECT_EQ(_tell(second), 7001);
}

// A descriptor reused for another file after _close reads that file, not what was
// read through the same number before.
TEST(CrtIo, ReusedDescriptorReadsTheNewFile) {
  testpe::TempFile one(Pattern(FileSize));
  testpe::TempFile other(std::vector<uint8_t>(FileSize, 0x5A));
  int number = -1;
  {
    testpe::OpenFd fd = one.Open();
    number = fd;
    uint8_t byte = 0;
    ASSERT_EQ(_read(fd, &byte, 1), 1);
  }
  testpe::OpenFd fd = other.Open();
  ASSERT_EQ(fd.get(), number);
  uint8_t byte = 0;
  ASSERT_EQ(_read(fd, &byte, 1), 1);
  EXPECT_EQ(byte, 0x5A);
  EXPECT_EQ(_tell(fd), 1);
}

// Bytes appended after a read that met the end of the file are read afterwards.
TEST(CrtIo, ReadsWhatWasAppendedAfterTheEnd) {
  testpe::TempFile file(Pattern(100));
  testpe::OpenFd fd = file.Open();
  uint8_t buffer[64];
  ASSERT_EQ(_lseek(fd, 90, SEEK_SET), 90);
  ASSERT_EQ(_read(fd, buffer, 20), 10);
  std::FILE* append = std::fopen(file.Path().c_str(), "ab");
  ASSERT_NE(append, nullptr);
  const uint8_t more[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(std::fwrite(more, 1, sizeof more, append), sizeof more);
  ASSERT_EQ(std::fclose(append), 0);
  ASSERT_EQ(_read(fd, buffer, 20), 8);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[7], 8);
  EXPECT_EQ(_filelength(fd), 108);
}

}  // namespace
