// Files of 2 GiB and more: an image padded past the 32-bit file length is still
// judged. Its length is held at the largest 32-bit signed value, so the offset
// tests of a variant without a size row still work, while a size row that names a
// range fails (and is not passed by a length cut to its low 32 bits).
// The padding is a hole (the file is extended without writing), so the test costs
// no disk space where the file system keeps holes, as on Linux and under Wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int64_t GiB = int64_t{1} << 30;

// Sets the file's length without writing the bytes in between.
bool ExtendFile(const std::string& path, int64_t length) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = length;
  const bool done = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(file) != 0;
  (void)CloseHandle(file);
  return done;
#else
  return truncate(path.c_str(), static_cast<off_t>(length)) == 0;
#endif
}

struct LargeFileCase {
  const char* name;
  char variant;
  int64_t length;
  bool plusOwnLength;  // the image's own length is added to length
};

// The image of the case's variant, extended to the case's length; null when the
// file system cannot hold it.
std::unique_ptr<testpe::TempFile> WriteLongImage(const LargeFileCase& c) {
  const std::vector<uint8_t> image = testpe::VariantImage(c.variant).Bytes();
  auto file = std::make_unique<testpe::TempFile>(image);
  const int64_t length = c.length + (c.plusOwnLength ? static_cast<int64_t>(image.size()) : 0);
  if (!ExtendFile(file->Path(), length)) return nullptr;
  return file;
}

// B and C accept narrow sizes. Taken at 32 bits these lengths would be -1 (every
// offset test fails) or the image's own length (the size row passes).
TEST(LargeFile, SizeRowsSeeTheLengthHeldAtTheLargest32BitValue) {
  const LargeFileCase cases[] = {
      {"B at 2 GiB exactly", 'B', 2 * GiB, false},
      {"B at 2.2 GB", 'B', 2200000000, false},
      {"B past 4 GiB (its own length when cut to 32 bits)", 'B', 4 * GiB, true},
      {"C past 4 GiB (its own length when cut to 32 bits)", 'C', 4 * GiB, true},
  };
  for (const LargeFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<testpe::TempFile> file = WriteLongImage(c);
    if (file == nullptr) GTEST_SKIP() << "the file system cannot hold a file this long";
    ScanTrace trace;
    EXPECT_EQ(JudgeImageFile(file->Path().c_str(), nullptr, &trace), Variant::None);
    EXPECT_EQ(trace.stop, ScanStop::Checked) << "a long file is judged, not passed over";
    const CheckTrace& own = trace.variants[c.variant - 'A'];
    ASSERT_NE(own.failedTest, nullptr);
    EXPECT_STREQ(own.failedTest, "file size");
    EXPECT_TRUE(own.hasFound);
    EXPECT_EQ(own.found, 0x7FFFFFFFu);
  }
}

// A and D have no size row and read their records near the start of the file, so
// a long file of theirs matches: the Visual Basic header reader bounds the program
// header by the same held length.
TEST(LargeFile, VariantsWithoutASizeRowStillMatch) {
  const LargeFileCase cases[] = {
      {"A at 2 GiB exactly", 'A', 2 * GiB, false},
      {"A at 2.2 GB", 'A', 2200000000, false},
      {"A just under 4 GiB (-0x10000 when cut to 32 bits)", 'A', 4 * GiB - 0x10000, false},
      {"A past 4 GiB (its own length when cut to 32 bits)", 'A', 4 * GiB, true},
      {"D at 2.2 GB", 'D', 2200000000, false},
  };
  for (const LargeFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<testpe::TempFile> file = WriteLongImage(c);
    if (file == nullptr) GTEST_SKIP() << "the file system cannot hold a file this long";
    ScanTrace trace;
    EXPECT_EQ(JudgeImageFile(file->Path().c_str(), nullptr, &trace), static_cast<Variant>(c.variant - 'A' + 1));
    EXPECT_TRUE(ScanImageFile(file->Path().c_str()));
  }
}

}  // namespace
