// Single-byte corruption of each variant's matching image: every byte of the PE
// headers and of the Visual Basic records the signatures read, inverted (XOR 0xFF)
// and with its low bit toggled (XOR 0x01), one at a time. The judgement must end
// without a crash or a sanitizer report, close what it opened, and never turn a
// damaged copy of one variant into another variant; it either still recognises the
// original or reports nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "image/pe_records.h"
#include "platform/crt_io.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"

namespace {

using testpe::VbImage;
using testpe::VbRecord;

// The lowest free descriptor: a file the detector left open would hold it.
int NextFreeDescriptor(const std::string& probe) {
  const int fd = _open(probe.c_str(), _O_BINARY);
  if (fd != -1) (void)_close(fd);
  return fd;
}

// One temporary file holding the image, changed in place one byte at a time, so
// that a sweep of thousands of flips writes a single byte per step instead of a
// whole image. The stream stays open for writing; each change is flushed before
// the detector opens the file on its own descriptor.
class PatchableFile {
 public:
  explicit PatchableFile(const std::vector<uint8_t>& bytes)
      : file_(bytes), stream_(std::fopen(file_.Path().c_str(), "r+b")) {}
  ~PatchableFile() {
    if (stream_ != nullptr) (void)std::fclose(stream_);
  }
  PatchableFile(const PatchableFile&) = delete;
  PatchableFile& operator=(const PatchableFile&) = delete;

  bool IsOpen() const { return stream_ != nullptr; }
  const char* Path() const { return file_.Path().c_str(); }

  bool Put(uint32_t offset, uint8_t value) {
    return std::fseek(stream_, static_cast<long>(offset), SEEK_SET) == 0 && std::fputc(value, stream_) != EOF &&
           std::fflush(stream_) == 0;
  }

 private:
  testpe::TempFile file_;
  std::FILE* stream_;
};

// Every byte of the headers and of the records the signatures read, keyed by file
// offset and named by the structure it belongs to. The header extents come from
// the image's own bytes (e_lfanew, NumberOfSections, SizeOfOptionalHeader), so the
// sweep covers what a reader of this file would take for its headers.
std::map<uint32_t, std::string> SweptBytes(const VbImage& image, const std::vector<uint8_t>& bytes) {
  std::map<uint32_t, std::string> swept;
  auto add = [&](const char* name, uint32_t offset, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
      if (offset + i < bytes.size()) (void)swept.emplace(offset + i, name);  // the first name wins
    }
  };
  const uint32_t peHeader = LoadU32Le(bytes.data(), 0x3C);
  const uint32_t fileHeader = peHeader + 4;
  const uint32_t optionalHeader = fileHeader + sizeof(IMAGE_FILE_HEADER);
  const uint32_t optionalSize = LoadU16Le(bytes.data(), fileHeader + 16);
  const uint32_t sectionCount = LoadU16Le(bytes.data(), fileHeader + 2);
  add("DOS header", 0, 64);
  add("PE signature", peHeader, 4);
  add("file header", fileHeader, sizeof(IMAGE_FILE_HEADER));
  add("optional header", optionalHeader, optionalSize);
  add("section table", optionalHeader + optionalSize, sectionCount * sizeof(IMAGE_SECTION_HEADER));
  add("VbHeader", image.FileOffsetOf(VbRecord::Header), 104);
  add("VbProjectInfo", image.FileOffsetOf(VbRecord::ProjectInfo), 572);
  add("COM registration data", image.FileOffsetOf(VbRecord::ComRegData), 42);
  add("entry code", image.FileOffsetOf(VbRecord::EntryCode), 16);
  return swept;
}

const char* VariantName(Variant variant) {
  switch (variant) {
    case Variant::None: return "none";
    case Variant::A: return "A";
    case Variant::B: return "B";
    case Variant::C: return "C";
    case Variant::D: return "D";
  }
  return "?";
}

class BitFlipSweep : public ::testing::TestWithParam<char> {};

TEST_P(BitFlipSweep, DamagedImageMatchesItsOwnVariantOrNothing) {
  const char letter = GetParam();
  const VbImage image = testpe::VariantImage(letter);
  const std::vector<uint8_t> bytes = image.Bytes();
  const Variant original = static_cast<Variant>(letter - 'A' + 1);
  const std::map<uint32_t, std::string> swept = SweptBytes(image, bytes);

  PatchableFile file(bytes);
  ASSERT_TRUE(file.IsOpen());
  ASSERT_EQ(JudgeImageFile(file.Path()), original) << "the undamaged image";
  const int freeBefore = NextFreeDescriptor(file.Path());
  ASSERT_NE(freeBefore, -1);

  std::map<std::string, int> flips;    // per structure
  std::map<std::string, int> cleared;  // of those, judged clean
  int total = 0;
  int totalCleared = 0;
  for (const auto& [offset, structure] : swept) {
    for (uint8_t mask : {uint8_t{0xFF}, uint8_t{0x01}}) {
      char where[96];
      (void)std::snprintf(where, sizeof where, "%s, file offset 0x%X, byte 0x%02X ^ 0x%02X", structure.c_str(),
                          offset, bytes[offset], mask);
      SCOPED_TRACE(where);
      ASSERT_TRUE(file.Put(offset, static_cast<uint8_t>(bytes[offset] ^ mask)));

      const Variant found = JudgeImageFile(file.Path());
      EXPECT_TRUE(found == original || found == Variant::None) << "judged variant " << VariantName(found);
      EXPECT_EQ(NextFreeDescriptor(file.Path()), freeBefore) << "a descriptor was left open";

      ++flips[structure];
      ++total;
      if (found == Variant::None) {
        ++cleared[structure];
        ++totalCleared;
      }
    }
    ASSERT_TRUE(file.Put(offset, bytes[offset]));
  }
  EXPECT_EQ(JudgeImageFile(file.Path()), original) << "the image after every byte was put back";

  // The sweep reaches the checks: every structure holds a byte whose damage clears
  // the verdict, and such flips are common, not a handful of lucky bytes. The PE
  // signature is the exception: the readers skip it and take e_lfanew on trust.
  std::string summary;
  for (const auto& [structure, count] : flips) {
    summary += "\n  " + structure + ": " + std::to_string(cleared[structure]) + " of " + std::to_string(count);
  }
  for (const auto& [structure, count] : flips) {
    if (structure != "PE signature") {
      EXPECT_GT(cleared[structure], 0) << structure << ": no flip changed the verdict; judged clean per structure:"
                                       << summary;
    }
  }
  EXPECT_GE(totalCleared * 20, total) << totalCleared << " of " << total
                                      << " flips judged clean; per structure:" << summary;
}

INSTANTIATE_TEST_SUITE_P(EachVariant, BitFlipSweep, ::testing::Values('A', 'B', 'C', 'D'),
                         [](const ::testing::TestParamInfo<char>& info) { return std::string(1, info.param); });

}  // namespace
