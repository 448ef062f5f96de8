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
#include "tests/support/read_orders.h"
#include "tests/support/temp_file.h"

namespace {

constexpr long FileSize = testpe::ReadOrderFileSize;

uint8_t ByteAt(long offset) { return testpe::PatternByteAt(offset); }

std::vector<uint8_t> Pattern(long size) { return testpe::PatternBytes(size); }

TEST(CrtIo, ReadsGiveTheFileBytesInAnyOrder) {
  testpe::TempFile file(Pattern(FileSize));
  for (const testpe::ReadOrderCase& c : testpe::ReadOrderCases()) {
    testpe::OpenFd fd = file.Open();
    ASSERT_NE(fd.get(), -1);
    testpe::ExpectReadOrder(
        fd, c, [](int d, long at) { return _lseek(d, at, SEEK_SET); },
        [](int d, void* buffer, unsigned count) { return static_cast<long>(_read(d, buffer, count)); },
        [](int d) { return _tell(d); });
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
